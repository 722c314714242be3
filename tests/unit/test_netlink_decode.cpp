// Decoding of rtnetlink messages and their mapping to the platform's rows, on synthesized and
// broken messages; no kernel involved.
#include "buffers.h"
#include "change_counts.h"
#include "if_rows.h"
#include "ip_counters.h"
#include "iphlpapi.h"
#include "netlink/read.h"
#include "netlink/socket.h"
#include "route_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>
#include <tuple>

using namespace corvane::sys;

namespace {

uint32_t ip(const char* text) {
    return ::inet_addr(text);
}

struct Msg {
    alignas(nlmsghdr) char buf[4096]{};
    nlmsghdr* nlh;
    size_t multipath = 0; // offset of RTA_MULTIPATH
    explicit Msg(uint16_t type, uint16_t flags = 0) : nlh(mnl_nlmsg_put_header(buf)) {
        nlh->nlmsg_type = type;
        nlh->nlmsg_flags = flags;
    }
    Msg(const Msg& o) : nlh(reinterpret_cast<nlmsghdr*>(buf)), multipath(o.multipath) {
        std::memcpy(buf, o.buf, sizeof buf);
    }
    Msg& operator=(const Msg&) = delete;
    template <typename H> H* header() {
        return static_cast<H*>(mnl_nlmsg_put_extra_header(nlh, sizeof(H)));
    }
};

Msg link(uint16_t type, int index, unsigned flags = IFF_UP, uint8_t family = AF_UNSPEC) {
    Msg m(type);
    auto* ifi = m.header<ifinfomsg>();
    ifi->ifi_family = family;
    ifi->ifi_index = index;
    ifi->ifi_flags = flags;
    mnl_attr_put_strz(m.nlh, IFLA_IFNAME, "x");
    return m;
}

Msg address(uint16_t type, uint32_t index, const char* local, uint8_t prefix = 24) {
    Msg m(type);
    auto* ifa = m.header<ifaddrmsg>();
    ifa->ifa_family = AF_INET;
    ifa->ifa_index = index;
    ifa->ifa_prefixlen = prefix;
    mnl_attr_put_u32(m.nlh, IFA_LOCAL, ip(local));
    mnl_attr_put_u32(m.nlh, IFA_ADDRESS, ip(local));
    return m;
}

struct RouteSpec {
    uint32_t table = RT_TABLE_MAIN;
    const char* dst = "10.1.0.0";
    uint8_t len = 16;
    uint32_t priority = 0;
    std::vector<nl::NextHop> hops{{2, 0}};
    uint32_t prefsrc = 0;
    uint32_t mtu = 0;
};

// RTA_VIA naming fe80::1, the way the kernel gives an IPv4 route's IPv6 gateway.
void putIpv6Via(nlmsghdr* nlh) {
    constexpr size_t head = offsetof(rtvia, rtvia_addr);
    uint8_t via[head + 16] = {};
    const __kernel_sa_family_t family = AF_INET6;
    std::memcpy(via, &family, sizeof family);
    via[head] = 0xfe;
    via[head + 1] = 0x80;
    via[sizeof via - 1] = 1;
    mnl_attr_put(nlh, RTA_VIA, sizeof via, via);
}

Msg route(uint16_t type, const RouteSpec& s, uint16_t flags = 0) {
    Msg m(type, flags);
    auto* rtm = m.header<rtmsg>();
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = s.len;
    rtm->rtm_table = static_cast<uint8_t>(s.table < 256 ? s.table : RT_TABLE_UNSPEC);
    rtm->rtm_type = RTN_UNICAST;
    mnl_attr_put_u32(m.nlh, RTA_TABLE, s.table);
    mnl_attr_put_u32(m.nlh, RTA_DST, ip(s.dst));
    mnl_attr_put_u32(m.nlh, RTA_PRIORITY, s.priority);
    if (s.prefsrc)
        mnl_attr_put_u32(m.nlh, RTA_PREFSRC, s.prefsrc);
    if (s.mtu) {
        nlattr* metrics = mnl_attr_nest_start(m.nlh, RTA_METRICS);
        mnl_attr_put_u32(m.nlh, RTAX_MTU, s.mtu);
        mnl_attr_nest_end(m.nlh, metrics);
    }
    if (s.hops.size() == 1) {
        mnl_attr_put_u32(m.nlh, RTA_OIF, s.hops[0].ifIndex);
        if (s.hops[0].gateway)
            mnl_attr_put_u32(m.nlh, RTA_GATEWAY, s.hops[0].gateway);
        if (s.hops[0].viaOtherFamily)
            putIpv6Via(m.nlh);
        return m;
    }
    nlattr* mp = mnl_attr_nest_start(m.nlh, RTA_MULTIPATH);
    m.multipath = static_cast<size_t>(reinterpret_cast<char*>(mp) - m.buf);
    for (const nl::NextHop& h : s.hops) {
        auto* nh =
            reinterpret_cast<rtnexthop*>(static_cast<char*>(mnl_nlmsg_get_payload_tail(m.nlh)));
        m.nlh->nlmsg_len += RTNH_ALIGN(sizeof(rtnexthop));
        nh->rtnh_ifindex = static_cast<int>(h.ifIndex);
        if (h.gateway)
            mnl_attr_put_u32(m.nlh, RTA_GATEWAY, h.gateway);
        if (h.viaOtherFamily)
            putIpv6Via(m.nlh);
        nh->rtnh_len = static_cast<unsigned short>(
            static_cast<char*>(mnl_nlmsg_get_payload_tail(m.nlh)) - reinterpret_cast<char*>(nh));
    }
    mnl_attr_nest_end(m.nlh, mp);
    return m;
}

} // namespace

TEST(Decode, BrokenAndForeignMessagesAreRefusedOrReadSafely) {
    nl::Route r;
    nl::Link l;
    nl::Address a;
    // Too short for its header, another message type, another address family.
    Msg shortRoute(RTM_NEWROUTE);
    EXPECT_FALSE(nl::decodeRoute(shortRoute.nlh, r));
    EXPECT_FALSE(nl::decodeLink(address(RTM_NEWADDR, 2, "10.0.0.1").nlh, l));
    Msg v6(RTM_NEWADDR);
    v6.header<ifaddrmsg>()->ifa_family = AF_INET6;
    EXPECT_FALSE(nl::decodeAddress(v6.nlh, a));
    Msg v6route = route(RTM_NEWROUTE, {});
    static_cast<rtmsg*>(mnl_nlmsg_get_payload(v6route.nlh))->rtm_family = AF_INET6;
    EXPECT_FALSE(nl::decodeRoute(v6route.nlh, r));

    // An attribute claiming more bytes than the message holds ends the walk; what came
    // before it still counts.
    Msg cut = route(RTM_NEWROUTE, {.hops = {{7, ip("10.0.0.254")}}});
    auto* last = static_cast<nlattr*>(mnl_nlmsg_get_payload_tail(cut.nlh));
    mnl_attr_put_u32(cut.nlh, RTA_PREFSRC, ip("10.0.0.1"));
    last->nla_len = 200;
    ASSERT_TRUE(nl::decodeRoute(cut.nlh, r));
    EXPECT_EQ(r.nextHops[0].gateway, ip("10.0.0.254"));
    EXPECT_EQ(r.preferredSource, 0u);

    // A multipath next hop whose length runs past the attribute is dropped, not read.
    Msg mp = route(RTM_NEWROUTE, {.hops = {{3, ip("10.0.0.1")}, {4, ip("10.0.0.2")}}});
    ASSERT_TRUE(nl::decodeRoute(mp.nlh, r));
    ASSERT_EQ(r.nextHops.size(), 2u);
    EXPECT_EQ(r.nextHops[1].ifIndex, 4u);
    EXPECT_EQ(r.nextHops[1].gateway, ip("10.0.0.2"));
    auto* first = static_cast<rtnexthop*>(
        mnl_attr_get_payload(reinterpret_cast<nlattr*>(mp.buf + mp.multipath)));
    reinterpret_cast<rtnexthop*>(reinterpret_cast<char*>(first) + first->rtnh_len)->rtnh_len = 400;
    ASSERT_TRUE(nl::decodeRoute(mp.nlh, r));
    EXPECT_EQ(r.nextHops.size(), 1u);

    // Tables above 255 exist only in RTA_TABLE.
    ASSERT_TRUE(nl::decodeRoute(route(RTM_NEWROUTE, {.table = 1000}).nlh, r));
    EXPECT_EQ(r.table, 1000u);
    EXPECT_FALSE(listedRoute(r));
}

// The decoders' attribute walks run up to a message's padded end, so only messages that lie
// inside the datagram with their padding may reach them, and they must be read where they lie.
TEST(Decode, MessagesAreReadOnlyInsideTheirDatagram) {
    // Messages of the given lengths, each at its padded place; the datagram ends at size.
    const auto walk = [](const std::vector<uint32_t>& lengths, size_t size) {
        std::vector<uint8_t> datagram(size + 64); // room for the headers; the walk sees size
        size_t at = 0;
        for (const uint32_t length : lengths) {
            nlmsghdr h{length, RTM_NEWLINK, 0, 0, 0};
            std::memcpy(datagram.data() + at, &h, sizeof h);
            at += NLMSG_ALIGN(std::max<size_t>(length, sizeof h));
        }
        std::vector<uint32_t> seen;
        nl::forEachMessage(datagram.data(), size, [&](const nlmsghdr* m) {
            seen.push_back(m->nlmsg_len);
            return true;
        });
        return seen;
    };
    using Seen = std::vector<uint32_t>;
    EXPECT_EQ(walk({20, 0x80000010u}, 40), Seen{20}); // taken for negative by a signed check
    EXPECT_EQ(walk({17}, 17), Seen{});                // its padding is missing
    EXPECT_EQ(walk({17, 16}, 36), (Seen{17, 16}));
    EXPECT_EQ(walk({20, 8}, 40), Seen{20}); // shorter than its own header
    EXPECT_EQ(walk({16}, 15), Seen{});

    // A removal whose stated length ends inside its last attribute: decoded from an exact
    // copy, the next hop walk read past the copy.
    const RouteSpec spec{.hops = {{3, ip("10.0.0.1")}, {4, ip("10.0.0.2")}}};
    Msg removal = route(RTM_DELROUTE, spec);
    removal.nlh->nlmsg_len -= 3;
    nl::Route added;
    ASSERT_TRUE(nl::decodeRoute(route(RTM_NEWROUTE, spec).nlh, added));
    std::vector<nl::Route> routes{added};
    nl::applyRouteEvent(routes, removal.nlh);
    EXPECT_TRUE(routes.empty());
    CountModel counts;
    counts.apply(route(RTM_NEWROUTE, spec).nlh, CountModel::Source::Dump);
    ASSERT_NE(counts.counts().routeRows, 0u);
    counts.apply(removal.nlh, CountModel::Source::Event);
    EXPECT_EQ(counts.counts().routeRows, 0u);
}

TEST(InterfaceRows, LinkBecomesRow) {
    nl::Link lo;
    lo.index = 1;
    lo.name = "lo";
    lo.arpType = ARPHRD_LOOPBACK;
    lo.flags = IFF_UP | IFF_RUNNING;
    lo.mac.assign(6, 0);
    MIB_IFROW row = ifRowFromLink(lo, {});
    EXPECT_EQ(row.dwPhysAddrLen, 0u); // shown as no address at all
    EXPECT_EQ(row.dwAdminStatus, static_cast<DWORD>(MIB_IF_ADMIN_STATUS_UP));
    // The program trims the terminating zero that the length counts.
    EXPECT_EQ(row.dwDescrLen, std::strlen(reinterpret_cast<char*>(row.bDescr)) + 1);

    nl::Link eth;
    eth.index = 65539;
    eth.name = "eth0";
    eth.arpType = ARPHRD_ETHER;
    eth.mac = {0, 0x0c, 0x29, 0x3a, 0x5b, 0x7c};
    eth.hasStats = true;
    eth.stats.rxBytes = (1ull << 32) + 5; // wraps
    eth.stats.rxPackets = 10;
    eth.stats.rxMulticast = 12; // drivers may count more multicast than packets
    row = ifRowFromLink(eth, {.speedBitsPerSecond = 10'000'000'000ull, .driver = "e1000e"});
    EXPECT_EQ(row.dwAdminStatus, static_cast<DWORD>(MIB_IF_ADMIN_STATUS_DOWN));
    EXPECT_EQ(row.dwSpeed, 0xFFFFFFFFu);
    EXPECT_EQ(row.dwPhysAddrLen, 6u);
    EXPECT_EQ(std::tuple(row.dwInOctets, row.dwInUcastPkts, row.dwInNUcastPkts),
              std::tuple(5u, 0u, 12u));

    nl::Link ib = eth;
    ib.mac.assign(20, 1);
    EXPECT_EQ(ifRowFromLink(ib, {}).dwPhysAddrLen, 0u); // too long to show, never cut

    // Kernel order unless sorted.
    const auto noSysfs = [](const std::string&) { return SysfsInfo{}; };
    const std::vector<nl::Link> links{eth, lo};
    EXPECT_EQ(ifRows(links, false, noSysfs)[0].dwIndex, 65539u);
    EXPECT_EQ(ifRows(links, true, noSysfs)[0].dwIndex, 1u);
}

TEST(InterfaceRows, NamesBecomeUtf16) {
    const struct {
        std::string name;
        std::vector<WCHAR> want;
    } cases[] = {
        {"br-\xc3\xa9", {'b', 'r', '-', 0xE9, 0}},     // UTF-8
        {"x\xff\xc3", {'x', 0xFF, 0xC3, 0}},           // not UTF-8: bytes as Latin-1
        {"\xf0\x9f\x90\xa7", {0xD83D, 0xDC27, 0}},     // beyond the BMP: a surrogate pair
        {std::string(300, 'a'), std::vector<WCHAR>()}, // cut to the field, terminated
    };
    for (const auto& c : cases) {
        WCHAR out[MAX_INTERFACE_NAME_LEN];
        std::fill(std::begin(out), std::end(out), WCHAR{0xAAAA});
        nameToUtf16(c.name, out);
        if (c.want.empty()) {
            EXPECT_EQ(out[MAX_INTERFACE_NAME_LEN - 2], 'a');
            EXPECT_EQ(out[MAX_INTERFACE_NAME_LEN - 1], 0);
            continue;
        }
        EXPECT_TRUE(std::equal(c.want.begin(), c.want.end(), out)) << c.name;
    }
}

TEST(RouteRows, OnLinkNextHopIsTheInterfacesPrimaryAddress) {
    nl::Address secondary;
    secondary.index = 5;
    secondary.address = ip("10.5.0.77");
    secondary.flags = IFA_F_SECONDARY; // listed first, never the one routes leave from
    nl::Address primary = secondary;
    primary.address = ip("10.5.0.1");
    primary.flags = 0;
    const auto first = firstAddresses({secondary, primary});
    nl::Route r;
    r.table = RT_TABLE_MAIN;
    r.type = RTN_UNICAST;
    r.nextHops = {{5, 0}, {6, 0}}; // interface 6 has no address
    const auto rows =
        forwardRows({r}, [&](uint32_t i) { return first.count(i) ? first.at(i) : 0u; });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].dwForwardNextHop, ip("10.5.0.1"));
    EXPECT_EQ(rows[1].dwForwardNextHop, 0u);
}

TEST(RouteRows, AnIpv6GatewayIsNeverShownAsOnLink) {
    nl::Route r;
    for (const auto& hops : {std::vector<nl::NextHop>{{5, 0, true}},
                             std::vector<nl::NextHop>{{5, 0, true}, {5, ip("10.5.0.9")}}}) {
        ASSERT_TRUE(
            nl::decodeRoute(route(RTM_NEWROUTE, {.hops = hops, .prefsrc = ip("10.5.0.1")}).nlh, r));
        ASSERT_EQ(r.nextHops.size(), hops.size());
        EXPECT_TRUE(r.nextHops[0].viaOtherFamily);
        EXPECT_EQ(r.nextHops[0].gateway, 0u);
        const auto rows = forwardRows({r}, [](uint32_t) { return ip("10.5.0.1"); });
        ASSERT_EQ(rows.size(), hops.size());
        // Not the address the route leaves from: that would make it an on-link route.
        EXPECT_EQ(rows[0].dwForwardNextHop, 0u);
        EXPECT_EQ(rows[0].dwForwardType, DWORD{MIB_IPROUTE_TYPE_OTHER});
        if (hops.size() == 2) {
            EXPECT_FALSE(r.nextHops[1].viaOtherFamily);
            EXPECT_EQ(rows[1].dwForwardNextHop, ip("10.5.0.9"));
            EXPECT_EQ(rows[1].dwForwardType, DWORD{MIB_IPROUTE_TYPE_INDIRECT});
        }
    }
}

TEST(RouteRows, SortedByHostOrderDestinationThenMaskMetricNextHop) {
    const auto row = [](const char* dst, const char* mask, DWORD metric, const char* hop) {
        MIB_IPFORWARDROW r{};
        r.dwForwardDest = ip(dst);
        r.dwForwardMask = ip(mask);
        r.dwForwardMetric1 = metric;
        r.dwForwardNextHop = ip(hop);
        return r;
    };
    const std::vector<MIB_IPFORWARDROW> want{
        row("0.0.0.0", "0.0.0.0", 10, "10.0.0.9"),
        row("0.0.0.0", "0.0.0.0", 20, "10.0.0.1"),
        row("1.2.3.4", "255.255.255.255", 0, "1.1.1.1"),
        row("2.1.1.1", "255.255.255.255", 0, "1.1.1.1"),
        row("10.0.0.0", "255.0.0.0", 0, "10.0.0.2"),
        row("10.0.0.0", "255.0.0.0", 0, "10.0.0.10"),
        row("10.0.0.0", "255.255.255.0", 0, "10.0.0.2"),
        row("192.168.1.0", "255.255.255.0", 0, "0.0.0.0"),
    };
    std::vector<MIB_IPFORWARDROW> rows(want.rbegin(), want.rend());
    std::swap(rows[1], rows[5]);
    sortForwardRows(rows);
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(std::memcmp(&rows[i], &want[i], sizeof(MIB_IPFORWARDROW)), 0) << i;

    // Against the plain stable sort on many rows with few distinct values, so that many are
    // equal in everything sorted on; the age field tells them apart.
    std::vector<MIB_IPFORWARDROW> many;
    uint32_t seed = 7;
    const auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (DWORD i = 0; i < 500; ++i) {
        MIB_IPFORWARDROW r{};
        r.dwForwardDest = htonl(next(3) << 24 | next(2) << 30); // the high bit in play
        r.dwForwardMask = htonl(next(2) ? 0xFF000000u : 0xFFFF0000u);
        r.dwForwardMetric1 = next(2) ? 5 : 0x80000000u;
        r.dwForwardNextHop = htonl(next(2) << 31 | 1);
        r.dwForwardIfIndex = next(3);
        r.dwForwardAge = i;
        many.push_back(r);
    }
    const auto stableSorted = [](std::vector<MIB_IPFORWARDROW> rows) {
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return std::tuple(ntohl(a.dwForwardDest), ntohl(a.dwForwardMask), a.dwForwardMetric1,
                              ntohl(a.dwForwardNextHop), a.dwForwardIfIndex) <
                   std::tuple(ntohl(b.dwForwardDest), ntohl(b.dwForwardMask), b.dwForwardMetric1,
                              ntohl(b.dwForwardNextHop), b.dwForwardIfIndex);
        });
        return rows;
    };
    const std::vector<MIB_IPFORWARDROW> reference = stableSorted(many);
    sortForwardRows(many);
    ASSERT_EQ(many.size(), reference.size());
    for (size_t i = 0; i < many.size(); ++i)
        ASSERT_EQ(many[i].dwForwardAge, reference[i].dwForwardAge) << i;
    // Already in order: left as it is.
    sortForwardRows(many);
    for (size_t i = 0; i < many.size(); ++i)
        ASSERT_EQ(many[i].dwForwardAge, reference[i].dwForwardAge) << i;
    // As the kernel hands tables over: a few ascending runs, here the sorted rows cut into
    // pieces laid out last piece first; below and above the number of runs that are merged.
    for (const size_t pieces : {2U, 3U, 5U, 16U, 17U, 40U}) {
        std::vector<MIB_IPFORWARDROW> runs;
        const size_t size = reference.size() / pieces + 1;
        for (size_t end = reference.size(); end > 0;) {
            const size_t begin = end > size ? end - size : 0;
            runs.insert(runs.end(), reference.begin() + static_cast<std::ptrdiff_t>(begin),
                        reference.begin() + static_cast<std::ptrdiff_t>(end));
            end = begin;
        }
        const std::vector<MIB_IPFORWARDROW> want = stableSorted(runs);
        sortForwardRows(runs);
        ASSERT_EQ(runs.size(), want.size());
        for (size_t i = 0; i < runs.size(); ++i)
            ASSERT_EQ(runs[i].dwForwardAge, want[i].dwForwardAge) << pieces << " " << i;
    }
}

// The routing table's rows are kept in blocks: across block ends they must answer as one
// array would, in the kernel's order and sorted, and a cleared table reused for a smaller
// read must hand out nothing of the bigger one.
TEST(ForwardRows, BlocksAnswerAsOneArray) {
    std::vector<MIB_IPFORWARDROW> flat;
    ForwardRows blocks;
    uint32_t seed = 11;
    for (DWORD i = 0; i < 5000; ++i) { // two full blocks and part of a third
        seed = seed * 1103515245u + 12345u;
        MIB_IPFORWARDROW& r = blocks.emplace_back();
        r.dwForwardDest = htonl(seed >> 8);
        r.dwForwardMask = htonl(0xFFFFFF00u);
        r.dwForwardAge = i;
        flat.push_back(r);
    }
    const auto table = [](const auto& rows, const std::vector<uint32_t>* order) {
        ULONG size = 0;
        EXPECT_EQ(fillTable<MIB_IPFORWARDTABLE>(nullptr, &size, rows, order),
                  ERROR_INSUFFICIENT_BUFFER);
        std::vector<uint8_t> buf(size);
        EXPECT_EQ(fillTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buf.data()), &size, rows, order),
                  NO_ERROR);
        return buf;
    };
    EXPECT_EQ(table(blocks, nullptr), table(flat, nullptr));
    ForwardRowSorter sorter;
    std::vector<uint32_t> fromBlocks, fromFlat;
    sorter.order(blocks, fromBlocks);
    sorter.order(flat, fromFlat);
    EXPECT_EQ(fromBlocks, fromFlat);
    EXPECT_EQ(table(blocks, &fromBlocks), table(flat, &fromFlat));

    blocks.clear();
    flat.clear();
    for (DWORD i = 0; i < 3; ++i) {
        MIB_IPFORWARDROW& r = blocks.emplace_back();
        EXPECT_EQ(r.dwForwardAge, 0U) << "a reused row starts zeroed";
        r.dwForwardAge = 100 + i;
        flat.push_back(r);
    }
    EXPECT_EQ(blocks.size(), 3U);
    EXPECT_EQ(table(blocks, nullptr), table(flat, nullptr));
}

TEST(IpCounters, FoundByNameNotPosition) {
    MIB_IPSTATS s{};
    ASSERT_TRUE(parseIpCounters("Tcp: RtoAlgorithm\nTcp: 1\n"
                                "Ip: DefaultTTL Forwarding NewThing InReceives OutRequests\n"
                                "Ip: 64 1 9 8589934594 3000000000\n"
                                "Icmp: InMsgs\nIcmp: 5\n",
                                s));
    EXPECT_EQ(s.dwForwarding, 1u);
    EXPECT_EQ(s.dwDefaultTTL, 64u);
    EXPECT_EQ(s.dwInReceives, 2u); // 2^33 + 2, modulo 2^32
    EXPECT_EQ(s.dwOutRequests, 3000000000u);
    MIB_IPSTATS t{};
    EXPECT_FALSE(parseIpCounters("", t));
    EXPECT_FALSE(parseIpCounters("Ip: Forwarding DefaultTTL\n", t)); // no value line
    EXPECT_FALSE(parseIpCounters("Ip: Forwarding\nIp: -1\n", t));    // not a counter
}

TEST(EntryPoints, NullArgumentsAreRefused) {
    EXPECT_EQ(GetIfTable(nullptr, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetIfEntry(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetIpForwardTable(nullptr, nullptr, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetBestInterface(0, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetIpStatistics(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetRouteChangeCount(nullptr), ERROR_INVALID_PARAMETER);
    MIB_IFROW row{};
    row.dwIndex = 0x80000000u; // no kernel index is that large; never reaches the kernel
    EXPECT_EQ(GetIfEntry(&row), ERROR_DEV_NOT_EXIST);
}

using Source = CountModel::Source;

TEST(ChangeCounts, ReplayedAnnouncementsCountOnce) {
    CountModel m;
    for (int index : {1, 2})
        m.apply(link(RTM_NEWLINK, index).nlh, Source::Dump);
    m.apply(address(RTM_NEWADDR, 2, "10.0.0.1").nlh, Source::Dump);
    const RouteSpec plain{};
    const RouteSpec multipath{.dst = "10.2.0.0",
                              .hops = {{2, ip("10.0.0.8")}, {2, ip("10.0.0.9")}}};
    m.apply(route(RTM_NEWROUTE, plain).nlh, Source::Dump);
    m.apply(route(RTM_NEWROUTE, multipath).nlh, Source::Dump);
    m.apply(route(RTM_NEWROUTE, {.table = 100}).nlh, Source::Dump); // not listed
    m.apply(route(RTM_NEWROUTE, {.table = RT_TABLE_LOCAL, .len = 32}).nlh, Source::Dump);
    const auto counts = [&] {
        const ChangeCounts c = m.counts();
        return std::vector<uint32_t>{c.interfaces, c.addresses, c.routeRows};
    };
    EXPECT_EQ(counts(), (std::vector<uint32_t>{2, 1, 4}));

    // Announcements of what the dump already showed, and of removals of unknown things.
    m.apply(address(RTM_NEWADDR, 2, "10.0.0.1").nlh, Source::Event);
    m.apply(route(RTM_NEWROUTE, plain).nlh, Source::Event);
    m.apply(route(RTM_DELROUTE, {.dst = "10.9.0.0"}).nlh, Source::Event);
    m.apply(address(RTM_DELADDR, 2, "10.0.0.99").nlh, Source::Event);
    EXPECT_EQ(counts(), (std::vector<uint32_t>{2, 1, 4}));

    // A route that differs only in a metric is a route of its own.
    const RouteSpec withMtu{.mtu = 1400};
    m.apply(route(RTM_NEWROUTE, withMtu).nlh, Source::Event);
    EXPECT_EQ(counts()[2], 5u);
    m.apply(route(RTM_DELROUTE, withMtu).nlh, Source::Event);
    EXPECT_EQ(counts()[2], 4u);

    // A replacement takes the old route's place: deleting the old one then finds nothing.
    const RouteSpec replacement{.hops = {{2, ip("10.0.0.7")}}};
    m.apply(route(RTM_NEWROUTE, replacement, NLM_F_REPLACE).nlh, Source::Event);
    m.apply(route(RTM_DELROUTE, plain).nlh, Source::Event);
    EXPECT_EQ(counts()[2], 4u);
    m.apply(route(RTM_DELROUTE, replacement).nlh, Source::Event);
    EXPECT_EQ(counts()[2], 3u);

    // A port leaving its bridge is announced as a bridge-family deletion; the link stays.
    m.apply(link(RTM_DELLINK, 2, IFF_UP, AF_BRIDGE).nlh, Source::Event);
    EXPECT_EQ(counts()[0], 2u);
    m.apply(link(RTM_DELLINK, 2).nlh, Source::Event);
    EXPECT_EQ(counts(), (std::vector<uint32_t>{1, 0, 3}));
}

// IPv6 routes and those of other tables are listed by the Routes page too: their announced
// changes count as changes, while the rows counted stay the forward table's.
TEST(ChangeCounts, Ipv6AndOtherTableAnnouncementsCountAsChanges) {
    CountModel m;
    m.apply(route(RTM_NEWROUTE, {}).nlh, Source::Dump);
    m.apply(route(RTM_NEWROUTE, {.table = 100}).nlh, Source::Dump);
    const uint32_t before = m.counts().routeChanges;
    Msg v6 = route(RTM_NEWROUTE, {});
    static_cast<rtmsg*>(mnl_nlmsg_get_payload(v6.nlh))->rtm_family = AF_INET6;
    m.apply(v6.nlh, Source::Event);
    EXPECT_EQ(m.counts().routeChanges, before + 1);
    m.apply(route(RTM_DELROUTE, {.table = 100}).nlh, Source::Event);
    EXPECT_EQ(m.counts().routeChanges, before + 2);
    EXPECT_EQ(m.counts().routeRows, 1u) << "only the main table's row is a row of the table";
    m.apply(v6.nlh, Source::Dump); // a dump of IPv6 is no change
    EXPECT_EQ(m.counts().routeChanges, before + 2);
}

TEST(ChangeCounts, RoutesAreReReadWhenTheKernelMayHaveRemovedThemUnannounced) {
    const auto world = [] {
        CountModel m;
        for (int index : {2, 3})
            m.apply(link(RTM_NEWLINK, index).nlh, Source::Dump);
        for (const auto& [index, a] : {std::pair{2, "10.0.0.1"}, {2, "10.0.1.1"}, {3, "10.3.0.1"}})
            m.apply(address(RTM_NEWADDR, index, a).nlh, Source::Dump);
        m.apply(route(RTM_NEWROUTE, {.hops = {{2, ip("10.0.0.254")}}}).nlh, Source::Dump);
        m.apply(
            route(RTM_NEWROUTE, {.dst = "10.6.0.0", .hops = {{3, 0}}, .prefsrc = ip("10.3.0.1")})
                .nlh,
            Source::Dump);
        EXPECT_FALSE(m.takeRouteRereadNeed());
        return m;
    };
    Msg delNexthop(RTM_DELNEXTHOP);
    delNexthop.header<rtmsg>();
    const struct {
        const char* what;
        std::vector<Msg> events;
        bool reread;
    } cases[] = {
        {"interface with routes taken down", {link(RTM_NEWLINK, 2, 0)}, true},
        {"interface announced up", {link(RTM_NEWLINK, 2)}, false},
        {"interface taken down and up again",
         {link(RTM_NEWLINK, 2, 0), link(RTM_NEWLINK, 2)},
         true},
        {"interface without routes taken down", {link(RTM_NEWLINK, 4, 0)}, false},
        {"interface deleted", {link(RTM_DELLINK, 3)}, true},
        {"one of two addresses removed", {address(RTM_DELADDR, 2, "10.0.1.1")}, false},
        {"last address removed",
         {address(RTM_DELADDR, 2, "10.0.1.1"), address(RTM_DELADDR, 2, "10.0.0.1")},
         true},
        {"last address removed and another one added",
         {address(RTM_DELADDR, 2, "10.0.1.1"), address(RTM_DELADDR, 2, "10.0.0.1"),
          address(RTM_NEWADDR, 2, "10.0.2.1")},
         true},
        {"a route's source address removed", {address(RTM_DELADDR, 3, "10.3.0.1")}, true},
        {"a route's source address removed and put back",
         {address(RTM_DELADDR, 3, "10.3.0.1"), address(RTM_NEWADDR, 3, "10.3.0.1")},
         true},
        {"next hop object removed", {delNexthop}, true},
    };
    for (const auto& c : cases) {
        CountModel m = world();
        for (const Msg& e : c.events)
            m.apply(e.nlh, Source::Event);
        EXPECT_EQ(m.takeRouteRereadNeed(), c.reread) << c.what;
        EXPECT_FALSE(m.takeRouteRereadNeed()) << c.what;
    }
}

TEST(ChangeCounts, RoutesToADestinationFollowTheAnnouncements) {
    CountModel m;
    m.apply(link(RTM_NEWLINK, 2).nlh, Source::Dump);
    const RouteSpec near{.priority = 5, .hops = {{2, ip("10.0.0.8")}}};
    const RouteSpec far{.priority = 50, .hops = {{2, ip("10.0.0.9")}}};
    const RouteSpec other{.dst = "10.1.0.0", .len = 24};
    for (const RouteSpec& s : {near, far, other})
        m.apply(route(RTM_NEWROUTE, s).nlh, Source::Dump);
    const auto priorities = [&](uint8_t len) {
        std::vector<uint32_t> out;
        for (const nl::Route& r : m.routesTo(ip("10.1.0.0"), len))
            out.push_back(r.priority);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(priorities(16), (std::vector<uint32_t>{5, 50}));
    EXPECT_EQ(priorities(24), (std::vector<uint32_t>{0}));
    const std::vector<nl::Route> found = m.routesTo(ip("10.1.0.0"), 24);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].table, unsigned{RT_TABLE_MAIN});
    ASSERT_EQ(found[0].nextHops.size(), 1u);
    EXPECT_EQ(found[0].nextHops[0].ifIndex, 2u);

    m.apply(route(RTM_DELROUTE, near).nlh, Source::Event);
    EXPECT_EQ(priorities(16), (std::vector<uint32_t>{50}));
    m.apply(route(RTM_DELROUTE, far).nlh, Source::Event);
    EXPECT_TRUE(priorities(16).empty());
    m.apply(route(RTM_NEWROUTE, near).nlh, Source::Event);
    EXPECT_EQ(priorities(16), (std::vector<uint32_t>{5}));
    m.clearRoutes();
    EXPECT_TRUE(m.routesTo(ip("10.1.0.0"), 24).empty());
}
