// Whole-table reads from the running kernel. Each returns 0 or an errno and never hands out
// a table that was changing while it was read, within a bounded number of re-reads.
#pragma once

#include "records.h"

#include <vector>

namespace corvane::sys::nl {

inline constexpr int kMaxRereads = 4;

int readLinks(std::vector<Link>& out);
int readAddresses(std::vector<Address>& out); // IPv4 only
// IPv4 routes of every table; callers pick the tables they show.
int readRoutes(std::vector<Route>& out);
// Brings a route list up to date with one rtnetlink route announcement.
void applyRouteEvent(std::vector<Route>& routes, const nlmsghdr* nlh);
// One link by index; ENODEV when there is none.
int readLink(uint32_t index, Link& out);

} // namespace corvane::sys::nl
