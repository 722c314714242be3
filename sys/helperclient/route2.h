// A route of either family in any table as the library hands it to the helper, and the one
// rule both apply to it before anything reaches the kernel. Pure functions.
#pragma once

#include "corvane_types.h"

#include <array>
#include <cstdint>

namespace corvane::helper {

// Addresses as their bytes, an IPv4 one in the first four. nextHopFamily 0: on the link.
// table 0: the main table to add to, main and local to remove from.
struct Route2Args {
    uint32_t family = 0; // AF_INET or AF_INET6
    std::array<uint8_t, 16> destination{};
    uint32_t prefixLength = 0;
    uint32_t nextHopFamily = 0;
    std::array<uint8_t, 16> nextHop{};
    uint32_t nextHopScope = 0; // a link-local IPv6 next hop's interface, else 0
    uint32_t ifIndex = 0;
    uint32_t metric = 0;
    uint32_t table = 0;
};

// The bytes an address of the family takes: 4, 16, or 0 for anything else.
unsigned addressLength(uint32_t family);

// NO_ERROR; ERROR_INVALID_NETMASK for a prefix longer than the family's; else
// ERROR_INVALID_PARAMETER: another family, host bits outside the prefix, a next hop of
// another family or a multicast one, a link-local next hop scoped to another interface, no
// interface, or (add) the local table, which holds the kernel's routes of this host's own
// addresses. An unspecified next hop is taken for none.
DWORD checkRoute2(const Route2Args& route, bool add);
// Whether the next hop names a gateway (a family and not the unspecified address).
bool hasGateway(const Route2Args& route);

} // namespace corvane::helper
