// Messages of both families decoded on synthesized and broken input: IPv6 multipath routes,
// gateways of the other family, addresses and rules with lengths that do not fit.
#include "dual_rows.h"
#include "iphlpapi.h"
#include "netlink/dual.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/fib_rules.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <string>
#include <vector>

using namespace corvane::sys;

namespace {

struct Msg {
    alignas(nlmsghdr) char buf[4096]{};
    nlmsghdr* nlh;
    explicit Msg(uint16_t type) : nlh(mnl_nlmsg_put_header(buf)) { nlh->nlmsg_type = type; }
    Msg(const Msg&) = delete;
    Msg& operator=(const Msg&) = delete;
    template <typename H> H* header() {
        return static_cast<H*>(mnl_nlmsg_put_extra_header(nlh, sizeof(H)));
    }
};

in6_addr v6(const char* text) {
    in6_addr a{};
    inet_pton(AF_INET6, text, &a);
    return a;
}

std::string text(const SOCKADDR_INET& a) {
    char buf[INET6_ADDRSTRLEN] = "";
    inet_ntop(a.si_family,
              a.si_family == AF_INET ? static_cast<const void*>(&a.Ipv4.sin_addr)
                                     : static_cast<const void*>(&a.Ipv6.sin6_addr),
              buf, sizeof buf);
    return buf;
}

// One next hop of a multipath attribute: header, then a gateway attribute.
void putHop(std::vector<uint8_t>& mp, int ifIndex, uint8_t weight, uint16_t type,
            const void* gateway, size_t len) {
    const size_t start = mp.size();
    rtnexthop nh{};
    nh.rtnh_ifindex = ifIndex;
    nh.rtnh_hops = static_cast<unsigned char>(weight - 1);
    nh.rtnh_len =
        static_cast<unsigned short>(RTNH_ALIGN(sizeof nh) + NLA_ALIGN(sizeof(nlattr) + len));
    mp.resize(start + nh.rtnh_len);
    std::memcpy(mp.data() + start, &nh, sizeof nh);
    nlattr at{static_cast<uint16_t>(sizeof(nlattr) + len), type};
    std::memcpy(mp.data() + start + RTNH_ALIGN(sizeof nh), &at, sizeof at);
    std::memcpy(mp.data() + start + RTNH_ALIGN(sizeof nh) + sizeof at, gateway, len);
}

} // namespace

TEST(DualDecode, Ipv6MultipathWithWeightsAndZonedGateways) {
    Msg m(RTM_NEWROUTE);
    auto* rtm = m.header<rtmsg>();
    rtm->rtm_family = AF_INET6;
    rtm->rtm_dst_len = 48;
    rtm->rtm_table = RT_TABLE_MAIN;
    rtm->rtm_type = RTN_UNICAST;
    rtm->rtm_protocol = RTPROT_STATIC;
    const in6_addr dst = v6("2001:db8:7::"), g1 = v6("fe80::1"), g2 = v6("2001:db8::2");
    mnl_attr_put(m.nlh, RTA_DST, 16, &dst);
    mnl_attr_put_u32(m.nlh, RTA_PRIORITY, 1024);
    std::vector<uint8_t> mp;
    putHop(mp, 3, 1, RTA_GATEWAY, &g1, 16);
    putHop(mp, 4, 5, RTA_GATEWAY, &g2, 16);
    const uint32_t shortGateway = 0x01020304; // four bytes: no IPv6 gateway
    putHop(mp, 5, 1, RTA_GATEWAY, &shortGateway, 4);
    mnl_attr_put(m.nlh, RTA_MULTIPATH, mp.size(), mp.data());

    nl::AnyRoute r;
    ASSERT_TRUE(nl::decodeAnyRoute(m.nlh, r));
    std::vector<CORVANE_ROUTE_ROW> rows;
    appendRouteRows(r, rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(text(rows[0].Route.DestinationPrefix.Prefix), "2001:db8:7::");
    EXPECT_EQ(rows[0].Route.DestinationPrefix.PrefixLength, 48);
    EXPECT_EQ(text(rows[0].Route.NextHop), "fe80::1");
    EXPECT_EQ(rows[0].Route.NextHop.Ipv6.sin6_scope_id, 3u) << "a link-local gateway is zoned";
    EXPECT_EQ(rows[1].Route.NextHop.Ipv6.sin6_scope_id, 0u);
    EXPECT_EQ(rows[1].Weight, 5);
    EXPECT_EQ(rows[1].Route.InterfaceIndex, 4u);
    EXPECT_EQ(rows[1].Route.Metric, 1024u);
    EXPECT_EQ(rows[1].Route.Protocol, static_cast<ULONG>(MIB_IPPROTO_NETMGMT));
    EXPECT_EQ(text(rows[2].Route.NextHop), "::") << "a gateway of the wrong length is none";

    // A next hop claiming more than the attribute holds ends the list there.
    Msg cut(RTM_NEWROUTE);
    *cut.header<rtmsg>() = *rtm;
    std::vector<uint8_t> bad;
    putHop(bad, 3, 1, RTA_GATEWAY, &g1, 16);
    putHop(bad, 4, 1, RTA_GATEWAY, &g2, 16);
    reinterpret_cast<rtnexthop*>(bad.data() + bad.size() / 2)->rtnh_len = 200;
    mnl_attr_put(cut.nlh, RTA_MULTIPATH, bad.size(), bad.data());
    ASSERT_TRUE(nl::decodeAnyRoute(cut.nlh, r));
    EXPECT_EQ(r.hopCount, 1);
}

TEST(DualDecode, AnIpv4RouteViaAnIpv6Router) {
    Msg m(RTM_NEWROUTE);
    auto* rtm = m.header<rtmsg>();
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = 0;
    rtm->rtm_table = RT_TABLE_MAIN;
    rtm->rtm_type = RTN_UNICAST;
    mnl_attr_put_u32(m.nlh, RTA_OIF, 2);
    uint8_t via[2 + 16];
    const uint16_t family = AF_INET6;
    std::memcpy(via, &family, 2);
    const in6_addr router = v6("fe80::9");
    std::memcpy(via + 2, &router, 16);
    mnl_attr_put(m.nlh, RTA_VIA, sizeof via, via);
    nl::AnyRoute r;
    ASSERT_TRUE(nl::decodeAnyRoute(m.nlh, r));
    std::vector<CORVANE_ROUTE_ROW> rows;
    appendRouteRows(r, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Route.DestinationPrefix.Prefix.si_family, AF_INET);
    EXPECT_EQ(rows[0].Route.NextHop.si_family, AF_INET6);
    EXPECT_EQ(text(rows[0].Route.NextHop), "fe80::9");
    EXPECT_EQ(rows[0].Route.NextHop.Ipv6.sin6_scope_id, 2u);
}

TEST(DualDecode, LengthsThatDoNotFitAreRefused) {
    {
        Msg m(RTM_NEWROUTE);
        auto* rtm = m.header<rtmsg>();
        rtm->rtm_family = AF_INET6;
        rtm->rtm_dst_len = 129;
        nl::AnyRoute r;
        EXPECT_FALSE(nl::decodeAnyRoute(m.nlh, r));
        rtm->rtm_family = AF_PACKET; // no address family of ours
        rtm->rtm_dst_len = 0;
        EXPECT_FALSE(nl::decodeAnyRoute(m.nlh, r));
    }
    {
        Msg m(RTM_NEWADDR);
        auto* ifa = m.header<ifaddrmsg>();
        ifa->ifa_family = AF_INET6;
        ifa->ifa_prefixlen = 64;
        mnl_attr_put_u32(m.nlh, IFA_ADDRESS, 0x0100000a); // four bytes for an IPv6 address
        nl::AnyAddress a;
        EXPECT_FALSE(nl::decodeAnyAddress(m.nlh, a));
    }
    {
        Msg m(RTM_NEWRULE);
        auto* h = m.header<fib_rule_hdr>();
        h->family = AF_INET;
        h->src_len = 33;
        nl::Rule r;
        EXPECT_FALSE(nl::decodeRule(m.nlh, r));
        h->src_len = 24;
        mnl_attr_put_u32(m.nlh, FRA_SRC, 0x0009090a);
        const char name[20] = "abcdefghijklmnopqrs"; // longer than an interface name may be
        mnl_attr_put(m.nlh, FRA_IIFNAME, sizeof name, name);
        mnl_attr_put(m.nlh, FRA_OIFNAME, 3, "eth"); // not terminated
        ASSERT_TRUE(nl::decodeRule(m.nlh, r));
        const CORVANE_RULE_ROW row = ruleRow(r);
        EXPECT_EQ(std::strlen(row.InInterface), sizeof row.InInterface - 1);
        EXPECT_STREQ(row.OutInterface, "");
        EXPECT_EQ(text(row.Source.Prefix), "10.9.9.0");
        EXPECT_EQ(row.Priority, 0u);
        EXPECT_EQ(row.SuppressPrefixLength, -1);
    }
}

TEST(DualRows, AddressStatesAndOrigins) {
    nl::AnyAddress a;
    a.family = AF_INET6;
    a.index = 7;
    inet_pton(AF_INET6, "2001:db8::1", a.address.data());
    const auto row = [&](uint32_t flags) {
        a.flags = flags;
        return unicastRow(a);
    };
    EXPECT_EQ(row(IFA_F_PERMANENT).DadState, IpDadStatePreferred);
    EXPECT_EQ(row(IFA_F_PERMANENT).PrefixOrigin, IpPrefixOriginManual);
    EXPECT_EQ(row(IFA_F_TENTATIVE | IFA_F_DEPRECATED).DadState, IpDadStateTentative);
    EXPECT_EQ(row(IFA_F_TENTATIVE | IFA_F_DADFAILED).DadState, IpDadStateDuplicate);
    EXPECT_EQ(row(IFA_F_DEPRECATED).DadState, IpDadStateDeprecated);
    EXPECT_TRUE(row(IFA_F_DEPRECATED).SkipAsSource);
    EXPECT_EQ(row(IFA_F_TEMPORARY).SuffixOrigin, IpSuffixOriginRandom);
    EXPECT_EQ(row(0).PrefixOrigin, IpPrefixOriginRouterAdvertisement);
    a.family = AF_INET;
    EXPECT_EQ(row(0).PrefixOrigin, IpPrefixOriginDhcp); // an IPv4 address with a lifetime
    EXPECT_EQ(row(0).ScopeId.Level, static_cast<ULONG>(ScopeLevelGlobal));
    EXPECT_EQ(row(0).ScopeId.Zone, 0u);
}
