// The routing table and the outgoing interface of one destination.
#include "buffers.h"
#include "errors.h"
#include "iphlpapi.h"
#include "netlink/read.h"
#include "netlink/socket.h"
#include "route_rows.h"

#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <optional>

using namespace corvane::sys;

namespace {

// Reads the addresses only when an on-link route names no source, which the kernel's own
// routes always do.
class LazySources {
public:
    uint32_t operator()(uint32_t ifIndex) {
        if (!first_) {
            std::vector<nl::Address> addrs;
            error_ = nl::readAddresses(addrs);
            first_ = firstAddresses(addrs);
        }
        const auto it = first_->find(ifIndex);
        return it == first_->end() ? 0 : it->second;
    }
    int error() const { return error_; }

private:
    std::optional<std::unordered_map<uint32_t, uint32_t>> first_;
    int error_ = 0;
};

// What a refused lookup means for the caller: the destination cannot be reached. Reject
// routes answer EHOSTUNREACH, EACCES (prohibit) or EINVAL (blackhole); none of them is a
// matter of privilege or of a bad argument.
DWORD lookupResult(int error) {
    switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EACCES:
    case EPERM:
    case EINVAL:
        return ERROR_NETWORK_UNREACHABLE;
    default:
        return resultFromErrno(error);
    }
}

} // namespace

extern "C" {

DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL sorted) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    std::vector<nl::Route> routes;
    if (const int e = nl::readRoutes(routes))
        return resultFromErrno(e);
    LazySources sources;
    std::vector<MIB_IPFORWARDROW> rows =
        forwardRows(routes, [&](uint32_t ifIndex) { return sources(ifIndex); });
    if (sources.error())
        return resultFromErrno(sources.error());
    if (sorted)
        sortForwardRows(rows);
    return fillTable(table, size, rows);
}

DWORD GetBestInterface(IPAddr destination, DWORD* ifIndex) {
    if (!ifIndex)
        return ERROR_INVALID_PARAMETER;
    nl::Route r;
    if (const int error = nl::lookupRoute(destination, r))
        return lookupResult(error);
    if (r.nextHops.empty() || r.nextHops[0].ifIndex == 0)
        return ERROR_NETWORK_UNREACHABLE;
    *ifIndex = r.nextHops[0].ifIndex;
    return NO_ERROR;
}
}
