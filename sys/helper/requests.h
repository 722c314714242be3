// What the helper accepts: every request is checked again here, whatever the caller checked,
// before anything of it reaches the kernel or the store. Pure functions.
#pragma once

#include "client.h"
#include "corvane_types.h"

#include <cstdint>
#include <string_view>

namespace corvane::helper {

// NO_ERROR, or the code the request is refused with.
DWORD checkAdminStatus(uint32_t ifIndex, uint32_t status);
DWORD checkRoute(const RouteArgs& route);
DWORD checkAddress(uint32_t address, uint32_t mask, uint32_t ifIndex);
// name: empty, or an interface name as the kernel allows it (at most 15 bytes, printable,
// no slash, no blank).
DWORD checkLease(uint32_t ifIndex, std::string_view name);
// A stored route name exactly as the program writes it: "dest,mask,nexthop,metric" with
// dotted quads, a contiguous mask, no host bits in the destination, a next hop, and the
// metric as a signed 32-bit decimal; nothing else, in particular no letters and no
// leading zeros, so that one route has one name.
bool canonicalRouteName(std::string_view name);

} // namespace corvane::helper
