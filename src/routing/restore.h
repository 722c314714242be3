// Re-applying the stored persistent routes to the kernel without a window, as the system
// would at start-up; run from the command line or a boot-time unit.
#pragma once

#include "iphlpapi.h"
#include "registry/route_name2.h"
#include "routing/route_rows.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace corvane {

// One local address with its mask and interface (host order).
struct LocalAddress {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    DWORD ifIndex = 0;
};

// What to do for one stored route, decided from the live table and the local addresses.
struct RestorePlan {
    enum class Kind { Present, NoInterface, NoNextHop, Add };
    Kind kind = Kind::Add;
    MIB_IPFORWARDROW record{}; // Add: the record to hand to SetIpForwardEntry
    std::string reason;        // NoInterface, NoNextHop
};

// A route is present only with its own metric: one of another metric is another route, and
// the kernel holds both. The next hop must lie in a local network: one of a local address,
// or one the live table reaches without a gateway.
RestorePlan planRestore(const PersistentRoute& route, const std::vector<MIB_IPFORWARDROW>& live,
                        const std::vector<LocalAddress>& locals);

// The kernel's routes and local addresses, as planRestore weighs them. The addresses are
// read only once a route is found missing: a check that finds all present reads one table.
struct LiveNetwork {
    std::vector<MIB_IPFORWARDROW> routes;
    std::vector<LocalAddress> locals;
    bool localsRead = false;
};
// Reads the routes; NO_ERROR, or the failed call's code.
DWORD readLiveNetwork(LiveNetwork& live);

// What became of one stored route.
struct RestoreOutcome {
    enum class Kind { Present, Added, Failed };
    Kind kind = Kind::Failed;
    std::string reason;   // Failed
    bool refused = false; // Failed: the kernel refused the route (rather than no plan for it)
};
// Parses the stored name, plans it against live and adds what is missing; an added route
// joins live.routes, so that a name stored twice is added once.
RestoreOutcome restoreStoredRoute(const std::string& name, LiveNetwork& live);

// The routes of the second key (IPv6, other tables): present when a live row of that table
// has the family, prefix, metric, interface and next hop (none for a route on the link);
// else the record for CorvaneCreateRouteInTable. ifIndex: the index the stored interface
// name has now, 0 when no interface has it.
struct WideRestorePlan {
    enum class Kind { Present, NoInterface, Add };
    Kind kind = Kind::Add;
    MIB_IPFORWARD_ROW2 record{};
    std::string reason; // NoInterface
};
WideRestorePlan planWideRestore(const reg::WideRouteName& route, DWORD ifIndex,
                                const CORVANE_ROUTE_ROW* live, std::size_t count);

// Every table of both families, read once the first name of the second key is restored.
struct WideLiveNetwork {
    std::vector<CORVANE_ROUTE_ROW> routes;
    bool read = false;
    DWORD readResult = NO_ERROR;
};
// Parses the name, plans it against live (read when not yet) and adds what is missing; an
// added route joins live.routes.
RestoreOutcome restoreStoredWideRoute(const std::string& name, WideLiveNetwork& live);

// A stored name is whatever the file holds: made printable for a terminal or a journal.
std::string printableName(const std::string& name);

// Prints what could not be read of the store, then "applied <name>" or "failed <name>:
// <reason>" per stored route, names made printable, those of the first key first; 0 when all
// was read and none failed.
int restorePersistentRoutes(std::ostream& out);

} // namespace corvane
