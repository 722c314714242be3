// The routing table and the outgoing interface of one destination.
#include "buffers.h"
#include "errors.h"
#include "forward_cache.h"
#include "guard.h"
#include "iphlpapi.h"
#include "netlink/read.h"
#include "netlink/socket.h"
#include "route_rows.h"

#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>

using namespace corvane::sys;

namespace {

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
    return guarded([&]() -> DWORD {
        if (!size)
            return ERROR_INVALID_PARAMETER;
        std::shared_ptr<const ForwardRows> rows;
        std::shared_ptr<const RowOrder> order;
        if (const int e = currentForwardRows(sorted != 0, rows, order))
            return resultFromErrno(e);
        return fillTable(table, size, *rows, order.get());
    });
}

DWORD GetBestInterface(IPAddr destination, DWORD* ifIndex) {
    return guarded([&]() -> DWORD {
        if (!ifIndex)
            return ERROR_INVALID_PARAMETER;
        nl::Route r;
        if (const int error = nl::lookupRoute(destination, r))
            return lookupResult(error);
        if (r.nextHops.empty() || r.nextHops[0].ifIndex == 0)
            return ERROR_NETWORK_UNREACHABLE;
        *ifIndex = r.nextHops[0].ifIndex;
        return NO_ERROR;
    });
}
}
