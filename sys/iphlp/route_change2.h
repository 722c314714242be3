// Routes of either family and any table: the request a later-generation row asks for, and
// finding a row's route again. Pure functions, shared with the privileged helper, which
// checks every request by the same rule before it reaches the kernel.
#pragma once

#include "helperclient/route2.h"
#include "iphlpapi.h"
#include "netlink/dual.h"

#include <cstdint>
#include <vector>

namespace corvane::sys {

// Where a change looks for its route: one table, or main and local as the tables list them.
inline constexpr uint32_t kMainAndLocal = 0;

struct Route2Request {
    uint8_t family = 0;
    nl::Ip destination{};
    uint8_t prefixLength = 0;
    bool hasGateway = false;
    nl::Ip gateway{};
    uint32_t ifIndex = 0;
    uint32_t metric = 0;
    uint32_t table = 0; // kMainAndLocal, or a kernel table number
};

// What the library hands the helper for a row (tableId 0: main and local).
helper::Route2Args route2Args(const MIB_IPFORWARD_ROW2& row, uint32_t tableId);
// add: a route to make (main table for tableId kMainAndLocal); otherwise one to remove.
// NO_ERROR with out set, or the refusal of helper::checkRoute2.
DWORD route2Request(const helper::Route2Args& args, bool add, Route2Request& out);

// The route and next hop a removal names, as findRouteForRow does for IPv4: same table,
// destination and prefix, interface, a next hop that is the gateway (or none for an on-link
// route), and the metric; a metric of 0 or 0xFFFFFFFF that fits nothing takes the one route
// fitting the rest. NO_ERROR, ERROR_NOT_FOUND or ERROR_ROUTE_AMBIGUOUS.
struct Route2Match {
    const nl::AnyRoute* route = nullptr;
    size_t hop = 0;
};
DWORD findRoute2(const Route2Request& want, const std::vector<nl::AnyRoute>& routes,
                 Route2Match& out);

} // namespace corvane::sys
