#include "dual.h"

#include "attrs.h"
#include "diag.h"
#include "message.h"
#include "read.h"
#include "socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/fib_rules.h>
#include <linux/if_addr.h>
#include <linux/inet_diag.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

namespace corvane::sys::nl {
namespace {

using attr::Attrs;
using attr::parse;
using attr::u32;
using attr::u8;

size_t addressLength(uint8_t family) {
    return family == AF_INET ? 4 : family == AF_INET6 ? 16 : 0;
}

// An address attribute of exactly the family's length.
bool address(const nlattr* a, uint8_t family, Ip& out) {
    const size_t n = addressLength(family);
    if (!a || n == 0 || mnl_attr_get_payload_len(a) != n)
        return false;
    out = {};
    std::memcpy(out.data(), mnl_attr_get_payload(a), n);
    return true;
}

// RTA_VIA: a gateway with its own family.
void via(const uint8_t* payload, size_t len, AnyHop& hop) {
    constexpr size_t head = offsetof(rtvia, rtvia_addr);
    if (len < head)
        return;
    __kernel_sa_family_t family = 0;
    std::memcpy(&family, payload, sizeof family);
    const size_t n = addressLength(static_cast<uint8_t>(family));
    if (n == 0 || len < head + n)
        return;
    hop.gatewayFamily = static_cast<uint8_t>(family);
    hop.gateway = {};
    std::memcpy(hop.gateway.data(), payload + head, n);
}

void gateway(const uint8_t* payload, size_t len, uint8_t family, AnyHop& hop) {
    const size_t n = addressLength(family);
    if (n == 0 || len != n)
        return;
    hop.gatewayFamily = family;
    hop.gateway = {};
    std::memcpy(hop.gateway.data(), payload, n);
}

void multipath(const nlattr* mp, uint8_t family, AnyRoute& out) {
    const auto* p = static_cast<const uint8_t*>(mnl_attr_get_payload(mp));
    size_t left = mnl_attr_get_payload_len(mp);
    while (left >= sizeof(rtnexthop) && out.hopCount < kMaxHops) {
        rtnexthop nh;
        std::memcpy(&nh, p, sizeof nh);
        if (nh.rtnh_len < sizeof(rtnexthop) || nh.rtnh_len > left)
            break;
        AnyHop& hop = out.hops[out.hopCount++];
        hop = AnyHop{};
        hop.ifIndex = static_cast<uint32_t>(nh.rtnh_ifindex);
        hop.weight = static_cast<uint8_t>(nh.rtnh_hops + 1); // the kernel stores weight - 1
        size_t off = RTNH_ALIGN(sizeof(rtnexthop));
        while (off + sizeof(nlattr) <= nh.rtnh_len) {
            nlattr at;
            std::memcpy(&at, p + off, sizeof at);
            if (at.nla_len < sizeof(nlattr) || off + at.nla_len > nh.rtnh_len)
                break;
            const uint16_t type = at.nla_type & NLA_TYPE_MASK;
            const uint8_t* payload = p + off + sizeof(nlattr);
            const size_t len = at.nla_len - sizeof(nlattr);
            if (type == RTA_GATEWAY)
                gateway(payload, len, family, hop);
            else if (type == RTA_VIA)
                via(payload, len, hop);
            off += NLA_ALIGN(at.nla_len);
        }
        const size_t step = RTNH_ALIGN(nh.rtnh_len);
        if (step >= left)
            break;
        p += step;
        left -= step;
    }
}

void name(const nlattr* a, char (&out)[16]) {
    std::memset(out, 0, sizeof out);
    if (!a || mnl_attr_validate(a, MNL_TYPE_NUL_STRING) < 0)
        return;
    const char* s = mnl_attr_get_str(a);
    std::memcpy(out, s, std::min(std::strlen(s), sizeof out - 1));
}

template <typename Range> bool range(const nlattr* a, Range& out) {
    if (!a || mnl_attr_get_payload_len(a) < sizeof(Range))
        return false;
    std::memcpy(&out, mnl_attr_get_payload(a), sizeof out);
    return true;
}

// One dump into callbacks, read again while the kernel marks it inconsistent.
template <typename Record, typename Build>
int dumpInto(int protocol, Build build, bool (*decode)(const nlmsghdr*, Record&),
             const std::function<void()>& reset, const std::function<void(const Record&)>& each) {
    int error = 0;
    for (int attempt = 0; attempt <= kMaxRereads; ++attempt) {
        Socket sock(protocol);
        if (!sock.ok())
            return sock.openError();
        char buf[MNL_SOCKET_BUFFER_SIZE];
        nlmsghdr* nlh = build(buf);
        if (reset)
            reset();
        Record r;
        const DumpStatus st = sock.dump(nlh, [&](const nlmsghdr* m) {
            if (decode(m, r))
                each(r);
        });
        error = st.error;
        if (error || !st.interrupted)
            return error;
    }
    return error; // the last dump, changing or not, is better than none
}

} // namespace

bool decodeAnyAddress(const nlmsghdr* nlh, AnyAddress& out) {
    if (nlh->nlmsg_type != RTM_NEWADDR)
        return false;
    Attrs<IFA_MAX + 1> a;
    if (!parse(nlh, sizeof(ifaddrmsg), a))
        return false;
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
    if (ifa->ifa_prefixlen > addressLength(ifa->ifa_family) * 8)
        return false;
    out = AnyAddress{};
    out.family = ifa->ifa_family;
    out.index = ifa->ifa_index;
    out.prefixLength = ifa->ifa_prefixlen;
    out.scope = ifa->ifa_scope;
    out.flags = ifa->ifa_flags;
    u32(a[IFA_FLAGS], out.flags);
    u8(a[IFA_PROTO], out.proto);
    // IFA_LOCAL is this host's address; IFA_ADDRESS the peer's on point-to-point links.
    // IPv6 gives IFA_LOCAL only for those, and then both.
    if (!address(a[IFA_LOCAL], out.family, out.address) &&
        !address(a[IFA_ADDRESS], out.family, out.address))
        return false;
    if (const nlattr* ci = a[IFA_CACHEINFO];
        ci && mnl_attr_get_payload_len(ci) >= sizeof(ifa_cacheinfo)) {
        ifa_cacheinfo info;
        std::memcpy(&info, mnl_attr_get_payload(ci), sizeof info);
        out.preferred = info.ifa_prefered;
        out.valid = info.ifa_valid;
        out.created = info.cstamp;
    }
    return true;
}

bool decodeAnyRoute(const nlmsghdr* nlh, AnyRoute& out) {
    if (nlh->nlmsg_type != RTM_NEWROUTE)
        return false;
    Attrs<RTA_MAX + 1> a;
    if (!parse(nlh, sizeof(rtmsg), a))
        return false;
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    const uint8_t family = rtm->rtm_family;
    if (addressLength(family) == 0 || rtm->rtm_dst_len > addressLength(family) * 8)
        return false;
    // Field by field: the next hop array is large and mostly unused.
    out.family = family;
    out.table = rtm->rtm_table;
    u32(a[RTA_TABLE], out.table);
    out.destination = {};
    address(a[RTA_DST], family, out.destination);
    out.prefixLength = rtm->rtm_dst_len;
    out.tos = rtm->rtm_tos;
    out.protocol = rtm->rtm_protocol;
    out.scope = rtm->rtm_scope;
    out.type = rtm->rtm_type;
    out.priority = 0;
    u32(a[RTA_PRIORITY], out.priority);
    out.preferredSource = {};
    out.hasSource = address(a[RTA_PREFSRC], family, out.preferredSource);
    out.expires = 0;
    if (const nlattr* ci = a[RTA_CACHEINFO];
        ci && mnl_attr_get_payload_len(ci) >= sizeof(rta_cacheinfo)) {
        rta_cacheinfo info;
        std::memcpy(&info, mnl_attr_get_payload(ci), sizeof info);
        // Clock ticks of 1/100 s; an expiry already passed still counts as one.
        if (info.rta_expires != 0) {
            const auto ticks = static_cast<int32_t>(info.rta_expires);
            out.expires = ticks <= 0 ? 1 : static_cast<uint32_t>((ticks + 99) / 100);
        }
    }
    out.hopCount = 0;
    if (const nlattr* mp = a[RTA_MULTIPATH]) {
        multipath(mp, family, out);
    } else {
        AnyHop& hop = out.hops[out.hopCount++];
        hop = AnyHop{};
        u32(a[RTA_OIF], hop.ifIndex);
        if (const nlattr* g = a[RTA_GATEWAY])
            gateway(static_cast<const uint8_t*>(mnl_attr_get_payload(g)),
                    mnl_attr_get_payload_len(g), family, hop);
        if (const nlattr* v = a[RTA_VIA])
            via(static_cast<const uint8_t*>(mnl_attr_get_payload(v)), mnl_attr_get_payload_len(v),
                hop);
    }
    return true;
}

bool decodeRule(const nlmsghdr* nlh, Rule& out) {
    if (nlh->nlmsg_type != RTM_NEWRULE)
        return false;
    Attrs<FRA_MAX + 1> a;
    if (!parse(nlh, sizeof(fib_rule_hdr), a))
        return false;
    fib_rule_hdr h;
    std::memcpy(&h, mnl_nlmsg_get_payload(nlh), sizeof h);
    const size_t bits = addressLength(h.family) * 8;
    if (bits == 0 || h.src_len > bits || h.dst_len > bits)
        return false;
    out = Rule{};
    out.family = h.family;
    out.action = h.action;
    out.tos = h.tos;
    out.flags = h.flags;
    out.table = h.table;
    u32(a[FRA_TABLE], out.table);
    u32(a[FRA_PRIORITY], out.priority);
    u32(a[FRA_GOTO], out.gotoTarget);
    if (address(a[FRA_SRC], h.family, out.source))
        out.srcLength = h.src_len;
    if (address(a[FRA_DST], h.family, out.destination))
        out.dstLength = h.dst_len;
    const bool mark = u32(a[FRA_FWMARK], out.fwmark);
    const bool mask = u32(a[FRA_FWMASK], out.fwmask);
    out.hasMark = mark || mask;
    if (mark && !mask)
        out.fwmask = 0xFFFFFFFFu;
    name(a[FRA_IIFNAME], out.iif);
    name(a[FRA_OIFNAME], out.oif);
    u8(a[FRA_IP_PROTO], out.ipProto);
    u8(a[FRA_L3MDEV], out.l3mdev);
    fib_rule_port_range ports{};
    if (range(a[FRA_SPORT_RANGE], ports)) {
        out.sportStart = ports.start;
        out.sportEnd = ports.end;
    }
    if (range(a[FRA_DPORT_RANGE], ports)) {
        out.dportStart = ports.start;
        out.dportEnd = ports.end;
    }
    fib_rule_uid_range uids{};
    if (range(a[FRA_UID_RANGE], uids)) {
        out.hasUid = true;
        out.uidStart = uids.start;
        out.uidEnd = uids.end;
    }
    uint32_t v = 0;
    if (u32(a[FRA_SUPPRESS_PREFIXLEN], v))
        out.suppressPrefixLength = static_cast<int32_t>(v);
    if (u32(a[FRA_SUPPRESS_IFGROUP], v))
        out.suppressIfGroup = static_cast<int32_t>(v);
    return true;
}

bool decodeAnySocket(const nlmsghdr* nlh, AnySocket& out) {
    if (nlh->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        nlh->nlmsg_len < mnl_nlmsg_size(sizeof(inet_diag_msg)))
        return false;
    inet_diag_msg msg;
    std::memcpy(&msg, mnl_nlmsg_get_payload(nlh), sizeof msg);
    const size_t n = addressLength(msg.idiag_family);
    if (n == 0)
        return false;
    out = AnySocket{};
    out.family = msg.idiag_family;
    out.state = msg.idiag_state;
    std::memcpy(out.local.data(), msg.id.idiag_src, n);
    std::memcpy(out.remote.data(), msg.id.idiag_dst, n);
    out.localPort = msg.id.idiag_sport;
    out.remotePort = msg.id.idiag_dport;
    out.boundIf = msg.id.idiag_if;
    out.inode = msg.idiag_inode;
    out.cookie = msg.id.idiag_cookie[0] | static_cast<uint64_t>(msg.id.idiag_cookie[1]) << 32;
    Attrs<INET_DIAG_MAX + 1> a;
    if (parse(nlh, sizeof(inet_diag_msg), a)) {
        uint8_t v6only = 0;
        out.v6only = u8(a[INET_DIAG_SKV6ONLY], v6only) && v6only != 0;
    }
    return true;
}

int dumpAnyAddresses(uint8_t family, const std::function<void()>& reset,
                     const std::function<void(const AnyAddress&)>& each) {
    return dumpInto<AnyAddress>(
        NETLINK_ROUTE,
        [family](char* buf) {
            ifaddrmsg* ifa;
            nlmsghdr* nlh = putRequest(buf, RTM_GETADDR, &ifa);
            ifa->ifa_family = family;
            return nlh;
        },
        decodeAnyAddress, reset,
        [&](const AnyAddress& x) {
            if (x.family == family)
                each(x);
        });
}

int dumpAnyRoutes(uint8_t family, uint32_t table, const std::function<void()>& reset,
                  const std::function<void(const AnyRoute&)>& each) {
    const int error = dumpInto<AnyRoute>(
        NETLINK_ROUTE,
        [family, table](char* buf) {
            rtmsg* rtm;
            nlmsghdr* nlh = putRequest(buf, RTM_GETROUTE, &rtm);
            rtm->rtm_family = family;
            // With strict checking the kernel leaves the other tables out itself.
            rtm->rtm_table = table < 256 ? static_cast<uint8_t>(table) : uint8_t{RT_TABLE_UNSPEC};
            if (table != 0)
                mnl_attr_put_u32(nlh, RTA_TABLE, table);
            return nlh;
        },
        decodeAnyRoute, reset,
        [&](const AnyRoute& r) {
            if (r.family == family && (table == 0 || r.table == table))
                each(r);
        });
    // Asked for one table the kernel does not have: it has no routes.
    return error == ENOENT && table != 0 ? 0 : error;
}

int dumpRules(uint8_t family, const std::function<void()>& reset,
              const std::function<void(const Rule&)>& each) {
    const int error = dumpInto<Rule>(
        NETLINK_ROUTE,
        [family](char* buf) {
            fib_rule_hdr* h;
            nlmsghdr* nlh = putRequest(buf, RTM_GETRULE, &h);
            h->family = family;
            return nlh;
        },
        decodeRule, reset,
        [&](const Rule& r) {
            if (r.family == family)
                each(r);
        });
    // A kernel built without policy routing for the family has no rules to show.
    return error == EAFNOSUPPORT ? 0 : error;
}

int readAnySockets(uint8_t family, uint8_t protocol, uint32_t states, std::vector<AnySocket>& out) {
    out.clear();
    AnySocket s;
    if (const int error = dumpInetDiag(family, protocol, states, [&](const nlmsghdr* m) {
            if (decodeAnySocket(m, s) && s.family == family)
                out.push_back(s);
        })) {
        out.clear();
        return error;
    }
    dropRepeats(out);
    return 0;
}

} // namespace corvane::sys::nl
