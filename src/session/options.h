// The program's options as one value: what the store holds, the window size to keep, and the
// run-time options in effect. The Options dialog edits a copy and commits it; the popup
// toggles change the run-time part unsaved; everyone else reads the value.
#pragma once

#include "session/settingslogic.h"

#include <QObject>
#include <QSize>
#include <array>
#include <functional>
#include <optional>

namespace corvane {

struct Options {
    std::array<bool, optionCount> flags{};
    int storedWidth = 0; // the main window size to save or restore
    int storedHeight = 0;
    RuntimeOptions run;

    bool on(Option o) const { return flags[static_cast<std::size_t>(o)]; }
    void set(Option o, bool value) { flags[static_cast<std::size_t>(o)] = value; }
    // The run-time options as the stored ones say.
    RuntimeOptions storedRuntime() const;
    bool operator==(const Options&) const = default;
};

// Holds the value and applies the settings algorithms to it. Store failures never escape:
// they are reported to the user, and what the store noticed on the way is told afterwards.
class OptionsStore : public QObject {
    Q_OBJECT
public:
    explicit OptionsStore(QObject* parent = nullptr);

    const Options& value() const { return value_; }
    // Takes the value; changed() fires when it differs from the one before.
    void commit(const Options& options);
    template <typename F> void change(F&& edit) {
        Options o = value_;
        edit(o);
        commit(o);
    }

    // True when every value was read; false when the defaults had to be written (load again).
    bool load();
    // The first show's load: read (twice on a first run), then the run-time options copied.
    void loadStartup();
    // autoRunChanged: the user changed "Auto run", so the autostart entry is written too.
    void save(bool sizeOnly, bool autoRunChanged = false);
    void loadCloseMode();
    void saveCloseMode();

    // The main window's current size, written with the defaults; until one is set, the size
    // the window is designed with.
    std::function<QSize()> mainWindowSize;

signals:
    void changed(const corvane::Options& now, const corvane::Options& before);

private:
    Options value_;
};

// The stored "Minimize" value for the start-up check: the settings key is opened (created
// when missing); nothing when it cannot be opened, false when the value is missing.
std::optional<bool> storedStartMinimised();

} // namespace corvane
