// Deleting the routes of chosen rows, without a window: from the kernel, and their names from
// the persistent route store.
#pragma once

#include "iphlpapi.h"
#include "routing/route_rows.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// A refused deletion, told at once with its position among the routes: every route before
// it has gone unless it was refused too. The deletion goes on with the next route.
using DeletionRefused = std::function<void(std::size_t index, DWORD code)>;

// Deletes every route in order; a row that exists only in the store leaves the store alone.
// The stored names of all of them leave the store in one write before the first deletion;
// those of refused routes go back in one more write at the end. Returns, per
// route, whether it went. progress is called at most a few milliseconds apart and may run
// the event loop: the caller keeps refreshes of the routing list away until this returns.
std::vector<bool> deleteRoutes(const std::vector<RouteRow>& routes, const DeletionRefused& refused,
                               const std::function<void()>& progress);

// The record that deletes the route of an IPv6 row or an IPv4 row of a table other than main
// and local, with the table to delete it from (0: main and local); nothing for any other row,
// which DeleteIpForwardEntry deletes as before.
struct WideDeletion {
    MIB_IPFORWARD_ROW2 record{};
    ULONG table = 0;
};
std::optional<WideDeletion> wideDeletionRecord(const RouteRow& row);

// "Couldn't DeleteIpForwardEntry (%s %s.)": the call name of a refused deletion's report; for
// an IPv6 row or one of another table "Couldn't DeleteIpForwardEntry2 (%s/%i.)" with the table
// when not main.
QString deletionFailureName(const RouteRow& route);

// How many refused deletions get a message of their own; the rest are counted in one more.
inline constexpr int ownDeletionFailureMessages = 5;
// "%i more routes could not be deleted; they stay in the list."
QString moreDeletionFailuresText(int count);

} // namespace corvane
