// Adding and removing routes of either family in any table.
#include "route_change2.h"

#include "changes.h"
#include "errors.h"
#include "guard.h"
#include "helperclient/client.h"
#include "netlink/message.h"
#include "netlink/read.h"
#include "netlink/socket.h"
#include "route_change.h"

#include <algorithm>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>

namespace corvane::sys {
namespace {

nl::Ip bytesOf(const SOCKADDR_INET& a) {
    nl::Ip out{};
    if (a.si_family == AF_INET)
        std::memcpy(out.data(), &a.Ipv4.sin_addr, 4);
    else if (a.si_family == AF_INET6)
        std::memcpy(out.data(), &a.Ipv6.sin6_addr, 16);
    return out;
}

size_t addressLength(uint8_t family) {
    return family == AF_INET ? 4 : 16;
}

} // namespace

helper::Route2Args route2Args(const MIB_IPFORWARD_ROW2& row, uint32_t tableId) {
    helper::Route2Args a;
    a.family = row.DestinationPrefix.Prefix.si_family;
    a.destination = bytesOf(row.DestinationPrefix.Prefix);
    a.prefixLength = row.DestinationPrefix.PrefixLength;
    a.nextHopFamily = row.NextHop.si_family;
    a.nextHop = bytesOf(row.NextHop);
    a.nextHopScope = row.NextHop.si_family == AF_INET6 ? row.NextHop.Ipv6.sin6_scope_id : 0;
    a.ifIndex = row.InterfaceIndex;
    a.metric = row.Metric;
    a.table = tableId;
    return a;
}

DWORD route2Request(const helper::Route2Args& a, bool add, Route2Request& out) {
    if (const DWORD e = helper::checkRoute2(a, add))
        return e;
    Route2Request r;
    r.family = static_cast<uint8_t>(a.family);
    r.destination = a.destination;
    r.prefixLength = static_cast<uint8_t>(a.prefixLength);
    r.hasGateway = helper::hasGateway(a);
    if (r.hasGateway)
        r.gateway = a.nextHop;
    r.ifIndex = a.ifIndex;
    r.metric = a.metric;
    r.table = add && a.table == kMainAndLocal ? uint32_t{RT_TABLE_MAIN} : a.table;
    out = r;
    return NO_ERROR;
}

DWORD findRoute2(const Route2Request& want, const std::vector<nl::AnyRoute>& routes,
                 Route2Match& out) {
    const size_t length = addressLength(want.family);
    const auto inTable = [&](uint32_t t) {
        return want.table == kMainAndLocal ? t == RT_TABLE_MAIN || t == RT_TABLE_LOCAL
                                           : t == want.table;
    };
    std::vector<Route2Match> fitting;
    for (const nl::AnyRoute& r : routes) {
        if (r.family != want.family || !inTable(r.table) || r.prefixLength != want.prefixLength ||
            !std::equal(r.destination.begin(),
                        r.destination.begin() + static_cast<std::ptrdiff_t>(length),
                        want.destination.begin()))
            continue;
        for (size_t i = 0; i < r.hopCount && i < r.hops.size(); ++i) {
            const nl::AnyHop& h = r.hops[i];
            if (h.ifIndex != want.ifIndex)
                continue;
            const bool hopFits = want.hasGateway
                                     ? h.gatewayFamily == want.family && h.gateway == want.gateway
                                     : h.gatewayFamily == 0;
            if (hopFits)
                fitting.push_back({&r, i});
        }
    }
    return chooseByMetric(fitting, want.metric, out);
}

} // namespace corvane::sys

namespace {

using namespace corvane::sys;

DWORD transact(nlmsghdr* nlh) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return resultFromErrno(sock.openError());
    return resultFromErrno(sock.transact(nlh));
}

nlmsghdr* message(char* buf, uint16_t type, uint16_t flags, uint8_t family, uint32_t table,
                  const nl::Ip& destination, uint8_t prefixLength) {
    rtmsg* rtm;
    nlmsghdr* nlh = nl::putRequest(buf, type, &rtm, flags);
    rtm->rtm_family = family;
    rtm->rtm_dst_len = prefixLength;
    rtm->rtm_table = table < 256 ? static_cast<uint8_t>(table) : uint8_t{RT_TABLE_UNSPEC};
    mnl_attr_put_u32(nlh, RTA_TABLE, table);
    if (prefixLength > 0)
        mnl_attr_put(nlh, RTA_DST, family == AF_INET ? 4 : 16, destination.data());
    return nlh;
}

} // namespace

namespace corvane::sys::direct {

DWORD addRoute2(const helper::Route2Args& route) {
    Route2Request req;
    if (const DWORD e = route2Request(route, true, req))
        return e;
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = message(buf, RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, req.family, req.table,
                            req.destination, req.prefixLength);
    auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_get_payload(nlh));
    rtm->rtm_protocol = RTPROT_STATIC; // made by hand
    rtm->rtm_type = RTN_UNICAST;
    rtm->rtm_scope = req.family == AF_INET && !req.hasGateway ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE;
    mnl_attr_put_u32(nlh, RTA_PRIORITY, req.metric);
    mnl_attr_put_u32(nlh, RTA_OIF, req.ifIndex);
    if (req.hasGateway)
        mnl_attr_put(nlh, RTA_GATEWAY, req.family == AF_INET ? 4 : 16, req.gateway.data());
    const DWORD rc = transact(nlh);
    if (rc != NO_ERROR)
        if (nl::Link link; nl::readLink(req.ifIndex, link) == ENODEV)
            return ERROR_DEV_NOT_EXIST; // the kernel calls it an unreachable network
    return rc;
}

DWORD deleteRoute2(const helper::Route2Args& route) {
    Route2Request req;
    if (const DWORD e = route2Request(route, false, req))
        return e;
    std::vector<nl::AnyRoute> routes;
    const auto keep = [&](const nl::AnyRoute& r) {
        if (r.prefixLength == req.prefixLength && r.destination == req.destination)
            routes.push_back(r);
    };
    const auto reset = [&] { routes.clear(); };
    const uint32_t dumped = req.table == kMainAndLocal ? 0 : req.table;
    if (const int e = nl::dumpAnyRoutes(req.family, dumped, reset, keep))
        return resultFromErrno(e);
    Route2Match match;
    if (const DWORD e = findRoute2(req, routes, match))
        return e;
    const nl::AnyRoute& r = *match.route;
    const nl::AnyHop& hop = r.hops[match.hop];
    // IPv4 keeps a multipath route as one; taking one hop out means rewriting it, which the
    // IPv4 entry point does for the main table. IPv6 removes one sibling by its gateway.
    if (r.family == AF_INET && r.hopCount > 1)
        return ERROR_NOT_SUPPORTED;
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = message(buf, RTM_DELROUTE, 0, r.family, r.table, r.destination, r.prefixLength);
    auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_get_payload(nlh));
    // Naming the route's whole key deletes it and no sibling.
    rtm->rtm_tos = r.tos;
    rtm->rtm_protocol = r.protocol;
    rtm->rtm_type = r.type;
    rtm->rtm_scope = RT_SCOPE_NOWHERE;
    mnl_attr_put_u32(nlh, RTA_PRIORITY, r.priority);
    mnl_attr_put_u32(nlh, RTA_OIF, hop.ifIndex);
    if (hop.gatewayFamily == r.family)
        mnl_attr_put(nlh, RTA_GATEWAY, r.family == AF_INET ? 4 : 16, hop.gateway.data());
    return transact(nlh);
}

} // namespace corvane::sys::direct

namespace {

DWORD changeRoute2(bool add, const MIB_IPFORWARD_ROW2* row, uint32_t tableId) {
    if (!row)
        return ERROR_INVALID_PARAMETER;
    const corvane::helper::Route2Args args = route2Args(*row, tableId);
    // Refused here already: nobody is asked for a password for a request the helper refuses.
    if (const DWORD e = corvane::helper::checkRoute2(args, add))
        return e;
    if (const auto r = throughHelper([&] { return corvane::helper::changeRoute2(add, args); }))
        return *r;
    return add ? direct::addRoute2(args) : direct::deleteRoute2(args);
}

} // namespace

extern "C" {

DWORD CreateIpForwardEntry2(const MIB_IPFORWARD_ROW2* row) {
    return guarded([row] { return changeRoute2(true, row, kMainAndLocal); });
}

DWORD DeleteIpForwardEntry2(const MIB_IPFORWARD_ROW2* row) {
    return guarded([row] { return changeRoute2(false, row, kMainAndLocal); });
}

DWORD CorvaneCreateRouteInTable(const MIB_IPFORWARD_ROW2* row, ULONG tableId) {
    return guarded([=] {
        return tableId == 0 ? DWORD{ERROR_INVALID_PARAMETER} : changeRoute2(true, row, tableId);
    });
}

DWORD CorvaneDeleteRouteInTable(const MIB_IPFORWARD_ROW2* row, ULONG tableId) {
    return guarded([=] {
        return tableId == 0 ? DWORD{ERROR_INVALID_PARAMETER} : changeRoute2(false, row, tableId);
    });
}
}
