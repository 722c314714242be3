// How a kernel link becomes a row of the interface table.
#pragma once

#include "interfaces.h"
#include "iphlpapi.h"
#include "netlink/records.h"

#include <string>
#include <vector>

namespace corvane::sys {

// The row of one link, given what sysfs adds to it.
MIB_IFROW ifRowFromLink(const nl::Link& link, const SysfsInfo& sysfs);

// UTF-16 of an interface name, zero-terminated and cut to fit. The kernel allows any bytes
// in a name; a byte that does not start valid UTF-8 stands for itself (Latin-1).
void nameToUtf16(const std::string& name, WCHAR (&out)[MAX_INTERFACE_NAME_LEN]);

using SysfsReader = SysfsInfo (*)(const std::string& ifName);

// Rows of all links: by index when sorted, otherwise in the kernel's order.
std::vector<MIB_IFROW> ifRows(const std::vector<nl::Link>& links, bool sorted,
                              SysfsReader readSysfsOf = readSysfs);

} // namespace corvane::sys
