// Where the machine-wide store lives.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::reg {

inline constexpr const char* kMachineFolder = "/etc/corvane";
inline constexpr const char* kMachineStoreFile = "machine.reg";
// The key under which persistent routes are kept, one value name per route.
inline constexpr const char* kPersistentRoutesKey =
    R"(SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\PersistentRoutes)";
// Names a folder that replaces every other choice (tests and scripts).
inline constexpr const char* kConfigDirVariable = "CORVANE_CONFIG_DIR";

struct StoreLocation {
    std::filesystem::path folder;
    bool fellBack = false;               // the machine folder could not be written
    std::filesystem::path refusedFolder; // that folder, when it could not
    std::string reason;                  // and why
};

// CORVANE_CONFIG_DIR when set; else machineFolder when it can be created and written; else
// the per-user folder $XDG_CONFIG_HOME/corvane (~/.config/corvane). The folder is created.
StoreLocation locateMachineStore(const std::filesystem::path& machineFolder = kMachineFolder);

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::filesystem::path userConfigHome();

} // namespace corvane::reg
