// Loading and saving the options, over an abstract option record so that the order of reads
// and writes, the defaults and the first-run behaviour can be tested without widgets.
#pragma once

#include "registry/store.h"
#include "session/optiontable.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr const char* kSettingsKey = "Software\\halvern\\zorvent";
inline constexpr const char* kStartupListKey = R"(Software\Microsoft\Windows\CurrentVersion\Run)";
inline constexpr const char* kStartupValueName = "Corvane";

// The store's name for the option as the saver writes it.
constexpr std::string_view valueName(Option option) {
    return optionRow(option).valueName;
}

// What the algorithms read and change: the Options dialog in the program.
class OptionRecord {
public:
    virtual ~OptionRecord() = default;
    virtual bool option(Option option) const = 0;
    // A change made by the program, not the user: it fires what a changed box fires
    // (cbxAutoRunClick) but never the resolution warning.
    virtual void setOption(Option option, bool on) = 0;
    virtual void setMinimizedEnabled(bool enabled) = 0;
    virtual int storedWidth() const = 0;
    virtual int storedHeight() const = 0;
    virtual void setStoredSize(int width, int height) = 0;
    virtual bool autoRunChanged() const = 0;
    // The main window's current size, for the defaults.
    virtual int mainWindowWidth() const = 0;
    virtual int mainWindowHeight() const = 0;
};

// See options.h for what each does; these take the store and, for saving, the program's
// executable path. Store write failures escape as reg::StoreError.
bool loadSettings(OptionRecord& record, reg::Store& store);
void writeDefaultSettings(OptionRecord& record, reg::Store& store);
void saveSettings(OptionRecord& record, reg::Store& store, bool sizeOnly,
                  const std::string& executable);
void loadCloseMode(OptionRecord& record, reg::Store& store);
void saveCloseMode(OptionRecord& record, reg::Store& store);
std::optional<bool> storedStartMinimised(reg::Store& store);

} // namespace corvane
