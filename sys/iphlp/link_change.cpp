// Administrative up/down of an interface.
#include "changes.h"
#include "errors.h"
#include "guard.h"
#include "helperclient/client.h"
#include "iphlpapi.h"
#include "netlink/message.h"
#include "netlink/socket.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

namespace corvane::sys::direct {

DWORD setAdminStatus(uint32_t ifIndex, uint32_t status) {
    if (ifIndex == 0 || ifIndex > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    if (status != MIB_IF_ADMIN_STATUS_UP && status != MIB_IF_ADMIN_STATUS_DOWN)
        return ERROR_INVALID_PARAMETER;
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return resultFromErrno(sock.openError());
    char buf[MNL_SOCKET_BUFFER_SIZE];
    ifinfomsg* ifi;
    nlmsghdr* nlh = nl::putRequest(buf, RTM_NEWLINK, &ifi);
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(ifIndex);
    // Only the up flag changes; everything else about the link stays as it is.
    ifi->ifi_change = IFF_UP;
    ifi->ifi_flags = status == MIB_IF_ADMIN_STATUS_UP ? IFF_UP : 0;
    return resultFromErrno(sock.transact(nlh));
}

} // namespace corvane::sys::direct

using namespace corvane::sys;

extern "C" {

DWORD SetIfEntry(MIB_IFROW* row) {
    return guarded([&]() -> DWORD {
        if (!row)
            return ERROR_INVALID_PARAMETER;
        if (const auto r = throughHelper(
                [&] { return corvane::helper::setAdminStatus(row->dwIndex, row->dwAdminStatus); }))
            return *r;
        return direct::setAdminStatus(row->dwIndex, row->dwAdminStatus);
    });
}
}
