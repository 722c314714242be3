// The start-up list entry: the "Corvane" value of the start-up list key, mirrored into an XDG
// autostart entry that desktop sessions actually read.
#pragma once

#include "registry/store.h"

#include <filesystem>
#include <string>

namespace corvane {

// "<executable> -a", or "REM " before it when disabled: the entry is disabled, never removed.
std::string startupCommand(const std::string& executable, bool enabled);

// $XDG_CONFIG_HOME/autostart/corvane.desktop
std::filesystem::path autostartFile();

// The desktop entry text; a disabled entry is Hidden=true.
std::string desktopEntry(const std::string& executable, bool enabled);

// Writes the start-up list value (key created when missing) and then the autostart entry,
// both atomically. Throws reg::StoreError when either cannot be written.
void writeStartupEntry(reg::Store& store, const std::string& executable, bool enabled);

} // namespace corvane
