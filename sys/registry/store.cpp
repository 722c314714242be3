#include "registry/store.h"

#include <cerrno>
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
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)); ++n) {
        candidate = base;
        candidate += "-" + std::to_string(n);
    }
    return candidate;
}

// A regular file of that size, not reached through a link.
bool copyStands(const std::filesystem::path& copy, std::size_t size) {
    struct stat st {};
    return ::lstat(copy.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::size_t>(st.st_size) == size;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// A file changed in place within the clock tick of its last change keeps its modification
// time; until that time lies safely behind, what was read may silently be out of date. Some
// file systems keep whole seconds only, hence the margin.
bool settled(const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - st.st_mtim.tv_sec > 2;
}

} // namespace

Store::Store(std::filesystem::path file) : file_(std::move(file)) {
    lockFile_ = file_;
    lockFile_ += ".lock";
}

std::optional<Store::Parsed> Store::load(bool keepAside) {
    struct stat now {};
    if (::lstat(file_.c_str(), &now) == 0) {
        // Before a write over a damaged file, its copy is looked for again: it may be gone.
        if (cache_ && cache_->trusted && sameFile(cache_->file.status, now) &&
            !(keepAside && cache_->parsed.damaged))
            return cache_->parsed;
    } else if (errno == ENOENT) {
        cache_.reset();
        return Parsed{};
    }
    // Any other trouble shows in the read, with its reason.
    cache_.reset();
    auto content = readWholeFile(file_);
    if (!content)
        return Parsed{};
    TolerantParse read = parseTolerantly(content->text);
    Parsed parsed{std::make_shared<const Data>(std::move(read.data)),
                  static_cast<mode_t>(content->status.st_mode & 07777)};
    if (!read.unreadable.empty()) {
        if (!keepAside)
            return std::nullopt;
        parsed.damaged = true;
        parsed.keptAside = noteDamage(*content, std::move(read.unreadable));
    }
    const bool trusted = settled(content->status);
    content->text = std::string();
    cache_ = Cache{std::move(*content), parsed, trusted};
    return parsed;
}

bool Store::noteDamage(const FileContent& content, std::vector<ParseError> unreadable) {
    const std::size_t size = content.text.size();
    const std::size_t hash = std::hash<std::string>{}(content.text);
    const bool known = damage_ && damage_->size == size && damage_->hash == hash;
    if (known && !damage_->keptAs.empty() && copyStands(damage_->keptAs, size))
        return true;
    StoreEvent event{file_, {}, std::move(unreadable), {}};
    try {
        event.keptAs = keepAside(content);
    } catch (const StoreError& e) {
        event.copyFailure = e.what();
    }
    if (!known || damage_->keptAs != event.keptAs)
        events_.push_back(event);
    damage_ = Damage{size, hash, event.keptAs};
    return !event.keptAs.empty();
}

std::filesystem::path Store::keepAside(const FileContent& content) {
    // Every start would otherwise leave one more copy while the file waits for its next write.
    const std::string prefix = file_.filename().string() + ".corrupt-";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path(), ec)) {
        if (!entry.path().filename().string().starts_with(prefix) ||
            !copyStands(entry.path(), content.text.size()))
            continue;
        try {
            const auto copy = readWholeFile(entry.path(), content.text.size());
            if (copy && copy->text == content.text)
                return entry.path();
        } catch (const StoreError&) {
            // Not a copy we can read: not ours to trust.
        }
    }
    std::filesystem::path aside = asideName(file_);
    writeFileAtomically(aside, content.text, static_cast<mode_t>(content.status.st_mode & 07777));
    return aside;
}

std::shared_ptr<const Data> Store::snapshot() {
    auto parsed = load(false);
    if (!parsed) {
        // A damaged file is kept aside under the lock, where no other process does the same.
        FileLock lock(lockFile_);
        parsed = load(true);
    }
    return parsed->data ? parsed->data : std::make_shared<const Data>();
}

void Store::update(const std::function<void(Data&)>& change) {
    updateIf([&](Data& data) {
        change(data);
        return true;
    });
}

void Store::updateIf(const std::function<bool(Data&)>& change) {
    FileLock lock(lockFile_);
    const Parsed current = *load(true);
    // What could not be read lives on only in the copy: without one, the file stays as it is.
    if (current.damaged && !current.keptAside)
        throw StoreError("Cannot write " + file_.string() +
                         ": it is damaged and no copy of it could be kept");
    Data data = current.data ? *current.data : Data{};
    if (change(data))
        writeFileAtomically(file_, serialize(data), current.mode);
}

std::optional<Key> Store::open(std::string_view path, bool create) {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return std::nullopt;
    bool exists = false;
    try {
        exists = snapshot()->keyExists(*norm);
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

Key::Found Key::find(std::string_view name) const {
    try {
        auto data = store_->snapshot();
        if (const KeyData* k = data->findKey(path_)) {
            if (const Value* v = k->find(name))
                return {std::move(data), v};
        }
    } catch (const StoreError&) {
        // An unreadable store is a read failure like a missing value.
    }
    return {};
}

std::optional<std::int32_t> Key::readInteger(std::string_view name) const {
    const Found found = find(name);
    if (!found.value || found.value->type != ValueType::Integer)
        return std::nullopt;
    return found.value->integer;
}

std::optional<std::string> Key::readString(std::string_view name) const {
    const Found found = find(name);
    if (!found.value || found.value->type != ValueType::String)
        return std::nullopt;
    return found.value->text;
}

bool Key::valueExists(std::string_view name) const {
    return find(name).value != nullptr;
}

std::vector<std::string> Key::valueNames() const {
    std::vector<std::string> names;
    try {
        const auto data = store_->snapshot();
        if (const KeyData* k = data->findKey(path_)) {
            for (const auto& nv : k->values)
                names.push_back(nv.first);
        }
    } catch (const StoreError&) {
    }
    return names;
}

std::vector<std::string> Key::subkeys() const {
    try {
        return store_->snapshot()->subkeys(path_);
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
