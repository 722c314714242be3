// Adding and deleting IPv4 addresses named by NTE contexts.
#include "address_delete.h"
#include "changes.h"
#include "errors.h"
#include "guard.h"
#include "helperclient/client.h"
#include "iphlpapi.h"
#include "netlink/message.h"
#include "netlink/read.h"
#include "netlink/socket.h"
#include "nte.h"
#include "route_change.h"
#include "route_rows.h"

#include <arpa/inet.h>
#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>

namespace {

using namespace corvane::sys;

nlmsghdr* addressMessage(char* buf, uint16_t type, uint16_t flags, const NteKey& key) {
    ifaddrmsg* ifa;
    nlmsghdr* nlh = nl::putRequest(buf, type, &ifa, flags);
    ifa->ifa_family = AF_INET;
    ifa->ifa_prefixlen = key.prefixLength;
    ifa->ifa_index = key.ifIndex;
    // IFA_LOCAL is this host's address; IFA_ADDRESS would be the peer on point-to-point links.
    mnl_attr_put_u32(nlh, IFA_LOCAL, key.address);
    mnl_attr_put_u32(nlh, IFA_ADDRESS, key.address);
    return nlh;
}

int transactErrno(nlmsghdr* nlh) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    return sock.transact(nlh);
}

DWORD transact(nlmsghdr* nlh) {
    const int e = transactErrno(nlh);
    // The kernel answers a missing address with EADDRNOTAVAIL.
    return e == EADDRNOTAVAIL ? ERROR_NOT_FOUND : resultFromErrno(e);
}

} // namespace

namespace corvane::sys::direct {

DWORD addAddress(uint32_t address, uint32_t mask, uint32_t ifIndex, NteKey& added) {
    // What the kernel would take but never use as this host's own address: no address, a
    // multicast or reserved one, a broadcast; and no mask it could express.
    const auto prefix = prefixFromMask(mask);
    const uint32_t host = ntohl(address) & ~ntohl(mask);
    if (!prefix || *prefix == 0 || address == 0 || ntohl(address) >= 0xE0000000 ||
        (*prefix <= 30 && host == ~ntohl(mask)) || ifIndex == 0 || ifIndex > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    if (nl::Link link; nl::readLink(ifIndex, link) == ENODEV)
        return ERROR_DEV_NOT_EXIST;
    // The kernel takes the same address with another mask as one more entry: the interface
    // would list it twice.
    std::vector<nl::Address> present;
    if (const int e = nl::readAddresses(present, ifIndex))
        return resultFromErrno(e);
    for (const nl::Address& a : present)
        if (a.address == address)
            return ERROR_OBJECT_ALREADY_EXISTS;
    const NteKey key{ifIndex, address, *prefix};
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = addressMessage(buf, RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, key);
    if (*prefix <= 30)
        mnl_attr_put_u32(nlh, IFA_BROADCAST, address | ~mask);
    if (const DWORD e = transact(nlh))
        return e;
    added = key;
    return NO_ERROR;
}

DWORD deleteAddress(const NteKey& key) {
    if (key.address == 0 || key.ifIndex == 0 || key.ifIndex > 0x7FFFFFFF || key.prefixLength == 0 ||
        key.prefixLength > 32)
        return ERROR_INVALID_PARAMETER;
    AddressDeleteSteps steps = kernelPromotionSteps(key);
    steps.remove = [&key] {
        char buf[MNL_SOCKET_BUFFER_SIZE];
        return transactErrno(addressMessage(buf, RTM_DELADDR, 0, key));
    };
    return deleteKeepingOthers(key, steps);
}

} // namespace corvane::sys::direct

extern "C" {

DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                   ULONG* nteInstance) {
    return guarded([&]() -> DWORD {
        NteKey key;
        DWORD rc = NO_ERROR;
        if (const auto r = throughHelper(
                [&] { return corvane::helper::changeAddress(true, address, mask, ifIndex); })) {
            rc = *r;
            if (rc == NO_ERROR)
                key = NteKey{ifIndex, address, prefixFromMask(mask).value_or(0)};
        } else {
            rc = direct::addAddress(address, mask, ifIndex, key);
        }
        if (rc != NO_ERROR)
            return rc;
        // Contexts belong to this process, whoever made the address.
        const uint32_t context = corvane::sys::nteContext(key);
        if (nteContext)
            *nteContext = context;
        if (nteInstance)
            *nteInstance = context;
        return NO_ERROR;
    });
}

DWORD DeleteIPAddress(ULONG context) {
    return guarded([&]() -> DWORD {
        const auto key = nteLookup(context);
        if (!key)
            return ERROR_INVALID_NTE_CONTEXT;
        if (const auto r = throughHelper([&] {
                return corvane::helper::changeAddress(
                    false, key->address, maskFromPrefix(key->prefixLength), key->ifIndex);
            }))
            return *r;
        return direct::deleteAddress(*key);
    });
}
}
