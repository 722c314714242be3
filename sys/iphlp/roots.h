// Where the procfs, sysfs and resolver files are read from. Tests point these at trees
// they built: CORVANE_PROC_ROOT, CORVANE_SYSFS_ROOT, CORVANE_RESOLV_CONF,
// CORVANE_NSSWITCH_CONF.
#pragma once

#include <cstddef>
#include <string>

namespace corvane::sys {

std::string procRoot();     // "/proc"
std::string sysfsRoot();    // "/sys"
std::string resolvConf();   // "/etc/resolv.conf"
std::string nsswitchConf(); // "/etc/nsswitch.conf"

// Larger than any configuration, state or procfs file read here.
inline constexpr std::size_t kReadFileLimit = std::size_t{1} << 20;

// The whole of a regular file of at most limit bytes, or false. Anything else in its place
// (a pipe, a device) is refused without being waited on.
bool readFile(const std::string& path, std::string& out, std::size_t limit = kReadFileLimit);

} // namespace corvane::sys
