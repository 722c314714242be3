// Notice of the kernel's link, IPv4 address and IPv4 route changes, from an rtnetlink socket
// joined to their multicast groups. Only whether a change that matters came is kept: whoever
// watches reads the tables afresh.
#pragma once

#include "iphlpapi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct mnl_socket;

namespace corvane {

class RouteChangeWatch {
public:
    RouteChangeWatch() = default;
    ~RouteChangeWatch();
    RouteChangeWatch(const RouteChangeWatch&) = delete;
    RouteChangeWatch& operator=(const RouteChangeWatch&) = delete;

    // 0, or the errno of the socket that could not be opened or bound.
    int open();
    // Non-blocking; -1 before open.
    int fd() const;

    struct Changes {
        bool any = false;
        bool linksOrAddresses = false;
        // Notifications were lost (the socket overran, or one was cut short): anything may
        // have changed.
        bool overrun = false;
        int error = 0; // an errno other than overrun; the socket is then of no more use
    };
    // Whether a change of the main table's route to destination/prefix length (host order)
    // matters to the watcher.
    using RouteFilter = std::function<bool(std::uint32_t destination, unsigned prefixLength)>;
    // Has the kernel pass on only the main table's route changes for these destinations and
    // prefix lengths (host order), and those it cannot tell (default routes, an unusual
    // layout), so that a storm of other route changes never reaches the process. Without
    // routes, or with more than it can filter for, every route change comes. False when the
    // filter could not be set; everything then comes, and drain's filter still sorts.
    bool passOnlyRoutes(const std::vector<std::pair<std::uint32_t, unsigned>>* routes);

    // Joins the IPv6 route and address groups too, and counts every IPv6 route change and
    // every change of a table other than main and local, whatever the filter says: the
    // persistent routes of the second key. Meant with passOnlyRoutes(nullptr), since the
    // kernel's filter passes IPv4 main routes only. 0 or an errno.
    int watchWide();

    // Reads what has queued up, at most about limit bytes (the rest waits for the next call).
    // Route changes count only where filter says they matter; without one, all do.
    Changes drain(const RouteFilter& filter = {}, std::size_t limit = 1u << 20);

private:
    mnl_socket* socket_ = nullptr;
    bool wide_ = false;
};

// The main table's IPv4 unicast routes as forward rows (network order), from one dump that is
// not read again when the kernel marks it interrupted: under a storm of changes a consistent
// dump may never come, and whoever checks against it learns of what it missed from the
// notifications. 0 or an errno.
int readMainRoutes(std::vector<MIB_IPFORWARDROW>& rows);

// The IPv4 addresses of every interface (host order). 0 or an errno.
struct InterfaceAddress {
    std::uint32_t address = 0;
    unsigned prefixLength = 0;
    std::uint32_t ifIndex = 0;
};
int readIPv4Addresses(std::vector<InterfaceAddress>& addresses);

} // namespace corvane
