#include "default_routes.h"

#include "netlink/read.h"
#include "netlink/socket.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace corvane::sys {
namespace {

// Judged on the fixed header alone, before any attribute is decoded.
bool mayBeDefault(const nlmsghdr* nlh) {
    if ((nlh->nlmsg_type != RTM_NEWROUTE && nlh->nlmsg_type != RTM_DELROUTE) ||
        nlh->nlmsg_len < mnl_nlmsg_size(sizeof(rtmsg)))
        return false;
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    return rtm->rtm_family == AF_INET && rtm->rtm_dst_len == 0;
}

} // namespace

int readDefaultRoutes(std::vector<nl::Route>& out) {
    for (int attempt = 0; attempt <= nl::kMaxRereads; ++attempt) {
        nl::Socket events(NETLINK_ROUTE, {RTNLGRP_IPV4_ROUTE});
        nl::Socket sock(NETLINK_ROUTE);
        if (!sock.ok())
            return sock.openError();
        char buf[MNL_SOCKET_BUFFER_SIZE];
        nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
        nlh->nlmsg_type = RTM_GETROUTE;
        auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
        rtm->rtm_family = AF_INET;
        // With strict checking the kernel leaves out other tables and route types itself.
        rtm->rtm_table = RT_TABLE_MAIN;
        rtm->rtm_type = RTN_UNICAST;
        out.clear();
        nl::Route r;
        const nl::DumpStatus st = sock.dump(nlh, [&](const nlmsghdr* m) {
            if (mayBeDefault(m) && nl::decodeRoute(m, r))
                out.push_back(std::move(r));
        });
        if (st.error)
            return st.error;
        if (!events.ok())
            return 0;
        std::vector<std::vector<uint8_t>> announced;
        const int error = events.drain([&](const nlmsghdr* m) {
            if (!mayBeDefault(m))
                return;
            const auto* p = reinterpret_cast<const uint8_t*>(m);
            announced.emplace_back(p, p + m->nlmsg_len);
        });
        for (const auto& msg : announced)
            nl::applyRouteEvent(out, reinterpret_cast<const nlmsghdr*>(msg.data()));
        if (error == 0)
            return 0;
    }
    return 0; // the last dump, replayed as far as the announcements went
}

} // namespace corvane::sys
