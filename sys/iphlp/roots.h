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

// Enough for any procfs, sysfs or resolver file we read; procfs reports a size of 0, so the
// cap counts bytes read, and a device or a file that never ends stops there.
inline constexpr size_t kReadCap = size_t{1} << 20;

// Whole small regular file, or false when it cannot be read, is anything else (a pipe, a
// device), would block, or holds more than cap bytes. readFileAt reads a name relative to a
// directory descriptor (AT_FDCWD: the path).
bool readFile(const std::string& path, std::string& out, size_t cap = kReadCap);
bool readFileAt(int dirFd, const char* name, std::string& out, size_t cap = kReadCap);

// Reads an open descriptor to its end under the same cap; the descriptor stays open.
bool readAll(int fd, std::string& out, size_t cap);

} // namespace corvane::sys
