// Adding and deleting routes.
#include "route_change.h"

#include "address_cache.h"
#include "change_counts.h"
#include "changes.h"
#include "errors.h"
#include "guard.h"
#include "helperclient/client.h"
#include "helperclient/protocol.h"
#include "netlink/message.h"
#include "netlink/read.h"
#include "netlink/socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <mutex>
#include <vector>

namespace corvane::sys {

std::optional<uint8_t> prefixFromMask(DWORD maskNetworkOrder) {
    const uint32_t m = ntohl(maskNetworkOrder);
    const uint32_t inverted = ~m;
    if ((inverted & (inverted + 1)) != 0)
        return std::nullopt;
    return static_cast<uint8_t>(__builtin_popcount(m));
}

namespace {

uint8_t kernelProtocol(DWORD proto) {
    switch (proto) {
    case MIB_IPPROTO_RIP:
        return RTPROT_RIP;
    case MIB_IPPROTO_OSPF:
        return RTPROT_OSPF;
    case MIB_IPPROTO_BGP:
        return RTPROT_BGP;
    default:
        return RTPROT_STATIC; // routes made by hand are static routes
    }
}

bool contains(const std::vector<uint32_t>& v, uint32_t x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

} // namespace

DWORD routeRequestFromRow(const MIB_IPFORWARDROW& row, const std::vector<uint32_t>& localAddresses,
                          RouteRequest& out) {
    const auto prefix = prefixFromMask(row.dwForwardMask);
    if (!prefix)
        return ERROR_INVALID_NETMASK;
    if (row.dwForwardIfIndex == 0 || row.dwForwardIfIndex > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    // Host bits set in the destination are refused rather than silently cleared.
    if ((row.dwForwardDest & ~row.dwForwardMask) != 0)
        return ERROR_INVALID_PARAMETER;
    out = RouteRequest{};
    out.destination = row.dwForwardDest;
    out.prefixLength = *prefix;
    out.ifIndex = row.dwForwardIfIndex;
    out.priority = row.dwForwardMetric1;
    out.protocol = kernelProtocol(row.dwForwardProto);
    const uint32_t hop = row.dwForwardNextHop;
    const bool onLink =
        row.dwForwardType == MIB_IPROUTE_TYPE_DIRECT || hop == 0 || contains(localAddresses, hop);
    if (onLink)
        out.preferredSource = contains(localAddresses, hop) ? hop : 0;
    else
        out.gateway = hop;
    return NO_ERROR;
}

DWORD findRouteForRow(const MIB_IPFORWARDROW& row, const std::vector<nl::Route>& routes,
                      const std::vector<nl::Address>& addresses, RouteMatch& out) {
    const auto prefix = prefixFromMask(row.dwForwardMask);
    if (!prefix)
        return ERROR_INVALID_NETMASK;
    const auto isOwnAddress = [&](uint32_t ifIndex, uint32_t a) {
        return std::any_of(addresses.begin(), addresses.end(), [&](const nl::Address& x) {
            return x.index == ifIndex && x.address == a;
        });
    };
    std::vector<RouteMatch> fitting; // everything but the metric fits
    for (const nl::Route& r : routes) {
        if ((r.table != RT_TABLE_MAIN && r.table != RT_TABLE_LOCAL) ||
            r.destination != row.dwForwardDest || r.prefixLength != *prefix)
            continue;
        for (size_t i = 0; i < r.nextHops.size(); ++i) {
            const nl::NextHop& h = r.nextHops[i];
            if (h.ifIndex != row.dwForwardIfIndex)
                continue;
            const uint32_t want = row.dwForwardNextHop;
            bool hopMatches = false;
            if (h.gateway != 0)
                hopMatches = h.gateway == want;
            else if (h.viaOtherFamily)
                hopMatches = want == 0; // as its row shows it
            else
                hopMatches =
                    want == 0 || want == r.preferredSource || isOwnAddress(h.ifIndex, want);
            if (hopMatches)
                fitting.push_back(RouteMatch{&r, i});
        }
    }
    return chooseByMetric(fitting, row.dwForwardMetric1, out);
}

} // namespace corvane::sys

namespace {

using namespace corvane::sys;

nlmsghdr* routeMessage(char* buf, uint16_t type, uint16_t flags, uint32_t table, uint32_t dst,
                       uint8_t len, uint8_t tos, uint8_t protocol, uint8_t scope, uint8_t routeType,
                       uint32_t priority) {
    rtmsg* rtm;
    nlmsghdr* nlh = nl::putRequest(buf, type, &rtm, flags);
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = len;
    rtm->rtm_tos = tos;
    rtm->rtm_table =
        table < 256 ? static_cast<uint8_t>(table) : static_cast<uint8_t>(RT_TABLE_UNSPEC);
    rtm->rtm_protocol = protocol;
    rtm->rtm_scope = scope;
    rtm->rtm_type = routeType;
    mnl_attr_put_u32(nlh, RTA_TABLE, table);
    if (len > 0)
        mnl_attr_put_u32(nlh, RTA_DST, dst);
    mnl_attr_put_u32(nlh, RTA_PRIORITY, priority);
    return nlh;
}

// A route the kernel refused because its interface or gateway is unknown says ENODEV or
// ENETUNREACH; an existing route, EEXIST. Everything else keeps its errno's code.
DWORD transact(nlmsghdr* nlh) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return resultFromErrno(sock.openError());
    return resultFromErrno(sock.transact(nlh));
}

// The last route this process deleted whole. A row cannot carry the kernel's protocol,
// scope or preferred source, so a caller that deletes a route, fails to make its
// replacement and adds the old row again would get a different route back; an add that
// names this route again soon after puts it back exactly as it was instead.
class DeletedRoute {
public:
    void remember(const nl::Route& route) {
        const std::lock_guard lock(mutex_);
        route_ = route;
        at_ = std::chrono::steady_clock::now();
    }
    void forget() {
        const std::lock_guard lock(mutex_);
        route_.reset();
    }
    // The route when the row names it and it was deleted recently; it is forgotten then.
    std::optional<nl::Route> takeIfNamed(const MIB_IPFORWARDROW& row,
                                         const std::vector<nl::Address>& addresses) {
        const std::lock_guard lock(mutex_);
        if (!route_ || std::chrono::steady_clock::now() - at_ > putBackWindow)
            return std::nullopt;
        const std::vector<nl::Route> one{*route_};
        RouteMatch match;
        if (findRouteForRow(row, one, addresses, match) != NO_ERROR ||
            route_->priority != row.dwForwardMetric1)
            return std::nullopt;
        std::optional<nl::Route> taken = std::move(route_);
        route_.reset();
        return taken;
    }

private:
    // Long enough for a refused change and the put-back that follows it, short enough that
    // a route the user re-creates by hand later is made as asked.
    static constexpr std::chrono::seconds putBackWindow{10};
    std::mutex mutex_;
    std::optional<nl::Route> route_;
    std::chrono::steady_clock::time_point at_;
};

DeletedRoute& lastDeleted() {
    static DeletedRoute deleted;
    return deleted;
}

DWORD putBack(const nl::Route& r) {
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh =
        routeMessage(buf, RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, r.table, r.destination,
                     r.prefixLength, r.tos, r.protocol, r.scope, r.type, r.priority);
    if (!r.nextHops.empty()) {
        mnl_attr_put_u32(nlh, RTA_OIF, r.nextHops[0].ifIndex);
        if (r.nextHops[0].gateway)
            mnl_attr_put_u32(nlh, RTA_GATEWAY, r.nextHops[0].gateway);
    }
    if (r.preferredSource)
        mnl_attr_put_u32(nlh, RTA_PREFSRC, r.preferredSource);
    return transact(nlh);
}

} // namespace

namespace corvane::sys::direct {

DWORD addRoute(const MIB_IPFORWARDROW& row) {
    // Reused from the last add while no address has changed: a list of routes reads them once.
    std::shared_ptr<const AddressList> addrs;
    if (const int e = currentAddresses(addrs))
        return resultFromErrno(e);
    std::vector<uint32_t> own;
    own.reserve(addrs->size());
    for (const nl::Address& a : *addrs)
        own.push_back(a.address);
    if (const std::optional<nl::Route> old = lastDeleted().takeIfNamed(row, *addrs))
        return putBack(*old);
    RouteRequest req;
    if (const DWORD e = routeRequestFromRow(row, own, req))
        return e;
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh =
        routeMessage(buf, RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, RT_TABLE_MAIN, req.destination,
                     req.prefixLength, 0, req.protocol,
                     req.gateway ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK, RTN_UNICAST, req.priority);
    mnl_attr_put_u32(nlh, RTA_OIF, req.ifIndex);
    if (req.gateway)
        mnl_attr_put_u32(nlh, RTA_GATEWAY, req.gateway);
    if (req.preferredSource)
        mnl_attr_put_u32(nlh, RTA_PREFSRC, req.preferredSource);
    const DWORD rc = transact(nlh);
    // The kernel calls a missing interface an unreachable network; say what it is. Asked
    // only on a refusal: the kernel adds no route through an interface it lacks.
    if (rc != NO_ERROR) {
        if (nl::Link link; nl::readLink(req.ifIndex, link) == ENODEV)
            return ERROR_DEV_NOT_EXIST;
        return rc;
    }
    // Another route made: the deleted one is no longer the change's old route.
    lastDeleted().forget();
    return rc;
}

DWORD deleteRoute(const MIB_IPFORWARDROW& row) {
    if (!prefixFromMask(row.dwForwardMask))
        return ERROR_INVALID_NETMASK;
    // The routes to that destination from the announcements the change check follows: a list
    // of deletions then costs no dump of the whole table per route.
    std::vector<nl::Route> routes;
    bool known = false;
    if (const int e =
            currentRoutesTo(row.dwForwardDest, *prefixFromMask(row.dwForwardMask), routes, known))
        return resultFromErrno(e);
    if (!known)
        if (const int e = nl::readRoutes(routes))
            return resultFromErrno(e);
    std::shared_ptr<const AddressList> addrs;
    if (const int e = currentAddresses(addrs))
        return resultFromErrno(e);
    RouteMatch match;
    if (const DWORD e = findRouteForRow(row, routes, *addrs, match))
        return e;
    const nl::Route& r = *match.route;
    char buf[MNL_SOCKET_BUFFER_SIZE];
    if (r.nextHops.size() <= 1) {
        // Naming table, key, type and protocol exactly deletes this route and no sibling.
        nlmsghdr* nlh = routeMessage(buf, RTM_DELROUTE, 0, r.table, r.destination, r.prefixLength,
                                     r.tos, r.protocol, RT_SCOPE_NOWHERE, r.type, r.priority);
        mnl_attr_put_u32(nlh, RTA_OIF, r.nextHops.empty() ? 0 : r.nextHops[0].ifIndex);
        if (!r.nextHops.empty() && r.nextHops[0].gateway)
            mnl_attr_put_u32(nlh, RTA_GATEWAY, r.nextHops[0].gateway);
        const DWORD rc = transact(nlh);
        // A gateway of another family is not decoded, so such a route could not be rebuilt.
        if (rc == NO_ERROR && (r.nextHops.empty() || !r.nextHops[0].viaOtherFamily))
            lastDeleted().remember(r);
        else if (rc == NO_ERROR)
            lastDeleted().forget();
        return rc;
    }
    lastDeleted().forget();
    // One next hop of several: the route is replaced by the others in one step. A gateway of
    // another family would be written back as on-link, so such a route is left alone.
    for (size_t i = 0; i < r.nextHops.size(); ++i)
        if (i != match.hop && r.nextHops[i].viaOtherFamily)
            return ERROR_NOT_SUPPORTED;
    nlmsghdr* nlh = routeMessage(buf, RTM_NEWROUTE, NLM_F_REPLACE, r.table, r.destination,
                                 r.prefixLength, r.tos, r.protocol, r.scope, r.type, r.priority);
    nlattr* mp = mnl_attr_nest_start(nlh, RTA_MULTIPATH);
    for (size_t i = 0; i < r.nextHops.size(); ++i) {
        if (i == match.hop)
            continue;
        auto* nh = static_cast<rtnexthop*>(mnl_nlmsg_get_payload_tail(nlh));
        const size_t start = nlh->nlmsg_len;
        nlh->nlmsg_len += MNL_ALIGN(sizeof(rtnexthop));
        *nh = rtnexthop{};
        nh->rtnh_ifindex = static_cast<int>(r.nextHops[i].ifIndex);
        if (r.nextHops[i].gateway)
            mnl_attr_put_u32(nlh, RTA_GATEWAY, r.nextHops[i].gateway);
        nh->rtnh_len = static_cast<unsigned short>(nlh->nlmsg_len - start);
    }
    mnl_attr_nest_end(nlh, mp);
    return transact(nlh);
}

} // namespace corvane::sys::direct

namespace {

DWORD changeRoute(bool add, const MIB_IPFORWARDROW* row) {
    if (!row)
        return ERROR_INVALID_PARAMETER;
    const corvane::helper::RouteArgs args{
        row->dwForwardDest, row->dwForwardMask,  row->dwForwardNextHop, row->dwForwardIfIndex,
        row->dwForwardType, row->dwForwardProto, row->dwForwardMetric1};
    if (const auto r = throughHelper([&] { return corvane::helper::changeRoute(add, args); }))
        return *r;
    return add ? direct::addRoute(*row) : direct::deleteRoute(*row);
}

} // namespace

extern "C" {

DWORD SetIpForwardEntry(MIB_IPFORWARDROW* row) {
    return guarded([row] { return changeRoute(true, row); });
}

DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row) {
    return guarded([row] { return changeRoute(false, row); });
}

DWORD CorvaneAddIpForwardEntries(const MIB_IPFORWARDROW* rows, DWORD count, BOOL persistent,
                                 DWORD* results, DWORD* storeResult) {
    return guarded([&]() -> DWORD {
        if ((count > 0 && (!rows || !results)) || !storeResult)
            return ERROR_INVALID_PARAMETER;
        *storeResult = NO_ERROR;
        if (dhcp::mayAdministerNetwork())
            return ERROR_NOT_SUPPORTED;
        const MIB_IPFORWARDROW& first = rows[0];
        for (DWORD i = 0; i < count; ++i)
            if (rows[i].dwForwardIfIndex != first.dwForwardIfIndex ||
                rows[i].dwForwardNextHop != first.dwForwardNextHop ||
                rows[i].dwForwardType != first.dwForwardType ||
                rows[i].dwForwardProto != first.dwForwardProto ||
                rows[i].dwForwardMetric1 != first.dwForwardMetric1)
                return ERROR_INVALID_PARAMETER;
        const corvane::helper::RouteArgs shared{0,
                                                0,
                                                first.dwForwardNextHop,
                                                first.dwForwardIfIndex,
                                                first.dwForwardType,
                                                first.dwForwardProto,
                                                first.dwForwardMetric1};
        std::vector<corvane::helper::RouteDestination> part;
        for (DWORD start = 0; start < count; start += corvane::helper::kMaxRouteBatch) {
            const DWORD end = std::min<DWORD>(count, start + corvane::helper::kMaxRouteBatch);
            part.clear();
            for (DWORD i = start; i < end; ++i)
                part.push_back({rows[i].dwForwardDest, rows[i].dwForwardMask});
            const corvane::helper::BatchReply reply =
                corvane::helper::addRoutes(shared, part, persistent != 0);
            if (!reply.reply.reached) {
                if (start == 0)
                    return ERROR_NOT_SUPPORTED;
                // Gone midway: what it did not answer for was not added.
                std::fill(results + start, results + count, DWORD{ERROR_HELPER_FAILED});
                return ERROR_HELPER_FAILED;
            }
            if (reply.reply.result != NO_ERROR) {
                std::fill(results + start, results + count, reply.reply.result);
                return reply.reply.result;
            }
            std::copy(reply.results.begin(), reply.results.end(), results + start);
            if (*storeResult == NO_ERROR)
                *storeResult = reply.store;
        }
        return NO_ERROR;
    });
}
}
