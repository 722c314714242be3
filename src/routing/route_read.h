// The routing table read from the platform as the Routes page's rows, with the persistent
// marks of the store.
#pragma once

#include "platform/routetables.h"
#include "routing/route_rows.h"
#include "routing/rule_rows.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace corvane {

// GetIpForwardTable as a fill asks for it: a one-row size call, then sorted calls into a
// buffer grown to what the platform reported plus room for routes that come meanwhile, at
// most forwardTableAttempts of them. The result of the last call; size is the buffer's.
inline constexpr int forwardTableAttempts = 6;

// Grows without zeroing what the call overwrites anyway: megabytes on a big table. Only the
// rows the call reports are read back.
template <typename T> struct LeftUnset : std::allocator<T> {
    template <typename U> struct rebind { using other = LeftUnset<U>; };
    template <typename U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... A> void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};
using TableStorage = std::vector<DWORD, LeftUnset<DWORD>>;

DWORD readForwardTable(TableStorage& storage, ULONG& size);

struct RouteTableRead {
    bool ok = false;        // false: GetFwTable failed (reported) and fill is empty
    RouteFill fill;         // marked persistent
    int activeDefault = -1; // in fill.rows
    PersistentNames names;  // the store as read for this fill
    // With all tables: the tables' names and the policy rules.
    RouteTableNames tableNames;
    std::vector<RuleRow> rules;
};

// The store is read once per fill and looked up by hash, whatever the number of rows. What
// the store noticed is reported before a failure of the table. IPv6 and the other tables
// (as the filters ask) follow the forward table's IPv4 rows, from one dump of the kernel's
// tables; an older library without that entry point gives IPv4 alone, as the forward table
// has it. kept: the forward table's buffer to read into and keep, for a caller that fills
// again and again (its memory is then touched once); without it the buffer goes as soon as
// the rows are made.
RouteTableRead readRouteTable(RouteFilters filters, TableStorage* kept = nullptr);

// Rows for the stored names that match no row, in store order: the inactive persistent
// routes; those of the second key (IPv6, other tables) after the others, only where the
// filters list such routes.
std::vector<RouteRow> readInactivePersistentRows(const std::vector<RouteRow>& rows,
                                                 RouteFilters filters = {});

} // namespace corvane
