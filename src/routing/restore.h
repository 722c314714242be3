// Re-applying the stored persistent routes to the kernel without a window, as the system
// would at start-up; run from the command line or a boot-time unit.
#pragma once

#include "iphlpapi.h"
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
    enum class Kind { Present, Conflict, NoInterface, NoNextHop, Add };
    Kind kind = Kind::Add;
    MIB_IPFORWARDROW record{}; // Add: the record to hand to SetIpForwardEntry
    std::string reason;        // Conflict, NoInterface, NoNextHop
};

// bestInterface answers for a next hop no local network contains (0 when none).
RestorePlan planRestore(const PersistentRoute& route, const std::vector<MIB_IPFORWARDROW>& live,
                        const std::vector<LocalAddress>& locals, DWORD bestInterface);

// Prints "applied <name>" or "failed <name>: <reason>" per stored route; 0 when none failed.
int restorePersistentRoutes(std::ostream& out);

} // namespace corvane
