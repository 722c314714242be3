// The routing table's rows, read once and handed out again while nothing that could change
// them has been announced since, so that the size call and the fill call of one refresh
// dump the kernel's routes once.
#pragma once

#include "iphlpapi.h"
#include "netlink/records.h"
#include "route_rows.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace corvane::sys {

using RowOrder = std::vector<uint32_t>;

// The rows as a fresh read would give them now, in the kernel's order; with sorted, also
// the positions of the rows in the order sortForwardRows gives them (else order is empty).
// 0 or an errno.
int currentForwardRows(bool sorted, std::shared_ptr<const ForwardRows>& out,
                       std::shared_ptr<const RowOrder>& order);

// The main table's unicast default routes of the same read, for the adapters' gateways: one
// dump then serves the adapter list and the routing table of a refresh. While another thread
// reads the table, they come from the head of a dump of their own instead of waiting.
int currentDefaultRoutes(std::vector<nl::Route>& out);

// The IPv4 routes of every table but main from the same read (the local table's and those
// of policy routing), as Corvane's rows in the kernel's order: a read of every table then
// costs no second dump of a big main table. known is false when that read cannot vouch for
// them (it was replayed over changes), and the caller must dump them itself.
int currentRowsBeyondMain(std::vector<CORVANE_ROUTE_ROW>& out, bool& known);

// Since the process started; tests tell reuse from reading with them.
struct ForwardCacheStats {
    unsigned reads = 0;  // the kernel's routes dumped
    unsigned reuses = 0; // answered from the last read
    unsigned splits = 0; // of the reads, those that dumped the main table beside the others
};
ForwardCacheStats forwardCacheStats();

} // namespace corvane::sys
