// Where the procfs, sysfs and resolver files are read from. Tests point these at trees
// they built: CORVANE_PROC_ROOT, CORVANE_SYSFS_ROOT, CORVANE_RESOLV_CONF.
#pragma once

#include <string>

namespace corvane::sys {

std::string procRoot();   // "/proc"
std::string sysfsRoot();  // "/sys"
std::string resolvConf(); // "/etc/resolv.conf"

// Whole small file, or false when it cannot be read.
bool readFile(const std::string& path, std::string& out);

} // namespace corvane::sys
