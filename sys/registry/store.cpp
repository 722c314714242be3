#include "registry/store.h"

#include <ctime>
#include <sys/stat.h>
#include <utility>

namespace corvane::reg {
namespace {

std::filesystem::path asideName(const std::filesystem::path& file) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::filesystem::path base = file;
    base += std::string(".corrupt-") + stamp;
    std::filesystem::path candidate = base;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(candidate, ec); ++n) {
        candidate = base;
        candidate += "-" + std::to_string(n);
    }
    return candidate;
}

mode_t modeOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0)
        return st.st_mode & 07777;
    return 0644;
}

} // namespace

Store::Store(std::filesystem::path file) : file_(std::move(file)) {
    lockFile_ = file_;
    lockFile_ += ".lock";
}

Data Store::parseOrSetAside(const std::string& text) {
    ParseError error;
    if (auto data = parse(text, &error))
        return std::move(*data);
    const std::filesystem::path aside = asideName(file_);
    std::error_code ec;
    std::filesystem::rename(file_, aside, ec);
    if (ec) {
        // Keeping the content matters more than going on: refuse to write over it.
        throw StoreError("Cannot set aside the unreadable store " + file_.string() + ": " +
                         ec.message());
    }
    events_.push_back({file_, aside, "line " + std::to_string(error.line) + ": " + error.message});
    return {};
}

Data Store::snapshot() {
    const auto text = readWholeFile(file_);
    if (!text)
        return {};
    if (auto data = parse(*text))
        return std::move(*data);
    // Look again under the lock: the file may have been replaced, or set aside by another
    // process, since we read it.
    FileLock lock(lockFile_);
    const auto again = readWholeFile(file_);
    return again ? parseOrSetAside(*again) : Data{};
}

void Store::update(const std::function<void(Data&)>& change) {
    FileLock lock(lockFile_);
    const auto text = readWholeFile(file_);
    Data data = text ? parseOrSetAside(*text) : Data{};
    change(data);
    writeFileAtomically(file_, serialize(data), modeOf(file_));
}

std::optional<Key> Store::open(std::string_view path, bool create) {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return std::nullopt;
    bool exists = false;
    try {
        exists = snapshot().keyExists(*norm);
    } catch (const StoreError&) {
        if (!create)
            return std::nullopt;
        // Creating reads under the lock again and reports why it failed.
    }
    if (!exists) {
        if (!create)
            return std::nullopt;
        update([&](Data& d) { d.makeKey(*norm); });
    }
    return Key(*this, *norm);
}

bool Store::deleteKey(std::string_view path) {
    bool removed = false;
    update([&](Data& d) { removed = d.eraseKey(path) > 0; });
    return removed;
}

std::vector<StoreEvent> Store::takeEvents() {
    return std::exchange(events_, {});
}

std::optional<Value> Key::read(std::string_view name) const {
    try {
        const Data data = store_->snapshot();
        if (const KeyData* k = data.findKey(path_)) {
            if (const Value* v = k->find(name))
                return *v;
        }
    } catch (const StoreError&) {
        // An unreadable store is a read failure like a missing value.
    }
    return std::nullopt;
}

std::optional<std::int32_t> Key::readInteger(std::string_view name) const {
    const auto v = read(name);
    if (!v || v->type != ValueType::Integer)
        return std::nullopt;
    return v->integer;
}

std::optional<std::string> Key::readString(std::string_view name) const {
    auto v = read(name);
    if (!v || v->type != ValueType::String)
        return std::nullopt;
    return std::move(v->text);
}

bool Key::valueExists(std::string_view name) const {
    return read(name).has_value();
}

std::vector<std::string> Key::valueNames() const {
    std::vector<std::string> names;
    try {
        const Data data = store_->snapshot();
        if (const KeyData* k = data.findKey(path_)) {
            for (const auto& nv : k->values)
                names.push_back(nv.first);
        }
    } catch (const StoreError&) {
    }
    return names;
}

std::vector<std::string> Key::subkeys() const {
    try {
        return store_->snapshot().subkeys(path_);
    } catch (const StoreError&) {
        return {};
    }
}

void Key::writeInteger(std::string_view name, std::int32_t value) {
    store_->update([&](Data& d) { d.makeKey(path_).set(name, Value::ofInteger(value)); });
}

void Key::writeString(std::string_view name, std::string_view value) {
    store_->update(
        [&](Data& d) { d.makeKey(path_).set(name, Value::ofString(std::string(value))); });
}

bool Key::deleteValue(std::string_view name) {
    bool removed = false;
    store_->update([&](Data& d) {
        if (d.findKey(path_) != nullptr)
            removed = d.makeKey(path_).erase(name);
    });
    return removed;
}

} // namespace corvane::reg
