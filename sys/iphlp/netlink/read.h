// Whole-table reads from the running kernel. Each returns 0 or an errno and never hands out
// a table that was changing while it was read, within a bounded number of re-reads.
#pragma once

#include "records.h"

#include <functional>
#include <vector>

struct nlmsghdr;

namespace corvane::sys::nl {

inline constexpr int kMaxRereads = 4;

int readLinks(std::vector<Link>& out);
// IPv4 only; of one interface when ifIndex is not 0.
int readAddresses(std::vector<Address>& out, uint32_t ifIndex = 0);
// Which routes a read keeps; zero fields keep all.
struct RouteFilter {
    uint8_t table = 0; // RT_TABLE_*
    uint8_t type = 0;  // RTN_*
    bool defaultOnly = false;
};
// IPv4 routes, of every table unless the filter says otherwise.
int readRoutes(std::vector<Route>& out, const RouteFilter& filter = {});
// One plain dump of the routes the filter keeps, each handed over as decoded, in the kernel's
// order. It may show a table that was changing; callers that listen for announcements
// themselves know whether it did.
int dumpRoutes(const RouteFilter& filter, const std::function<void(const Route&)>& each);
// The same, with each route's message, for a caller that decodes it another way as well.
int dumpRouteMessages(const RouteFilter& filter,
                      const std::function<void(const nlmsghdr*, const Route&)>& each);
// One table's routes alone, by its full number (RTA_TABLE), in the kernel's order. With
// meanwhile, the kernel makes the dump on a thread of its own while this one runs it.
int dumpTableMessages(uint32_t table,
                      const std::function<void(const nlmsghdr*, const Route&)>& each,
                      const std::function<void()>& meanwhile = {});
// The table an IPv4 route message names; 0 for any other message.
uint32_t routeTableOf(const nlmsghdr* nlh);
// A unicast default route of the main table: one that names a gateway of this host.
bool isMainDefault(const Route& r);
// Those routes from the head of the main table's dump alone. The kernel hands a table over
// in address order, so they come before every other destination and the rest of the dump
// is never made: a fresh read that costs about one datagram, however big the table.
int readMainDefaultRoutes(std::vector<Route>& out);
// The kernel's answer for one destination (network byte order), as for a packet this host
// sends; no traffic leaves. ENETUNREACH when there is no route.
int lookupRoute(uint32_t destination, Route& out);
// Brings a route list up to date with one rtnetlink route announcement, read where it lies
// and padded as the socket hands it over.
void applyRouteEvent(std::vector<Route>& routes, const nlmsghdr* nlh);
// One link by index; ENODEV when there is none.
int readLink(uint32_t index, Link& out);

} // namespace corvane::sys::nl
