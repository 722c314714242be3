// Routes of either family and of any table made and removed through the later-generation
// entry points and our own table ones, against the real kernel, read back with ip -j.
#include "iphlpapi.h"
#include "netns.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>

using namespace corvane::test;

namespace {

SOCKADDR_INET addr(const char* text) {
    SOCKADDR_INET a{};
    if (inet_pton(AF_INET6, text, &a.Ipv6.sin6_addr) == 1)
        a.si_family = AF_INET6;
    else if (inet_pton(AF_INET, text, &a.Ipv4.sin_addr) == 1)
        a.si_family = AF_INET;
    return a;
}

MIB_IPFORWARD_ROW2 row(const char* dest, UINT8 length, const char* hop, ULONG ifIndex,
                       ULONG metric) {
    MIB_IPFORWARD_ROW2 r{};
    r.DestinationPrefix.Prefix = addr(dest);
    r.DestinationPrefix.PrefixLength = length;
    if (hop)
        r.NextHop = addr(hop);
    r.InterfaceIndex = ifIndex;
    r.Metric = metric;
    return r;
}

class RouteChange2 : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        sh("ip link set lo up");
        sh("ip link add rc0 type veth peer name rc1");
        sh("sysctl -qw net.ipv6.conf.rc0.accept_dad=0");
        sh("ip link set rc0 up && ip link set rc1 up");
        sh("ip -6 addr add 2001:db8:1::1/64 dev rc0 nodad");
        sh("ip addr add 10.9.0.1/24 dev rc0");
        index_ = if_nametoindex("rc0");
        ASSERT_NE(index_, 0u);
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del rc0 2>/dev/null");
    }
    unsigned index_ = 0;
};

} // namespace

TEST_F(RouteChange2, Ipv6RouteMadeAndRemovedInTheMainTable) {
    MIB_IPFORWARD_ROW2 r = row("2001:db8:5::", 64, "2001:db8:1::fe", index_, 7);
    ASSERT_EQ(CreateIpForwardEntry2(&r), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:5::/64 | tr -s ' '"),
              "2001:db8:5::/64 via 2001:db8:1::fe dev rc0 proto static metric 7 pref medium\n");
    // Made once: the same route again exists already.
    EXPECT_EQ(CreateIpForwardEntry2(&r), ERROR_OBJECT_ALREADY_EXISTS);
    ASSERT_EQ(DeleteIpForwardEntry2(&r), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:5::/64"), "");
    EXPECT_EQ(DeleteIpForwardEntry2(&r), ERROR_NOT_FOUND);

    // A link-local gateway through the chosen interface, and a route on the link; both
    // removed by a caller that knows no metric (the kernel's default 1024 was given).
    MIB_IPFORWARD_ROW2 ll = row("2001:db8:6::", 48, "fe80::1", index_, 0);
    ll.NextHop.Ipv6.sin6_scope_id = index_;
    ASSERT_EQ(CreateIpForwardEntry2(&ll), NO_ERROR);
    MIB_IPFORWARD_ROW2 onLink = row("2001:db8:7::", 64, nullptr, index_, 0);
    ASSERT_EQ(CreateIpForwardEntry2(&onLink), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:6::/48 | cut -d' ' -f1-5"),
              "2001:db8:6::/48 via fe80::1 dev rc0\n");
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:7::/64 | cut -d' ' -f1-3"),
              "2001:db8:7::/64 dev rc0\n");
    EXPECT_EQ(DeleteIpForwardEntry2(&ll), NO_ERROR);
    EXPECT_EQ(DeleteIpForwardEntry2(&onLink), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:6::/48; ip -6 route show 2001:db8:7::/64"), "");
}

TEST_F(RouteChange2, RemovalTakesTheNamedRouteAndNoLookAlike) {
    sh("ip -6 route add 2001:db8:8::/64 via 2001:db8:1::fe dev rc0 metric 10");
    sh("ip -6 route add 2001:db8:8::/64 via 2001:db8:1::fd dev rc0 metric 20");
    // Two routes fit a row that names no metric: neither is guessed at.
    MIB_IPFORWARD_ROW2 vague = row("2001:db8:8::", 64, nullptr, index_, 0);
    EXPECT_EQ(DeleteIpForwardEntry2(&vague), ERROR_NOT_FOUND); // both have gateways
    MIB_IPFORWARD_ROW2 r = row("2001:db8:8::", 64, "2001:db8:1::fd", index_, 20);
    ASSERT_EQ(DeleteIpForwardEntry2(&r), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:8::/64 | cut -d' ' -f1-3"),
              "2001:db8:8::/64 via 2001:db8:1::fe\n");

    // One hop of a multipath route leaves; the other stays.
    sh("ip -6 route add 2001:db8:9::/64 metric 5 nexthop via 2001:db8:1::fe dev rc0 nexthop via "
       "2001:db8:1::fd dev rc0");
    MIB_IPFORWARD_ROW2 hop = row("2001:db8:9::", 64, "2001:db8:1::fe", index_, 5);
    ASSERT_EQ(DeleteIpForwardEntry2(&hop), NO_ERROR);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:9::/64 | cut -d' ' -f1-3"),
              "2001:db8:9::/64 via 2001:db8:1::fd\n");
}

TEST_F(RouteChange2, RoutesOfAnotherTableMadeAndRemovedThere) {
    MIB_IPFORWARD_ROW2 v4 = row("10.99.0.0", 16, "10.9.0.254", index_, 3);
    MIB_IPFORWARD_ROW2 v6 = row("2001:db8:100::", 48, nullptr, index_, 3);
    ASSERT_EQ(CorvaneCreateRouteInTable(&v4, 100), NO_ERROR);
    ASSERT_EQ(CorvaneCreateRouteInTable(&v6, 100), NO_ERROR);
    // A table number beyond what the route header holds.
    ASSERT_EQ(CorvaneCreateRouteInTable(&v6, 1000), NO_ERROR);
    EXPECT_EQ(shOut("ip route show table 100 | cut -d' ' -f1-5"),
              "10.99.0.0/16 via 10.9.0.254 dev rc0\n");
    EXPECT_EQ(shOut("ip -6 route show table 100 | cut -d' ' -f1-3"), "2001:db8:100::/48 dev rc0\n");
    EXPECT_EQ(shOut("ip route show 10.99.0.0/16"), ""); // not in main
    // The main table's entry points do not reach it.
    EXPECT_EQ(DeleteIpForwardEntry2(&v4), ERROR_NOT_FOUND);
    EXPECT_EQ(CorvaneDeleteRouteInTable(&v4, 100), NO_ERROR);
    EXPECT_EQ(CorvaneDeleteRouteInTable(&v6, 100), NO_ERROR);
    EXPECT_EQ(CorvaneDeleteRouteInTable(&v6, 1000), NO_ERROR);
    EXPECT_EQ(shOut("ip route show table 100; ip -6 route show table 100; ip -6 route show table "
                    "1000"),
              "");
}

TEST_F(RouteChange2, RequestsOutOfPlaceRefusedBeforeTheKernel) {
    struct Case {
        const char* why;
        MIB_IPFORWARD_ROW2 r;
        ULONG table;
        DWORD want;
    };
    MIB_IPFORWARD_ROW2 tooLong = row("2001:db8:5::", 64, nullptr, index_, 1);
    tooLong.DestinationPrefix.PrefixLength = 129;
    MIB_IPFORWARD_ROW2 tooLong4 = row("10.1.0.0", 16, nullptr, index_, 1);
    tooLong4.DestinationPrefix.PrefixLength = 33;
    MIB_IPFORWARD_ROW2 scoped = row("2001:db8:5::", 64, "fe80::1", index_, 1);
    scoped.NextHop.Ipv6.sin6_scope_id = index_ + 1000;
    MIB_IPFORWARD_ROW2 noFamily = row("2001:db8:5::", 64, nullptr, index_, 1);
    noFamily.DestinationPrefix.Prefix.si_family = 99;
    const Case cases[] = {
        {"prefix longer than 128", tooLong, 0, ERROR_INVALID_NETMASK},
        {"prefix longer than 32", tooLong4, 0, ERROR_INVALID_NETMASK},
        {"host bits", row("2001:db8:5::1", 64, nullptr, index_, 1), 0, ERROR_INVALID_PARAMETER},
        {"IPv4 gateway for IPv6", row("2001:db8:5::", 64, "10.9.0.254", index_, 1), 0,
         ERROR_INVALID_PARAMETER},
        {"IPv6 gateway for IPv4", row("10.1.0.0", 16, "2001:db8:1::fe", index_, 1), 0,
         ERROR_INVALID_PARAMETER},
        {"multicast gateway", row("2001:db8:5::", 64, "ff02::1", index_, 1), 0,
         ERROR_INVALID_PARAMETER},
        {"scoped to another interface", scoped, 0, ERROR_INVALID_PARAMETER},
        {"no interface", row("2001:db8:5::", 64, nullptr, 0, 1), 0, ERROR_INVALID_PARAMETER},
        {"no family", noFamily, 0, ERROR_INVALID_PARAMETER},
        {"the local table", row("2001:db8:5::", 64, nullptr, index_, 1), 255,
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        MIB_IPFORWARD_ROW2 r = c.r;
        const DWORD got =
            c.table ? CorvaneCreateRouteInTable(&r, c.table) : CreateIpForwardEntry2(&r);
        EXPECT_EQ(got, c.want) << c.why;
    }
    MIB_IPFORWARD_ROW2 fine = row("2001:db8:5::", 64, nullptr, index_, 1);
    EXPECT_EQ(CorvaneCreateRouteInTable(&fine, 0), ERROR_INVALID_PARAMETER) << "table 0";
    EXPECT_EQ(CorvaneDeleteRouteInTable(&fine, 0), ERROR_INVALID_PARAMETER) << "table 0";
    EXPECT_EQ(CreateIpForwardEntry2(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shOut("ip -6 route show 2001:db8:5::/64; ip route show 10.1.0.0/16"), "");
    // A missing interface is named as such.
    MIB_IPFORWARD_ROW2 gone = row("2001:db8:5::", 64, nullptr, index_ + 1000, 1);
    EXPECT_EQ(CreateIpForwardEntry2(&gone), ERROR_DEV_NOT_EXIST);
}

TEST_F(RouteChange2, Ipv4ThroughTheLaterEntryPoints) {
    MIB_IPFORWARD_ROW2 r = row("10.50.0.0", 16, "10.9.0.254", index_, 4);
    ASSERT_EQ(CreateIpForwardEntry2(&r), NO_ERROR);
    MIB_IPFORWARD_ROW2 onLink = row("10.51.0.0", 16, "0.0.0.0", index_, 4);
    ASSERT_EQ(CreateIpForwardEntry2(&onLink), NO_ERROR);
    // The route on the link has link scope, as the IPv4 entry point makes it.
    EXPECT_EQ(
        shOut("ip route show 10.50.0.0/16 | tr -s ' '; ip route show 10.51.0.0/16 | tr -s ' '"),
        "10.50.0.0/16 via 10.9.0.254 dev rc0 proto static metric 4 \n"
        "10.51.0.0/16 dev rc0 proto static scope link metric 4 \n");
    EXPECT_EQ(DeleteIpForwardEntry2(&r), NO_ERROR);
    EXPECT_EQ(DeleteIpForwardEntry2(&onLink), NO_ERROR);
    EXPECT_EQ(shOut("ip route show 10.50.0.0/16; ip route show 10.51.0.0/16"), "");
}

// The change count the refresh watches sees IPv6 routes and routes of other tables come and
// go, as it sees those of the main table.
TEST_F(RouteChange2, TheChangeCountSeesIpv6AndOtherTables) {
    DWORD before = 0;
    ASSERT_EQ(GetRouteChangeCount(&before), NO_ERROR);
    const auto changedBy = [&](const std::string& command) {
        sh(command);
        DWORD after = 0;
        EXPECT_EQ(GetRouteChangeCount(&after), NO_ERROR);
        const bool changed = after != before;
        before = after;
        return changed;
    };
    EXPECT_TRUE(changedBy("ip -6 route add 2001:db8:44::/64 via 2001:db8:1::fe dev rc0"));
    EXPECT_TRUE(changedBy("ip -6 route del 2001:db8:44::/64"));
    EXPECT_TRUE(changedBy("ip route add 10.44.0.0/16 via 10.9.0.254 dev rc0 table 100"));
    EXPECT_TRUE(changedBy("ip route del 10.44.0.0/16 table 100"));
    EXPECT_TRUE(changedBy("ip route add 10.45.0.0/16 via 10.9.0.254 dev rc0"));
    EXPECT_FALSE(changedBy("true")) << "nothing changed";
}
