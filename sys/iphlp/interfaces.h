// How a kernel link appears in the platform's records: type, operational status, speed,
// description. Shared by the interface table and the adapter lists, which the program
// matches by description.
#pragma once

#include "corvane_types.h"
#include "netlink/records.h"

#include <string>

namespace corvane::sys {

DWORD interfaceType(const nl::Link& link, bool wireless);
DWORD operStatus(const nl::Link& link);
// Unique among interfaces because it starts with the interface name.
std::string interfaceDescription(const nl::Link& link, DWORD type, const std::string& driver);

// What sysfs adds to a link; absent files leave the defaults.
struct SysfsInfo {
    bool wireless = false;
    uint64_t speedBitsPerSecond = 0; // 0 when the link reports none
    std::string driver;              // "e1000e", "virtio_net" ...; empty for virtual links
};
SysfsInfo readSysfsNow(const std::string& ifName);
// The same, kept while no link announcement has been heard since it was read: a link's
// sysfs facts change only with the link (re-created, renamed, its carrier renegotiated), and
// a refresh asks for each link several times. Falls back to readSysfsNow when no
// announcements can be had.
SysfsInfo readSysfs(const std::string& ifName);

// Clamped into 32 bits, as the record's speed field holds.
DWORD clampSpeed(uint64_t bitsPerSecond);

} // namespace corvane::sys
