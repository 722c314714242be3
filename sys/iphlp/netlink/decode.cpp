#include "records.h"

#include "attrs.h"

#include <cstddef>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

namespace corvane::sys::nl {
namespace {

using attr::Attrs;
using attr::parse;
using attr::parseNested;
using attr::u32;
using attr::u8;

// RTA_VIA: a gateway given with its address family. An IPv4 one is an ordinary gateway.
void via(const void* payload, size_t len, NextHop& hop) {
    constexpr size_t head = offsetof(rtvia, rtvia_addr);
    __kernel_sa_family_t family = 0;
    if (len < head)
        return;
    std::memcpy(&family, payload, sizeof family);
    if (family == AF_INET && len >= head + 4)
        std::memcpy(&hop.gateway, static_cast<const uint8_t*>(payload) + head, 4);
    else
        hop.viaOtherFamily = true;
}

std::string str(const nlattr* a) {
    if (!a || mnl_attr_validate(a, MNL_TYPE_NUL_STRING) < 0)
        return {};
    return mnl_attr_get_str(a);
}

} // namespace

bool decodeLink(const nlmsghdr* nlh, Link& out) {
    if (nlh->nlmsg_type != RTM_NEWLINK)
        return false;
    Attrs<IFLA_MAX + 1> a;
    if (!parse(nlh, sizeof(ifinfomsg), a))
        return false;
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
    out = Link{};
    out.index = static_cast<uint32_t>(ifi->ifi_index);
    out.arpType = ifi->ifi_type;
    out.flags = ifi->ifi_flags;
    out.name = str(a[IFLA_IFNAME]);
    u32(a[IFLA_MTU], out.mtu);
    u8(a[IFLA_OPERSTATE], out.operState);
    u32(a[IFLA_TXQLEN], out.txQueueLen);
    if (const nlattr* mac = a[IFLA_ADDRESS]) {
        const auto* p = static_cast<const uint8_t*>(mnl_attr_get_payload(mac));
        out.mac.assign(p, p + mnl_attr_get_payload_len(mac));
    }
    if (const nlattr* info = a[IFLA_LINKINFO]) {
        Attrs<IFLA_INFO_MAX + 1> li;
        if (parseNested(info, li))
            out.kind = str(li[IFLA_INFO_KIND]);
    }
    if (const nlattr* s = a[IFLA_STATS64];
        s && mnl_attr_get_payload_len(s) >= sizeof(rtnl_link_stats64)) {
        rtnl_link_stats64 st;
        std::memcpy(&st, mnl_attr_get_payload(s), sizeof st); // may be unaligned
        out.hasStats = true;
        out.stats = {st.rx_bytes, st.rx_packets, st.rx_errors, st.rx_dropped, st.multicast,
                     st.tx_bytes, st.tx_packets, st.tx_errors, st.tx_dropped, st.rx_nohandler};
    }
    return out.index != 0;
}

bool decodeAddress(const nlmsghdr* nlh, Address& out) {
    if (nlh->nlmsg_type != RTM_NEWADDR)
        return false;
    Attrs<IFA_MAX + 1> a;
    if (!parse(nlh, sizeof(ifaddrmsg), a))
        return false;
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
    if (ifa->ifa_family != AF_INET)
        return false;
    out = Address{};
    out.index = ifa->ifa_index;
    out.prefixLength = ifa->ifa_prefixlen;
    out.scope = ifa->ifa_scope;
    out.flags = ifa->ifa_flags;
    u32(a[IFA_FLAGS], out.flags); // the full 32-bit flags when present
    // IFA_LOCAL is this host's address; IFA_ADDRESS is the peer on point-to-point links.
    if (!u32(a[IFA_LOCAL], out.address) && !u32(a[IFA_ADDRESS], out.address))
        return false;
    out.label = str(a[IFA_LABEL]);
    return true;
}

bool decodeRoute(const nlmsghdr* nlh, Route& out) {
    return nlh->nlmsg_type == RTM_NEWROUTE && decodeRouteChange(nlh, out);
}

bool decodeRouteChange(const nlmsghdr* nlh, Route& out) {
    if (nlh->nlmsg_type != RTM_NEWROUTE && nlh->nlmsg_type != RTM_DELROUTE)
        return false;
    Attrs<RTA_MAX + 1> a;
    if (!parse(nlh, sizeof(rtmsg), a))
        return false;
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    if (rtm->rtm_family != AF_INET || rtm->rtm_dst_len > 32)
        return false;
    // A dump decodes into one record again and again; its next hop storage is kept.
    std::vector<NextHop> hops = std::move(out.nextHops);
    hops.clear();
    out = Route{};
    out.nextHops = std::move(hops);
    out.table = rtm->rtm_table;
    u32(a[RTA_TABLE], out.table);
    out.prefixLength = rtm->rtm_dst_len;
    out.tos = rtm->rtm_tos;
    out.protocol = rtm->rtm_protocol;
    out.scope = rtm->rtm_scope;
    out.type = rtm->rtm_type;
    u32(a[RTA_DST], out.destination);
    u32(a[RTA_PRIORITY], out.priority);
    u32(a[RTA_PREFSRC], out.preferredSource);
    if (const nlattr* mp = a[RTA_MULTIPATH]) {
        const auto* p = static_cast<const uint8_t*>(mnl_attr_get_payload(mp));
        size_t left = mnl_attr_get_payload_len(mp);
        while (left >= sizeof(rtnexthop)) {
            rtnexthop nh;
            std::memcpy(&nh, p, sizeof nh);
            if (nh.rtnh_len < sizeof(rtnexthop) || nh.rtnh_len > left)
                break;
            NextHop hop;
            hop.ifIndex = static_cast<uint32_t>(nh.rtnh_ifindex);
            // The next hop's own attributes follow its header.
            size_t off = RTNH_ALIGN(sizeof(rtnexthop));
            while (off + sizeof(nlattr) <= nh.rtnh_len) {
                nlattr at;
                std::memcpy(&at, p + off, sizeof at);
                if (at.nla_len < sizeof(nlattr) || off + at.nla_len > nh.rtnh_len)
                    break;
                const uint16_t type = at.nla_type & NLA_TYPE_MASK;
                if (type == RTA_GATEWAY && at.nla_len >= sizeof(nlattr) + 4)
                    std::memcpy(&hop.gateway, p + off + sizeof(nlattr), 4);
                else if (type == RTA_VIA)
                    via(p + off + sizeof(nlattr), at.nla_len - sizeof(nlattr), hop);
                off += NLA_ALIGN(at.nla_len);
            }
            out.nextHops.push_back(hop);
            const size_t step = RTNH_ALIGN(nh.rtnh_len);
            if (step >= left)
                break;
            p += step;
            left -= step;
        }
    } else {
        NextHop hop;
        u32(a[RTA_OIF], hop.ifIndex);
        u32(a[RTA_GATEWAY], hop.gateway);
        if (const nlattr* v = a[RTA_VIA])
            via(mnl_attr_get_payload(v), mnl_attr_get_payload_len(v), hop);
        out.nextHops.push_back(hop);
    }
    return true;
}

} // namespace corvane::sys::nl
