#include "registry/location.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace corvane::reg {

std::filesystem::path userConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::filesystem::path(home) / ".config";
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return std::filesystem::path(pw->pw_dir) / ".config";
    return std::filesystem::temp_directory_path() / ".config";
}

StoreLocation locateMachineStore(const std::filesystem::path& machineFolder) {
    StoreLocation loc;
    std::error_code ec;
    if (const char* dir = std::getenv(kConfigDirVariable); dir && *dir) {
        loc.folder = dir;
        std::filesystem::create_directories(loc.folder, ec); // a failure shows on first write
        return loc;
    }
    std::filesystem::create_directories(machineFolder, ec);
    if (!ec && ::access(machineFolder.c_str(), W_OK | X_OK) == 0) {
        loc.folder = machineFolder;
        return loc;
    }
    loc.reason = ec ? ec.message() : std::string(std::strerror(errno));
    loc.fellBack = true;
    loc.refusedFolder = machineFolder;
    loc.folder = userConfigHome() / "corvane";
    std::filesystem::create_directories(loc.folder, ec);
    return loc;
}

} // namespace corvane::reg
