// Adding every route of a loaded route list through one interface and next hop, without a
// window.
#pragma once

#include "iphlpapi.h"
#include "routing/routelist.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace corvane {

struct ListAddRequest {
    std::vector<ListRoute> routes;
    DWORD ifIndex = 0;
    std::uint32_t nextHop = 0; // host order
    DWORD type = MIB_IPROUTE_TYPE_INDIRECT;
    int metric = 1;
    QString nextHopText; // as typed: part of the persistent names
    bool persistent = false;
};

struct ListAddResult {
    int added = 0;
    int failed = 0;
};

// With persistent, the names of the added routes are stored every kPersistentBatch routes
// and after the last one: a process killed midway leaves at most that many routes in the
// kernel that the store does not name, at the cost of one store write (or helper call) per
// batch.
inline constexpr std::size_t kPersistentBatch = 256;

// Through the privileged helper the routes go in requests of up to helper::kMaxRouteBatch,
// each authorised once, and the helper stores the added ones itself when the store is the
// one it writes; a request refused whole is one message for the rest of the list.
// Sets every route in order, network and mask taken as they are (not aligned). A refused
// route is reported on its own and the others still go in. A persistent list without a
// gateway (next hop 0.0.0.0) is refused whole, with one message: the store would not take
// its routes. progress is called at most a few milliseconds apart while the routes go in,
// and may run the event loop: the caller keeps refreshes of the routing list away until
// this returns.
ListAddResult addRouteList(const ListAddRequest& request, const std::function<void()>& progress);

} // namespace corvane
