#include "platform/rtnetwatch.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/filter.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <vector>

namespace corvane {
namespace {

// A storm of changes must not overrun the socket between two reads: room for some
// seconds' worth of them (granted to root beyond the usual limit).
constexpr int receiveBuffer = 8 << 20;
// Notifications are one datagram each: many are taken per system call.
constexpr unsigned batch = 64;
constexpr std::size_t datagramRoom = 4096;

struct RouteAttrs {
    std::uint32_t destination = 0;
    std::uint32_t table = 0;
};

int routeAttr(const nlattr* attr, void* data) {
    auto* out = static_cast<RouteAttrs*>(data);
    switch (mnl_attr_get_type(attr)) {
    case RTA_DST:
        if (mnl_attr_validate(attr, MNL_TYPE_U32) >= 0)
            out->destination = ntohl(mnl_attr_get_u32(attr));
        break;
    case RTA_TABLE:
        if (mnl_attr_validate(attr, MNL_TYPE_U32) >= 0)
            out->table = mnl_attr_get_u32(attr);
        break;
    default:
        break;
    }
    return MNL_CB_OK;
}

// Whether a route message names a route the filter wants; one it cannot read does.
// With wide, every IPv6 route and every route of another table matters too.
bool routeMatters(const nlmsghdr* h, const RouteChangeWatch::RouteFilter& filter, bool wide) {
    if (!filter)
        return true;
    if (h->nlmsg_len < mnl_nlmsg_size(sizeof(rtmsg)))
        return true;
    const auto* rt = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(h));
    if (rt->rtm_family != AF_INET)
        return wide && rt->rtm_family == AF_INET6;
    RouteAttrs attrs;
    attrs.table = rt->rtm_table;
    if (mnl_attr_parse(h, sizeof(rtmsg), routeAttr, &attrs) < 0)
        return true;
    if (attrs.table != RT_TABLE_MAIN)
        return wide && attrs.table != RT_TABLE_LOCAL;
    return filter(attrs.destination, rt->rtm_dst_len);
}

struct RouteRow {
    MIB_IPFORWARDROW row{};
    std::uint32_t table = 0;
    bool gateway = false;
};

int routeRowAttr(const nlattr* attr, void* data) {
    auto* out = static_cast<RouteRow*>(data);
    if (mnl_attr_get_type(attr) != RTA_MULTIPATH && mnl_attr_validate(attr, MNL_TYPE_U32) < 0)
        return MNL_CB_OK;
    switch (mnl_attr_get_type(attr)) {
    case RTA_DST:
        out->row.dwForwardDest = mnl_attr_get_u32(attr);
        break;
    case RTA_GATEWAY:
        out->row.dwForwardNextHop = mnl_attr_get_u32(attr);
        out->gateway = true;
        break;
    case RTA_PREFSRC:
        if (!out->gateway)
            out->row.dwForwardNextHop = mnl_attr_get_u32(attr);
        break;
    case RTA_OIF:
        out->row.dwForwardIfIndex = mnl_attr_get_u32(attr);
        break;
    case RTA_PRIORITY:
        out->row.dwForwardMetric1 = mnl_attr_get_u32(attr);
        break;
    case RTA_TABLE:
        out->table = mnl_attr_get_u32(attr);
        break;
    default:
        break;
    }
    return MNL_CB_OK;
}

int routeRowMessage(const nlmsghdr* h, void* data) {
    if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < mnl_nlmsg_size(sizeof(rtmsg)))
        return MNL_CB_OK;
    const auto* rt = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(h));
    if (rt->rtm_family != AF_INET || rt->rtm_type != RTN_UNICAST)
        return MNL_CB_OK;
    RouteRow r;
    r.table = rt->rtm_table;
    if (mnl_attr_parse(h, sizeof(rtmsg), routeRowAttr, &r) < 0 || r.table != RT_TABLE_MAIN)
        return MNL_CB_OK;
    MIB_IPFORWARDROW& row = r.row;
    row.dwForwardMask =
        rt->rtm_dst_len == 0 ? 0 : htonl(~0U << (32 - std::min<unsigned>(rt->rtm_dst_len, 32)));
    row.dwForwardType = r.gateway ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    static_cast<std::vector<MIB_IPFORWARDROW>*>(data)->push_back(row);
    return MNL_CB_OK;
}

// One dump of type for family, each message handed to take. 0 or an errno.
template <typename Take> int dump(std::uint16_t type, std::size_t headerSize, Take take) {
    mnl_socket* sock = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!sock)
        return errno;
    int error = 0;
    if (mnl_socket_bind(sock, 0, MNL_SOCKET_AUTOPID) < 0) {
        error = errno;
    } else {
        std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE * 4);
        nlmsghdr* h = mnl_nlmsg_put_header(buffer.data());
        h->nlmsg_type = type;
        h->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        const unsigned seq = 1;
        h->nlmsg_seq = seq;
        // rtm_family and ifa_family both lead their headers.
        auto* family = static_cast<unsigned char*>(mnl_nlmsg_put_extra_header(h, headerSize));
        *family = AF_INET;
        const unsigned portid = mnl_socket_get_portid(sock);
        if (mnl_socket_sendto(sock, h, h->nlmsg_len) < 0) {
            error = errno;
        } else {
            // Read by hand to the end: the library's callback runner stops at the first part
            // the kernel marked interrupted, which would leave the rest of the table unread.
            bool done = false;
            while (!done && error == 0) {
                const ssize_t n = mnl_socket_recvfrom(sock, buffer.data(), buffer.size());
                if (n < 0) {
                    if (errno != EINTR)
                        error = errno;
                    continue;
                }
                int left = static_cast<int>(n);
                for (auto* m = reinterpret_cast<const nlmsghdr*>(buffer.data());
                     !done && mnl_nlmsg_ok(m, left); m = mnl_nlmsg_next(m, &left)) {
                    if (m->nlmsg_seq != seq || m->nlmsg_pid != portid)
                        continue;
                    if (m->nlmsg_type == NLMSG_DONE) {
                        done = true;
                    } else if (m->nlmsg_type == NLMSG_ERROR) {
                        const auto* e = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(m));
                        if (m->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr)) || e->error != 0)
                            error = m->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr)) ? EPROTO
                                                                                    : -e->error;
                        done = true;
                    } else {
                        take(m);
                    }
                }
                if (n == 0)
                    error = EPROTO;
            }
        }
    }
    mnl_socket_close(sock);
    return error;
}

} // namespace

int readMainRoutes(std::vector<MIB_IPFORWARDROW>& rows) {
    rows.clear();
    const int error =
        dump(RTM_GETROUTE, sizeof(rtmsg), [&](const nlmsghdr* m) { routeRowMessage(m, &rows); });
    if (error != 0)
        rows.clear();
    return error;
}

int readIPv4Addresses(std::vector<InterfaceAddress>& addresses) {
    addresses.clear();
    const int error = dump(RTM_GETADDR, sizeof(ifaddrmsg), [&](const nlmsghdr* m) {
        if (m->nlmsg_type != RTM_NEWADDR || m->nlmsg_len < mnl_nlmsg_size(sizeof(ifaddrmsg)))
            return;
        const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(m));
        if (ifa->ifa_family != AF_INET)
            return;
        InterfaceAddress a;
        a.prefixLength = ifa->ifa_prefixlen;
        a.ifIndex = ifa->ifa_index;
        struct Found {
            std::uint32_t local = 0, address = 0;
        } found;
        mnl_attr_parse(
            m, sizeof(ifaddrmsg),
            [](const nlattr* attr, void* data) -> int {
                auto* f = static_cast<Found*>(data);
                const auto t = mnl_attr_get_type(attr);
                if ((t == IFA_LOCAL || t == IFA_ADDRESS) &&
                    mnl_attr_validate(attr, MNL_TYPE_U32) >= 0)
                    (t == IFA_LOCAL ? f->local : f->address) = ntohl(mnl_attr_get_u32(attr));
                return MNL_CB_OK;
            },
            &found);
        // IFA_LOCAL is this end of a point-to-point link; IFA_ADDRESS there is the peer.
        a.address = found.local != 0 ? found.local : found.address;
        if (a.address != 0)
            addresses.push_back(a);
    });
    if (error != 0)
        addresses.clear();
    return error;
}

RouteChangeWatch::~RouteChangeWatch() {
    if (socket_)
        mnl_socket_close(socket_);
}

int RouteChangeWatch::open() {
    socket_ = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (!socket_)
        return errno;
    const int fd = mnl_socket_get_fd(socket_);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (mnl_socket_bind(socket_, RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE,
                        MNL_SOCKET_AUTOPID) < 0) {
        const int error = errno;
        mnl_socket_close(socket_);
        socket_ = nullptr;
        return error;
    }
    return 0;
}

bool RouteChangeWatch::passOnlyRoutes(
    const std::vector<std::pair<std::uint32_t, unsigned>>* routes) {
    if (!socket_)
        return false;
    constexpr std::size_t maxRoutes = 600; // five instructions each, within the 4096 allowed
    if (!routes || routes->size() > maxRoutes) {
        int unused = 0;
        ::setsockopt(fd(), SOL_SOCKET, SO_DETACH_FILTER, &unused, sizeof unused);
        return routes == nullptr;
    }
    constexpr std::uint32_t pass = 0xFFFFFFFFU, drop = 0;
    // Offsets in a notification: the message header (16 bytes), then the route header, then
    // the attributes as the kernel writes them for IPv4: RTA_TABLE first, RTA_DST next.
    constexpr std::uint32_t type = 4, family = 16, dstLen = 17, table = 20, attr1 = 28, attr2 = 36,
                            dst = 40;
    // Loads read in network order: the host-order fields compare against their swapped values.
    std::vector<sock_filter> code = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, type),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htons(RTM_NEWROUTE), 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htons(RTM_DELROUTE), 1, 0),
        BPF_STMT(BPF_RET | BPF_K, pass), // links and addresses
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, family),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, drop),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, table),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, RT_TABLE_MAIN, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, drop),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, dstLen),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, pass), // a default route names no destination
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, attr1),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (std::uint32_t{htons(8)} << 16) | htons(RTA_TABLE), 1,
                 0),
        BPF_STMT(BPF_RET | BPF_K, pass), // laid out otherwise: let drain decide
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, attr2),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (std::uint32_t{htons(8)} << 16) | htons(RTA_DST), 1, 0),
        BPF_STMT(BPF_RET | BPF_K, pass),
    };
    for (const auto& [destination, length] : *routes) {
        code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, dst));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, destination, 0, 3));
        code.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_ABS, dstLen));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, length, 0, 1));
        code.push_back(BPF_STMT(BPF_RET | BPF_K, pass));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, drop));
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return ::setsockopt(fd(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

int RouteChangeWatch::watchWide() {
    if (!socket_)
        return EBADF;
    if (wide_)
        return 0;
    for (int group : {RTNLGRP_IPV6_ROUTE, RTNLGRP_IPV6_IFADDR})
        if (mnl_socket_setsockopt(socket_, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) < 0)
            return errno;
    wide_ = true;
    return 0;
}

int RouteChangeWatch::fd() const {
    return socket_ ? mnl_socket_get_fd(socket_) : -1;
}

RouteChangeWatch::Changes RouteChangeWatch::drain(const RouteFilter& filter, std::size_t limit) {
    Changes changes;
    if (!socket_) {
        changes.error = EBADF;
        return changes;
    }
    static thread_local std::vector<char> buffer(batch * datagramRoom);
    std::array<iovec, batch> iov;
    std::array<mmsghdr, batch> msgs;
    std::size_t read = 0;
    while (read < limit) {
        for (unsigned i = 0; i < batch; ++i) {
            iov[i] = {buffer.data() + i * datagramRoom, datagramRoom};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::recvmmsg(fd(), msgs.data(), batch, MSG_DONTWAIT, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) {
                changes.any = changes.overrun = true;
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                changes.error = errno;
            break;
        }
        if (n == 0)
            break;
        for (int i = 0; i < n; ++i) {
            // Only the kernel speaks on this socket; a datagram cut short said something.
            if (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) {
                changes.any = changes.overrun = true;
                continue;
            }
            read += msgs[i].msg_len;
            int left = static_cast<int>(msgs[i].msg_len);
            for (auto* h = static_cast<const nlmsghdr*>(iov[i].iov_base); mnl_nlmsg_ok(h, left);
                 h = mnl_nlmsg_next(h, &left)) {
                switch (h->nlmsg_type) {
                case RTM_NEWLINK:
                case RTM_DELLINK:
                case RTM_NEWADDR:
                case RTM_DELADDR:
                    changes.any = changes.linksOrAddresses = true;
                    break;
                case RTM_NEWROUTE:
                case RTM_DELROUTE:
                    if (!changes.any && routeMatters(h, filter, wide_))
                        changes.any = true;
                    break;
                default:
                    break;
                }
            }
        }
        if (static_cast<unsigned>(n) < batch)
            break;
    }
    return changes;
}

} // namespace corvane
