#include "read.h"

#include "message.h"
#include "socket.h"

#include <algorithm>
#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

namespace corvane::sys::nl {
namespace {

// Dumps into out, decoding with decode; re-reads while the kernel marks the dump
// interrupted.
template <typename Record, typename Build>
int dumpConsistent(Build build, bool (*decode)(const nlmsghdr*, Record&),
                   std::vector<Record>& out) {
    int error = 0;
    for (int attempt = 0; attempt <= kMaxRereads; ++attempt) {
        Socket sock(NETLINK_ROUTE);
        if (!sock.ok())
            return sock.openError();
        char buf[MNL_SOCKET_BUFFER_SIZE];
        nlmsghdr* nlh = build(buf);
        out.clear();
        Record r;
        const DumpStatus st = sock.dump(nlh, [&](const nlmsghdr* m) {
            if (decode(m, r))
                out.push_back(std::move(r));
        });
        error = st.error;
        if (error)
            return error;
        if (!st.interrupted)
            return 0;
    }
    return error; // the last dump, changing or not, is better than none
}

} // namespace

int readLinks(std::vector<Link>& out) {
    return dumpConsistent<Link>(
        [](char* buf) {
            ifinfomsg* ifi;
            nlmsghdr* nlh = putRequest(buf, RTM_GETLINK, &ifi);
            ifi->ifi_family = AF_UNSPEC;
            return nlh;
        },
        decodeLink, out);
}

int readAddresses(std::vector<Address>& out, uint32_t ifIndex) {
    const int error = dumpConsistent<Address>(
        [ifIndex](char* buf) {
            ifaddrmsg* ifa;
            nlmsghdr* nlh = putRequest(buf, RTM_GETADDR, &ifa);
            ifa->ifa_family = AF_INET;
            // With strict checking the kernel dumps that interface alone.
            ifa->ifa_index = ifIndex;
            return nlh;
        },
        decodeAddress, out);
    if (ifIndex != 0) // a kernel without strict checking sends all
        std::erase_if(out, [ifIndex](const Address& a) { return a.index != ifIndex; });
    return error;
}

namespace {

bool sameKey(const Route& a, const Route& b) {
    return a.table == b.table && a.destination == b.destination &&
           a.prefixLength == b.prefixLength && a.tos == b.tos && a.priority == b.priority;
}

bool sameHops(const Route& a, const Route& b) {
    return a.nextHops.size() == b.nextHops.size() &&
           std::equal(a.nextHops.begin(), a.nextHops.end(), b.nextHops.begin(),
                      [](const NextHop& x, const NextHop& y) {
                          return x.ifIndex == y.ifIndex && x.gateway == y.gateway;
                      });
}

} // namespace

void applyRouteEvent(std::vector<Route>& routes, const nlmsghdr* nlh) {
    const bool added = nlh->nlmsg_type == RTM_NEWROUTE;
    if (!added && nlh->nlmsg_type != RTM_DELROUTE)
        return;
    Route r;
    if (!decodeRouteChange(nlh, r))
        return;
    const auto identical = [&](const Route& x) { return sameKey(x, r) && sameHops(x, r); };
    if (!added) {
        const auto it = std::find_if(routes.begin(), routes.end(), identical);
        if (it != routes.end())
            routes.erase(it);
        return;
    }
    if (nlh->nlmsg_flags & NLM_F_REPLACE) {
        const auto it = std::find_if(routes.begin(), routes.end(),
                                     [&](const Route& x) { return sameKey(x, r); });
        if (it != routes.end()) {
            *it = std::move(r);
            return;
        }
    }
    if (std::none_of(routes.begin(), routes.end(), identical))
        routes.push_back(std::move(r));
}

namespace {

// Judged on the fixed header alone, so routes a caller does not want are never decoded: in a
// big table that is most of the cost.
bool wanted(const nlmsghdr* nlh, const RouteFilter& filter) {
    if ((nlh->nlmsg_type != RTM_NEWROUTE && nlh->nlmsg_type != RTM_DELROUTE) ||
        nlh->nlmsg_len < mnl_nlmsg_size(sizeof(rtmsg)))
        return false;
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    return rtm->rtm_family == AF_INET && (!filter.defaultOnly || rtm->rtm_dst_len == 0) &&
           (!filter.table || rtm->rtm_table == filter.table) &&
           (!filter.type || rtm->rtm_type == filter.type);
}

// An IPv4 route dump request. With strict checking on, the kernel leaves out other tables
// and types itself: table 0 asks for every table; another is named in full (RTA_TABLE) as
// well as in the header's one byte.
nlmsghdr* putRouteDump(char* buf, uint32_t table, uint8_t type = 0) {
    rtmsg* rtm;
    nlmsghdr* nlh = putRequest(buf, RTM_GETROUTE, &rtm);
    rtm->rtm_family = AF_INET;
    rtm->rtm_table = static_cast<uint8_t>(table < 256 ? table : uint32_t{RT_TABLE_COMPAT});
    rtm->rtm_type = type;
    if (table != 0)
        mnl_attr_put_u32(nlh, RTA_TABLE, table);
    return nlh;
}

// One table's routes, each handed over while each answers true; with meanwhile, received on
// a thread of their own (to the end) while this one runs it. A kernel without strict checking
// sends every table: the others are skipped here.
int dumpTable(uint32_t table, const std::function<bool(const nlmsghdr*, const Route&)>& each,
              const std::function<void()>& meanwhile = {}) {
    Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = putRouteDump(buf, table);
    Route r;
    const auto one = [&](const nlmsghdr* m) {
        return !decodeRoute(m, r) || r.table != table || each(m, r);
    };
    if (meanwhile)
        return sock
            .dumpReadAhead(
                nlh, [&one](const nlmsghdr* m) { one(m); }, meanwhile)
            .error;
    return sock.dumpWhile(nlh, one).error;
}

} // namespace

int dumpRoutes(const RouteFilter& filter, const std::function<void(const Route&)>& each) {
    return dumpRouteMessages(filter, [&each](const nlmsghdr*, const Route& r) { each(r); });
}

int dumpRouteMessages(const RouteFilter& filter,
                      const std::function<void(const nlmsghdr*, const Route&)>& each) {
    Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = putRouteDump(buf, filter.table, filter.type);
    Route r;
    return sock
        .dump(nlh,
              [&](const nlmsghdr* m) {
                  if (wanted(m, filter) && decodeRoute(m, r))
                      each(m, r);
              })
        .error;
}

int readRoutes(std::vector<Route>& out, const RouteFilter& filter) {
    // IPv4 route dumps are not marked when the table changes underneath them, so a dump can
    // show a table that never existed. Every change made while dumping is also announced on
    // an event socket opened before the dump; replaying those announcements over the dump
    // gives the table as it stood after the last change. Only a lost announcement (event
    // queue overflow) forces a re-read.
    for (int attempt = 0; attempt <= kMaxRereads; ++attempt) {
        Socket events(NETLINK_ROUTE, {RTNLGRP_IPV4_ROUTE});
        out.clear();
        if (const int error = dumpRoutes(filter, [&](const Route& r) { out.push_back(r); }))
            return error;
        if (!events.ok())
            return 0; // nothing to check against; a plain dump is the best there is
        std::vector<std::vector<uint8_t>> announced;
        const int error = events.drain([&](const nlmsghdr* m) {
            if (!wanted(m, filter))
                return;
            // With the padding the attribute walk may reach; the socket's walk vouched for it.
            const auto* p = reinterpret_cast<const uint8_t*>(m);
            announced.emplace_back(p, p + NLMSG_ALIGN(m->nlmsg_len));
        });
        for (const auto& msg : announced)
            applyRouteEvent(out, reinterpret_cast<const nlmsghdr*>(msg.data()));
        if (error == 0)
            return 0;
    }
    return 0; // the last dump, replayed as far as the announcements went
}

int dumpTableMessages(uint32_t table,
                      const std::function<void(const nlmsghdr*, const Route&)>& each,
                      const std::function<void()>& meanwhile) {
    return dumpTable(
        table,
        [&each](const nlmsghdr* m, const Route& r) {
            each(m, r);
            return true;
        },
        meanwhile);
}

uint32_t routeTableOf(const nlmsghdr* nlh) {
    Route r;
    return decodeRouteChange(nlh, r) ? r.table : 0;
}

bool isMainDefault(const Route& r) {
    return r.table == RT_TABLE_MAIN && r.type == RTN_UNICAST && r.prefixLength == 0;
}

int readMainDefaultRoutes(std::vector<Route>& out) {
    out.clear();
    return dumpTable(RT_TABLE_MAIN, [&out](const nlmsghdr*, const Route& r) {
        if (r.destination != 0)
            return false; // past 0.0.0.0: no default route can follow
        if (isMainDefault(r))
            out.push_back(r);
        return true;
    });
}

int lookupRoute(uint32_t destination, Route& out) {
    Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    rtmsg* rtm;
    nlmsghdr* nlh = putRequest(buf, RTM_GETROUTE, &rtm);
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = 32;
    mnl_attr_put_u32(nlh, RTA_DST, destination);
    bool found = false;
    const int error =
        sock.transact(nlh, [&](const nlmsghdr* m) { found = found || decodeRoute(m, out); });
    if (error)
        return error;
    return found ? 0 : ENETUNREACH;
}

int readLink(uint32_t index, Link& out) {
    Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    ifinfomsg* ifi;
    nlmsghdr* nlh = putRequest(buf, RTM_GETLINK, &ifi);
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(index);
    bool found = false;
    const int error = sock.transact(nlh, [&](const nlmsghdr* m) { found = decodeLink(m, out); });
    if (error)
        return error;
    return found ? 0 : ENODEV;
}

} // namespace corvane::sys::nl
