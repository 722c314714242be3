// SendARP: a neighbour's hardware address from the kernel's neighbour table. When the table
// does not know it yet, an empty datagram to the neighbour makes the kernel resolve it (no
// privilege needed, and no traffic to anyone but the address asked about); the table is
// then watched for a bounded time. A neighbour the kernel recently failed to resolve is not
// waited for again: a silent gateway would otherwise cost every refresh the whole wait.
#include "errors.h"
#include "guard.h"
#include "iphlpapi.h"
#include "neighbours.h"
#include "netlink/read.h"
#include "roots.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <new>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace corvane::sys {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kResolveBudget = std::chrono::milliseconds(1000);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Addresses no neighbour can own.
bool invalidDestination(uint32_t destination) {
    const uint32_t host = ntohl(destination);
    return host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE; // multicast 224/4
}

// 0 and the table's entry for the destination, when it has one; else an errno.
int findEntry(uint32_t ifIndex, uint32_t destination, std::optional<Neighbour>& entry) {
    std::vector<Neighbour> table;
    if (const int error = readNeighbours(ifIndex, table))
        return error;
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const Neighbour& n) { return n.address == destination; });
    entry.reset();
    if (it != table.end())
        entry = std::move(*it);
    return 0;
}

// The kernel trusts an answer for about the link's base reachable time; a failure is trusted
// for as long.
std::chrono::milliseconds failureMemory(const std::string& linkName) {
    std::string text;
    if (readFile(procRoot() + "/sys/net/ipv4/neigh/" + linkName + "/base_reachable_time_ms",
                 text)) {
        const long ms = std::strtol(text.c_str(), nullptr, 10);
        if (ms > 0)
            return std::chrono::milliseconds(ms);
    }
    return std::chrono::seconds(30);
}

// Sends nothing but an empty datagram to the discard port; the kernel has to resolve the
// neighbour before it can go out.
void provokeResolution(uint32_t destination) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = destination;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        (void)::send(fd, "", 0, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(fd);
}

DWORD resolve(uint32_t destination, std::vector<uint8_t>& hardwareAddress) {
    const Clock::time_point start = Clock::now();
    nl::Route route;
    if (const int error = nl::lookupRoute(destination, route))
        return error == EHOSTUNREACH || error == ENETUNREACH ? ERROR_NETWORK_UNREACHABLE
                                                             : resultFromErrno(error);
    // Only a neighbour on a directly connected network: past a gateway the table would
    // give the gateway's address, not the destination's. Local and broadcast addresses
    // have no neighbour at all.
    if (route.type != RTN_UNICAST || route.nextHops.size() != 1 || route.nextHops[0].gateway != 0 ||
        route.nextHops[0].viaOtherFamily || route.nextHops[0].ifIndex == 0)
        return ERROR_BAD_NET_NAME;
    const uint32_t ifIndex = route.nextHops[0].ifIndex;
    nl::Link link;
    if (const int error = nl::readLink(ifIndex, link))
        return resultFromErrno(error);
    const bool doesArp = !(link.flags & (IFF_NOARP | IFF_LOOPBACK));

    std::optional<Neighbour> entry;
    if (const int error = findEntry(ifIndex, destination, entry))
        return resultFromErrno(error);
    if (entry && usableNeighbour(*entry, doesArp)) {
        hardwareAddress = entry->hardwareAddress;
        return NO_ERROR;
    }
    if (!doesArp)
        return ERROR_BAD_NET_NAME;
    const auto wait = resolutionWait(entry, kResolveBudget, failureMemory(link.name));
    if (wait <= std::chrono::milliseconds(0))
        return ERROR_BAD_NET_NAME;
    const Clock::time_point deadline = start + wait;
    provokeResolution(destination);
    while (Clock::now() + kPollInterval <= deadline) {
        std::this_thread::sleep_for(kPollInterval);
        if (const int error = findEntry(ifIndex, destination, entry))
            return resultFromErrno(error);
        if (entry && usableNeighbour(*entry, doesArp)) {
            hardwareAddress = entry->hardwareAddress;
            return NO_ERROR;
        }
    }
    return ERROR_BAD_NET_NAME;
}

} // namespace
} // namespace corvane::sys

extern "C" {

// The source address is not needed on Linux: the kernel's route picks the interface.
DWORD SendARP(IPAddr destination, IPAddr /*source*/, void* mac, ULONG* length) {
    if (!mac || !length || corvane::sys::invalidDestination(destination))
        return ERROR_INVALID_PARAMETER;
    return corvane::sys::guarded([&]() -> DWORD {
        std::vector<uint8_t> hardwareAddress;
        const DWORD rc = corvane::sys::resolve(destination, hardwareAddress);
        if (rc != NO_ERROR)
            return rc;
        const size_t n = std::min<size_t>(hardwareAddress.size(), *length);
        std::memcpy(mac, hardwareAddress.data(), n);
        *length = static_cast<ULONG>(hardwareAddress.size());
        return NO_ERROR;
    });
}
}
