// Loading and saving the options in the settings store.
#pragma once

#include <optional>

namespace corvane {

class TfrmSetup;

// True when every value was read; false when the defaults had to be written (load again).
bool LoadSettings(TfrmSetup& dialog);
void SaveSettings(TfrmSetup& dialog, bool sizeOnly);
void WriteDefaultSettings(TfrmSetup& dialog);
void LoadCloseMode(TfrmSetup& dialog);
void SaveCloseMode(TfrmSetup& dialog);

// The stored "Minimize" value for the start-up check: the settings key is opened (created
// when missing); nothing when it cannot be opened, false when the value is missing.
std::optional<bool> storedStartMinimised();

} // namespace corvane
