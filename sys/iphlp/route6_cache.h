// The IPv6 routes of every table, read once and handed out again while nothing that could
// change them has been announced since, so that the adapters' gateways, the routing table
// and the connections' interfaces of one refresh dump the kernel's IPv6 routes once.
#pragma once

#include "iphlpapi.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace corvane::sys {

// Hands use the rows of the last read (kept current as appendRoutes6 keeps them) and the
// whole seconds since it; each row's lifetimes are to be aged by them (ageRow). 0 or an errno.
int visitRoutes6(
    const std::function<void(const std::vector<CORVANE_ROUTE_ROW>& rows, ULONG elapsed)>& use);
void ageRow(CORVANE_ROUTE_ROW& row, ULONG elapsedSeconds);

// Appends the rows of the tables keep takes, in the kernel's order, as a fresh read would
// give them now; the lifetimes of expiring routes are counted down from that read. 0 or an
// errno.
int appendRoutes6(std::vector<CORVANE_ROUTE_ROW>& rows,
                  const std::function<bool(uint32_t table)>& keep);

// Since the process started; tests tell reuse from reading with them.
struct Route6CacheStats {
    unsigned reads = 0;
    unsigned reuses = 0;
};
Route6CacheStats route6CacheStats();

} // namespace corvane::sys
