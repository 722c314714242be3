// The calling side of the privileged helper: one request per call on the system bus.
// Nothing here throws; a helper that cannot be reached is told apart from one that answered.
#pragma once

#include "corvane_types.h"
#include "helperclient/route2.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::helper {

struct Reply {
    bool reached = false; // false: no system bus, or no helper installed
    DWORD result = 0;     // the helper's result code when reached
};

// Each request that names an interface sends its name in this process's network namespace
// with the index; an index no interface has here is ERROR_DEV_NOT_EXIST without asking.

struct RouteArgs {
    uint32_t destination = 0;
    uint32_t mask = 0;
    uint32_t nextHop = 0;
    uint32_t ifIndex = 0;
    uint32_t type = 0;
    uint32_t protocol = 0;
    uint32_t metric = 0;
};

Reply setAdminStatus(uint32_t ifIndex, uint32_t status) noexcept;
Reply changeRoute(bool add, const RouteArgs& route) noexcept;
Reply changeRoute2(bool add, const Route2Args& route) noexcept;
Reply changeAddress(bool add, uint32_t address, uint32_t mask, uint32_t ifIndex) noexcept;
// ifName: the interface's name as the caller knows it, or empty for whatever has the index.
Reply changeLease(bool renew, uint32_t ifIndex, const std::string& ifName) noexcept;
// Sent in batches of at most kMaxRouteNames; stops at the first that fails.
Reply setPersistentRoutes(const std::vector<std::string>& names, bool persistent) noexcept;

// Routes through one interface and next hop in one request (at most kMaxRouteBatch): each
// route's destination and mask with the shared fields of first. A reply with result NO_ERROR
// has one code per route in results; store is the store's code when persistent.
struct BatchReply {
    Reply reply;
    std::vector<DWORD> results;
    DWORD store = 0;
};
struct RouteDestination {
    uint32_t destination = 0;
    uint32_t mask = 0;
};
BatchReply addRoutes(const RouteArgs& shared, const std::vector<RouteDestination>& routes,
                     bool persistent) noexcept;

// What a call answers when the bus, not the helper, answered it with the error name: not
// reached where that means no helper is installed (none runs and none can be started).
Reply replyOfBusError(const char* name) noexcept;

// Whether a helper runs on the system bus or the bus can start one; starts none.
bool reachable() noexcept;

// A call may wait for minutes while polkit asks the user for a password. A runner decides
// where that wait happens: it must call work(argument) exactly once, on any thread, before it
// returns, and must not throw. Without one (or after setRunner(nullptr, nullptr)) the work
// runs on the calling thread. C linkage: the platform library takes one through its entry
// point SetHelperCallRunner.
extern "C" {
using HelperWork = void (*)(void* argument);
using HelperRunner = void (*)(void* context, HelperWork work, void* argument);
}
void setRunner(HelperRunner run, void* context) noexcept;

} // namespace corvane::helper
