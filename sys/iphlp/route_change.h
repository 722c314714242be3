// Turning a platform route row into a kernel route and finding a row's route again.
#pragma once

#include "iphlpapi.h"
#include "netlink/records.h"

#include <optional>
#include <vector>

namespace corvane::sys {

// Prefix length of a mask in network byte order, or nothing when its bits are not contiguous.
std::optional<uint8_t> prefixFromMask(DWORD maskNetworkOrder);

// The kernel route a row asks for. localAddresses: this computer's IPv4 addresses; a next
// hop among them (or type direct) makes an on-link route.
struct RouteRequest {
    uint32_t destination = 0;
    uint8_t prefixLength = 0;
    uint32_t ifIndex = 0;
    uint32_t gateway = 0;         // 0 for on-link routes
    uint32_t preferredSource = 0; // the local address named as next hop, if any
    uint32_t priority = 0;
    uint8_t protocol = 0; // RTPROT_*
};
DWORD routeRequestFromRow(const MIB_IPFORWARDROW& row, const std::vector<uint32_t>& localAddresses,
                          RouteRequest& out);

// The route (and next hop within it) a delete row names, among routes of the main and local
// tables: same destination and mask, same interface, a next hop that is the route's gateway
// or, for on-link routes, one of the interface's addresses or 0, and the row's metric. A row
// whose metric is 0 or 0xFFFFFFFF and fits no route by it may come from a caller that knows
// no metric: it is served when exactly one route fits the rest.
struct RouteMatch {
    const nl::Route* route = nullptr;
    size_t hop = 0;
};
// NO_ERROR with out set; ERROR_NOT_FOUND; ERROR_ROUTE_AMBIGUOUS when more than one route fits
// and nothing in the row tells them apart; ERROR_INVALID_NETMASK.
DWORD findRouteForRow(const MIB_IPFORWARDROW& row, const std::vector<nl::Route>& routes,
                      const std::vector<nl::Address>& addresses, RouteMatch& out);

// The one match among those that fit a delete row in all but the metric: the one of the row's
// metric, or, for a row with no metric (0 or 0xFFFFFFFF), the only fitting one. Taking one of
// several look-alikes would be a guess, and a wrong guess removes a route the user meant to
// keep: ERROR_ROUTE_AMBIGUOUS then; ERROR_NOT_FOUND when none fits.
template <typename Match>
DWORD chooseByMetric(const std::vector<Match>& fitting, uint32_t metric, Match& out) {
    std::vector<Match> byMetric;
    for (const Match& m : fitting)
        if (m.route->priority == metric)
            byMetric.push_back(m);
    const bool noMetric = metric == 0 || metric == 0xFFFFFFFF;
    const std::vector<Match>& candidates = byMetric.empty() && noMetric ? fitting : byMetric;
    if (candidates.empty())
        return ERROR_NOT_FOUND;
    if (candidates.size() > 1)
        return ERROR_ROUTE_AMBIGUOUS;
    out = candidates.front();
    return NO_ERROR;
}

} // namespace corvane::sys
