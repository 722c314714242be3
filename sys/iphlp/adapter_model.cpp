#include "adapter_model.h"

#include "iphlpapi.h"
#include "nte.h"

#include <algorithm>
#include <arpa/inet.h>
#include <linux/rtnetlink.h>

namespace corvane::sys {

std::string dottedQuad(uint32_t networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &a, text, sizeof text);
}

std::string prefixMask(uint8_t prefixLength) {
    const uint8_t len = std::min<uint8_t>(prefixLength, 32);
    const uint32_t host = len == 0 ? 0 : ~uint32_t{0} << (32 - len);
    return dottedQuad(htonl(host));
}

LinkFace linkFace(const nl::Link& link, const SysfsInfo& sysfs) {
    LinkFace face;
    face.type = interfaceType(link, sysfs.wireless);
    face.description = interfaceDescription(link, face.type, sysfs.driver);
    return face;
}

namespace {

bool isDefaultRoute(const nl::Route& r) {
    return r.table == RT_TABLE_MAIN && r.prefixLength == 0 && r.destination == 0 &&
           r.type == RTN_UNICAST;
}

} // namespace

std::vector<AdapterInfo> buildAdapterInfo(const std::vector<nl::Link>& links,
                                          const std::vector<nl::Address>& addresses,
                                          const std::vector<nl::Route>& routes,
                                          const SysfsReader& sysfs, const LeaseLookup& leaseOf) {
    std::vector<const nl::Link*> order;
    order.reserve(links.size());
    for (const nl::Link& l : links)
        order.push_back(&l);
    std::sort(order.begin(), order.end(),
              [](const nl::Link* a, const nl::Link* b) { return a->index < b->index; });

    std::vector<AdapterInfo> out;
    for (const nl::Link* link : order) {
        const LinkFace face = linkFace(*link, sysfs(link->name));
        if (face.type == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        AdapterInfo a;
        a.index = link->index;
        a.name = link->name;
        a.description = face.description;
        a.type = face.type;
        a.mac = link->mac;
        for (const nl::Address& ad : addresses) {
            if (ad.index != link->index)
                continue;
            const NteKey key{ad.index, ad.address, ad.prefixLength};
            a.addresses.push_back(
                {dottedQuad(ad.address), prefixMask(ad.prefixLength), nteContext(key)});
        }
        if (a.addresses.empty())
            a.addresses.push_back({"0.0.0.0", "0.0.0.0", 0});
        // Kernel order of equal destinations already puts the lower metric first, but
        // tables replayed from announcements need not keep it.
        std::vector<std::pair<uint32_t, uint32_t>> gateways; // metric, gateway
        for (const nl::Route& r : routes) {
            if (!isDefaultRoute(r))
                continue;
            // A default route straight onto the link (point-to-point) has no gateway to list.
            for (const nl::NextHop& hop : r.nextHops)
                if (hop.ifIndex == link->index && hop.gateway != 0)
                    gateways.emplace_back(r.priority, hop.gateway);
        }
        std::stable_sort(gateways.begin(), gateways.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [metric, gateway] : gateways)
            a.gateways.push_back({dottedQuad(gateway), kGatewayMask, metric});
        if (leaseOf)
            a.lease = leaseOf(link->name);
        out.push_back(std::move(a));
    }
    return out;
}

bool hasLinkLocalAddress(uint32_t ifIndex, const std::vector<nl::Address>& addresses) {
    return std::any_of(addresses.begin(), addresses.end(), [&](const nl::Address& a) {
        return a.index == ifIndex && (ntohl(a.address) >> 16) == 0xA9FE; // 169.254/16
    });
}

} // namespace corvane::sys
