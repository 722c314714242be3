// The main table's default routes without decoding the whole routing table: the adapter
// list needs only these, and a big table costs many times more to decode than to skip.
#pragma once

#include "netlink/records.h"

#include <vector>

namespace corvane::sys {

// 0 or an errno. Consistent as the full route read is: changes announced while dumping
// are replayed over the dump.
int readDefaultRoutes(std::vector<nl::Route>& out);

} // namespace corvane::sys
