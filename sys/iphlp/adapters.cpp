// The adapter lists: GetAdaptersInfo, GetAdaptersAddresses, GetPerAdapterInfo and
// GetInterfaceInfo, read from the kernel on every call.
#include "adapter_layout.h"
#include "adapter_model.h"
#include "dhcp/manager.h"
#include "errors.h"
#include "forward_cache.h"
#include "guard.h"
#include "iphlpapi.h"
#include "netlink/read.h"
#include "resolver.h"

#include <algorithm>
#include <linux/rtnetlink.h>
#include <new>

namespace corvane::sys {
namespace {

void sortByIndex(std::vector<nl::Link>& links) {
    std::sort(links.begin(), links.end(),
              [](const nl::Link& a, const nl::Link& b) { return a.index < b.index; });
}

DWORD adaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) {
    std::vector<nl::Link> links;
    std::vector<nl::Address> addresses;
    std::vector<nl::Route> routes;
    if (const int error = nl::readLinks(links))
        return resultFromErrno(error);
    if (const int error = nl::readAddresses(addresses))
        return resultFromErrno(error);
    // One process scan and one bus connection for the whole list, not one per adapter.
    const dhcp::Managers managers = dhcp::Managers::scan();
    // Only the main table's default routes name gateways; they come from the read the
    // routing table shares, so a refresh dumps the kernel's routes once. Asked last: that
    // read may be under way beside this one.
    if (const int error = currentDefaultRoutes(routes))
        return resultFromErrno(error);
    const LeaseLookup leaseOf = [&](const std::string& ifName) {
        const auto link = std::find_if(links.begin(), links.end(),
                                       [&](const nl::Link& l) { return l.name == ifName; });
        return managers.leaseFor(ifName, link == links.end() ? 0 : link->index);
    };
    return layoutAdaptersInfo(buildAdapterInfo(links, addresses, routes, readSysfs, leaseOf), info,
                              size);
}

DWORD adaptersAddresses(IP_ADAPTER_ADDRESSES* list, ULONG* size) {
    std::vector<nl::Link> links;
    if (const int error = nl::readLinks(links))
        return resultFromErrno(error);
    sortByIndex(links);
    const ResolverConfig global = readResolvConf();
    std::vector<AdapterAddresses> adapters;
    for (const nl::Link& link : links) {
        const LinkFace face = linkFace(link, readSysfs(link.name));
        AdapterAddresses a;
        a.index = link.index;
        a.name = link.name;
        a.description = face.description;
        a.friendlyName = link.name;
        a.dnsSuffix = dnsSuffixFor(link.index, global);
        a.mac = link.mac;
        a.mtu = link.mtu;
        a.type = face.type;
        a.operStatus = operStatus(link);
        adapters.push_back(std::move(a));
    }
    return layoutAdaptersAddresses(adapters, list, size);
}

DWORD perAdapterInfo(ULONG ifIndex, IP_PER_ADAPTER_INFO* info, ULONG* size) {
    nl::Link link;
    if (const int error = nl::readLink(ifIndex, link))
        return error == EINVAL ? ERROR_DEV_NOT_EXIST : resultFromErrno(error);
    PerAdapter per;
    per.dnsServers = dnsServersFor(ifIndex, readResolvConf());
    // The size needed depends on the servers alone: a buffer too small for them (the first
    // of the usual two calls) is answered without reading the addresses.
    ULONG needed = 0;
    if (!size || layoutPerAdapterInfo(per, nullptr, &needed) != ERROR_BUFFER_OVERFLOW || !info ||
        *size < needed)
        return layoutPerAdapterInfo(per, info, size);
    std::vector<nl::Address> addresses;
    if (const int error = nl::readAddresses(addresses, ifIndex))
        return resultFromErrno(error);
    // Linux only shows that link-local configuration happened, not whether it would.
    per.autoconfigActive = hasLinkLocalAddress(ifIndex, addresses);
    per.autoconfigEnabled = per.autoconfigActive;
    return layoutPerAdapterInfo(per, info, size);
}

DWORD interfaceInfo(IP_INTERFACE_INFO* info, ULONG* size) {
    std::vector<nl::Link> links;
    if (const int error = nl::readLinks(links))
        return resultFromErrno(error);
    sortByIndex(links);
    std::vector<IndexName> adapters;
    for (const nl::Link& link : links)
        if (interfaceType(link, false) != IF_TYPE_SOFTWARE_LOOPBACK)
            adapters.push_back({link.index, link.name});
    return layoutInterfaceInfo(adapters, info, size);
}

} // namespace
} // namespace corvane::sys

using corvane::sys::guarded;

extern "C" {

DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    return guarded([&] { return corvane::sys::adaptersInfo(info, size); });
}

ULONG GetAdaptersAddresses(ULONG family, ULONG /*flags*/, void* reserved,
                           IP_ADAPTER_ADDRESSES* list, ULONG* size) {
    if (!size || reserved || (family != AF_UNSPEC_IPH && family != AF_INET_IPH))
        return ERROR_INVALID_PARAMETER;
    return guarded([&] { return corvane::sys::adaptersAddresses(list, size); });
}

DWORD GetPerAdapterInfo(ULONG ifIndex, IP_PER_ADAPTER_INFO* info, ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    if (ifIndex == 0)
        return ERROR_DEV_NOT_EXIST;
    return guarded([&] { return corvane::sys::perAdapterInfo(ifIndex, info, size); });
}

DWORD GetInterfaceInfo(IP_INTERFACE_INFO* info, ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    return guarded([&] { return corvane::sys::interfaceInfo(info, size); });
}
}
