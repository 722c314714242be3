#include "session/options.h"

#include "session/machinestore.h"

#include <QCoreApplication>
#include <filesystem>

namespace corvane {
namespace {

// The settings algorithms' view of an options value being loaded or saved.
class ValueRecord : public OptionRecord {
public:
    ValueRecord(Options& value, QSize windowSize, bool autoRunChanged)
        : v_(value), windowSize_(windowSize), autoRunChanged_(autoRunChanged) {}

    bool option(Option o) const override { return v_.on(o); }
    void setOption(Option o, bool on) override { v_.set(o, on); }
    // The dialog derives the box's state from "Auto run" when it shows the value.
    void setMinimizedEnabled(bool) override {}
    int storedWidth() const override { return v_.storedWidth; }
    int storedHeight() const override { return v_.storedHeight; }
    void setStoredSize(int width, int height) override {
        v_.storedWidth = width;
        v_.storedHeight = height;
    }
    bool autoRunChanged() const override { return autoRunChanged_; }
    int mainWindowWidth() const override { return windowSize_.width(); }
    int mainWindowHeight() const override { return windowSize_.height(); }

private:
    Options& v_;
    QSize windowSize_;
    bool autoRunChanged_;
};

std::string executablePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return exe.string();
    return QCoreApplication::applicationFilePath().toStdString();
}

// Runs one algorithm; a failed store write is shown and ends it. Either way, what the store
// noticed on the way (a file set aside, the per-user fallback) is told afterwards, outside
// its lock.
template <typename F> void guarded(F&& algorithm) {
    std::optional<reg::StoreError> failure;
    try {
        algorithm();
    } catch (const reg::StoreError& e) {
        failure = e;
    }
    reportStoreEvents();
    if (failure)
        reportStoreError(*failure);
}

} // namespace

RuntimeOptions Options::storedRuntime() const {
    RuntimeOptions r;
    for (const OptionRow& row : kOptionRows) {
        if (row.runtime)
            r.*row.runtime = on(row.option);
    }
    return r;
}

OptionsStore::OptionsStore(QObject* parent)
    : QObject(parent), mainWindowSize([] { return QSize(731, 460); }) {}

void OptionsStore::commit(const Options& options) {
    if (options == value_)
        return;
    const Options before = value_;
    value_ = options;
    emit changed(value_, before);
}

bool OptionsStore::load() {
    Options loaded = value_;
    ValueRecord record(loaded, mainWindowSize(), false);
    bool complete = true;
    // When the defaults could not be written, loading again would only fail again; the
    // value still takes the defaults, so the program runs with sensible options.
    guarded([&] { complete = loadSettings(record, machineStore()); });
    commit(loaded);
    return complete;
}

void OptionsStore::loadStartup() {
    if (!load())
        load();
    change([](Options& o) { o.run = o.storedRuntime(); });
}

void OptionsStore::save(bool sizeOnly, bool autoRunChanged) {
    Options saved = value_;
    ValueRecord record(saved, mainWindowSize(), autoRunChanged);
    guarded([&] { saveSettings(record, machineStore(), sizeOnly, executablePath()); });
}

void OptionsStore::loadCloseMode() {
    Options loaded = value_;
    ValueRecord record(loaded, mainWindowSize(), false);
    guarded([&] { corvane::loadCloseMode(record, machineStore()); });
    commit(loaded);
}

void OptionsStore::saveCloseMode() {
    Options saved = value_;
    ValueRecord record(saved, mainWindowSize(), false);
    guarded([&] { corvane::saveCloseMode(record, machineStore()); });
}

std::optional<bool> storedStartMinimised() {
    std::optional<bool> minimised;
    guarded([&] { minimised = storedStartMinimised(machineStore()); });
    return minimised;
}

} // namespace corvane
