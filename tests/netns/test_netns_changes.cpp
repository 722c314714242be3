// Changes through the entry points, read back with `ip`: interface up/down, routes added and
// deleted, refusals that leave the system as it was.
#include "iphlpapi.h"
#include "netns.h"
#include "nte.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <net/if.h>
#include <string>
#include <utility>

using namespace corvane::test;

namespace {

DWORD ifIndex(const char* name) {
    return ::if_nametoindex(name);
}

MIB_IPFORWARDROW routeRow(const char* dst, const char* mask, const char* hop, const char* dev,
                          DWORD type, DWORD metric) {
    MIB_IPFORWARDROW r{};
    r.dwForwardDest = ::inet_addr(dst);
    r.dwForwardMask = ::inet_addr(mask);
    r.dwForwardNextHop = ::inet_addr(hop);
    r.dwForwardIfIndex = ifIndex(dev);
    r.dwForwardType = type;
    r.dwForwardProto = MIB_IPPROTO_NETMGMT;
    r.dwForwardMetric1 = metric;
    r.dwForwardMetric2 = r.dwForwardMetric3 = r.dwForwardMetric4 = r.dwForwardMetric5 = 0xFFFFFFFF;
    return r;
}

// What the route page hands to a delete: no metric, no type.
MIB_IPFORWARDROW deleteRow(const char* dst, const char* mask, const char* hop, const char* dev) {
    MIB_IPFORWARDROW r{};
    r.dwForwardDest = ::inet_addr(dst);
    r.dwForwardMask = ::inet_addr(mask);
    r.dwForwardNextHop = ::inet_addr(hop);
    r.dwForwardIfIndex = ifIndex(dev);
    return r;
}

std::string routes(const std::string& selector) {
    return shOut("ip -4 route show " + selector);
}

class Changes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inPrivateNetns())
            GTEST_SKIP() << "needs root to build a private network namespace";
        sh("ip link add ch0 type veth peer name ch1 && ip link set ch0 up && ip link set ch1 up");
        sh("ip addr add 10.20.0.1/24 dev ch0");
    }
    void TearDown() override { shMayFail("ip link del ch0 2>/dev/null"); }
};

int disableUnprivileged() {
    MIB_IFROW row{};
    row.dwIndex = ::if_nametoindex("ch0");
    row.dwAdminStatus = MIB_IF_ADMIN_STATUS_DOWN;
    return SetIfEntry(&row) == ERROR_ACCESS_DENIED ? 0 : 1;
}

int addRouteUnprivileged() {
    MIB_IPFORWARDROW r =
        routeRow("10.60.0.0", "255.255.0.0", "10.20.0.2", "ch0", MIB_IPROUTE_TYPE_INDIRECT, 1);
    return SetIpForwardEntry(&r) == ERROR_ACCESS_DENIED ? 0 : 1;
}

int deleteRouteUnprivileged() {
    MIB_IPFORWARDROW r = deleteRow("10.61.0.0", "255.255.0.0", "10.20.0.2", "ch0");
    return DeleteIpForwardEntry(&r) == ERROR_ACCESS_DENIED ? 0 : 1;
}

int addAddressUnprivileged() {
    ULONG context = 0;
    ULONG instance = 0;
    return AddIPAddress(::inet_addr("10.20.0.9"), ::inet_addr("255.255.255.0"),
                        ::if_nametoindex("ch0"), &context, &instance) == ERROR_ACCESS_DENIED
               ? 0
               : 1;
}

} // namespace

TEST_F(Changes, InterfaceGoesDownAndUp) {
    MIB_IFROW row{};
    row.dwIndex = ifIndex("ch0");
    row.dwAdminStatus = MIB_IF_ADMIN_STATUS_DOWN;
    ASSERT_EQ(SetIfEntry(&row), NO_ERROR);
    EXPECT_EQ(shOut("ip -o link show ch0").find("UP,"), std::string::npos);
    // The rest of the link is left alone.
    EXPECT_NE(shOut("ip -o link show ch0").find("mtu 1500"), std::string::npos);
    row.dwAdminStatus = MIB_IF_ADMIN_STATUS_UP;
    ASSERT_EQ(SetIfEntry(&row), NO_ERROR);
    EXPECT_NE(shOut("ip -o link show ch0").find(",UP"), std::string::npos);
}

TEST_F(Changes, InterfaceRefusals) {
    MIB_IFROW row{};
    row.dwIndex = ifIndex("ch0");
    row.dwAdminStatus = MIB_IF_ADMIN_STATUS_TESTING;
    EXPECT_EQ(SetIfEntry(&row), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetIfEntry(nullptr), ERROR_INVALID_PARAMETER);
    // An interface that vanished between a read and the change.
    row.dwAdminStatus = MIB_IF_ADMIN_STATUS_DOWN;
    sh("ip link del ch0");
    EXPECT_EQ(SetIfEntry(&row), ERROR_DEV_NOT_EXIST);
    SetUp();
    // Without privilege: refused, and the link stays up.
    EXPECT_EQ(runUnprivileged(disableUnprivileged), 0);
    EXPECT_NE(shOut("ip -o link show ch0").find(",UP"), std::string::npos);
}

TEST_F(Changes, RoutesAddedViaGatewayAndOnLink) {
    MIB_IPFORWARDROW via =
        routeRow("10.50.0.0", "255.255.0.0", "10.20.0.2", "ch0", MIB_IPROUTE_TYPE_INDIRECT, 5);
    ASSERT_EQ(SetIpForwardEntry(&via), NO_ERROR);
    EXPECT_EQ(routes("10.50.0.0/16"),
              "10.50.0.0/16 via 10.20.0.2 dev ch0 proto static metric 5 \n");

    // Type direct: on-link whatever the next hop says.
    MIB_IPFORWARDROW direct =
        routeRow("10.51.0.0", "255.255.255.0", "0.0.0.0", "ch0", MIB_IPROUTE_TYPE_DIRECT, 7);
    ASSERT_EQ(SetIpForwardEntry(&direct), NO_ERROR);
    EXPECT_EQ(routes("10.51.0.0/24"), "10.51.0.0/24 dev ch0 proto static scope link metric 7 \n");

    // A next hop that is this computer's own address means on-link too.
    MIB_IPFORWARDROW own =
        routeRow("10.52.0.0", "255.255.0.0", "10.20.0.1", "ch0", MIB_IPROUTE_TYPE_INDIRECT, 1);
    ASSERT_EQ(SetIpForwardEntry(&own), NO_ERROR);
    EXPECT_EQ(routes("10.52.0.0/16"),
              "10.52.0.0/16 dev ch0 proto static scope link src 10.20.0.1 metric 1 \n");

    // A default route.
    MIB_IPFORWARDROW def =
        routeRow("0.0.0.0", "0.0.0.0", "10.20.0.254", "ch0", MIB_IPROUTE_TYPE_INDIRECT, 20);
    ASSERT_EQ(SetIpForwardEntry(&def), NO_ERROR);
    EXPECT_EQ(routes("default"), "default via 10.20.0.254 dev ch0 proto static metric 20 \n");
}

TEST_F(Changes, RouteAddRefusalsChangeNothing) {
    const std::string before = routes("table main");
    struct {
        const char* what;
        MIB_IPFORWARDROW row;
        DWORD code;
    } cases[] = {
        {"mask with a hole", routeRow("10.70.0.0", "255.0.255.0", "10.20.0.2", "ch0", 4, 1),
         ERROR_INVALID_NETMASK},
        {"host bits in the destination",
         routeRow("10.70.0.1", "255.255.0.0", "10.20.0.2", "ch0", 4, 1), ERROR_INVALID_PARAMETER},
        {"gateway not reachable on the link",
         routeRow("10.71.0.0", "255.255.0.0", "192.0.2.1", "ch0", 4, 1), ERROR_NETWORK_UNREACHABLE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SetIpForwardEntry(&c.row), c.code);
    }
    MIB_IPFORWARDROW noIf = routeRow("10.72.0.0", "255.255.0.0", "10.20.0.2", "ch0", 4, 1);
    noIf.dwForwardIfIndex = 999999;
    EXPECT_EQ(SetIpForwardEntry(&noIf), ERROR_DEV_NOT_EXIST);
    EXPECT_EQ(SetIpForwardEntry(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(routes("table main"), before);

    // The same route twice: the second is refused and the first stays.
    MIB_IPFORWARDROW r = routeRow("10.73.0.0", "255.255.0.0", "10.20.0.2", "ch0", 4, 3);
    ASSERT_EQ(SetIpForwardEntry(&r), NO_ERROR);
    r.dwForwardNextHop = ::inet_addr("10.20.0.3");
    EXPECT_EQ(SetIpForwardEntry(&r), ERROR_OBJECT_ALREADY_EXISTS);
    EXPECT_EQ(routes("10.73.0.0/16"),
              "10.73.0.0/16 via 10.20.0.2 dev ch0 proto static metric 3 \n");

    EXPECT_EQ(runUnprivileged(addRouteUnprivileged), 0);
    EXPECT_EQ(routes("10.60.0.0/16"), "");
}

TEST_F(Changes, RoutesDeletedByWhatThePageShows) {
    sh("ip route add 10.80.0.0/16 via 10.20.0.2 metric 10");
    sh("ip route add 10.80.0.0/16 via 10.20.0.3 metric 20");
    sh("ip route add 10.81.0.0/24 dev ch0 src 10.20.0.1");
    sh("ip route add 10.82.0.0/16 nexthop via 10.20.0.2 nexthop via 10.20.0.3");

    // Only the route through the named next hop goes; its sibling with another metric stays.
    MIB_IPFORWARDROW a = deleteRow("10.80.0.0", "255.255.0.0", "10.20.0.3", "ch0");
    ASSERT_EQ(DeleteIpForwardEntry(&a), NO_ERROR);
    EXPECT_EQ(routes("10.80.0.0/16"), "10.80.0.0/16 via 10.20.0.2 dev ch0 metric 10 \n");

    // An on-link route named by the interface's own address.
    MIB_IPFORWARDROW b = deleteRow("10.81.0.0", "255.255.255.0", "10.20.0.1", "ch0");
    ASSERT_EQ(DeleteIpForwardEntry(&b), NO_ERROR);
    EXPECT_EQ(routes("10.81.0.0/24"), "");

    // One hop of a multipath route: the other hop remains.
    MIB_IPFORWARDROW c = deleteRow("10.82.0.0", "255.255.0.0", "10.20.0.2", "ch0");
    ASSERT_EQ(DeleteIpForwardEntry(&c), NO_ERROR);
    EXPECT_NE(routes("10.82.0.0/16").find("10.20.0.3"), std::string::npos);
    EXPECT_EQ(routes("10.82.0.0/16").find("10.20.0.2"), std::string::npos);

    MIB_IPFORWARDROW gone = deleteRow("10.83.0.0", "255.255.0.0", "10.20.0.2", "ch0");
    EXPECT_EQ(DeleteIpForwardEntry(&gone), ERROR_NOT_FOUND);
    MIB_IPFORWARDROW holes = deleteRow("10.80.0.0", "255.0.255.0", "10.20.0.2", "ch0");
    EXPECT_EQ(DeleteIpForwardEntry(&holes), ERROR_INVALID_NETMASK);

    sh("ip route add 10.61.0.0/16 via 10.20.0.2");
    EXPECT_EQ(runUnprivileged(deleteRouteUnprivileged), 0);
    EXPECT_NE(routes("10.61.0.0/16"), "");
}

TEST_F(Changes, RoutesThatDifferOnlyInMetric) {
    sh("ip route add default via 10.20.0.2 metric 50 && "
       "ip route add default via 10.20.0.2 metric 100");
    const auto withMetric = [](DWORD metric) {
        MIB_IPFORWARDROW r = deleteRow("0.0.0.0", "0.0.0.0", "10.20.0.2", "ch0");
        r.dwForwardMetric1 = metric;
        return r;
    };
    // Without a metric the two cannot be told apart: refused, both stay.
    for (const DWORD none : {0U, 0xFFFFFFFFU}) {
        MIB_IPFORWARDROW r = withMetric(none);
        EXPECT_EQ(DeleteIpForwardEntry(&r), ERROR_ROUTE_AMBIGUOUS);
    }
    EXPECT_EQ(shOut("ip route show default | wc -l"), "2\n");

    MIB_IPFORWARDROW far = withMetric(100);
    ASSERT_EQ(DeleteIpForwardEntry(&far), NO_ERROR);
    EXPECT_EQ(routes("default"), "default via 10.20.0.2 dev ch0 metric 50 \n");
    EXPECT_EQ(DeleteIpForwardEntry(&far), ERROR_NOT_FOUND); // not its sibling instead
    MIB_IPFORWARDROW other = withMetric(7);
    EXPECT_EQ(DeleteIpForwardEntry(&other), ERROR_NOT_FOUND);
    // A caller that knows no metric still deletes the one route that fits.
    MIB_IPFORWARDROW any = withMetric(0xFFFFFFFF);
    ASSERT_EQ(DeleteIpForwardEntry(&any), NO_ERROR);
    EXPECT_EQ(routes("default"), "");

    // Metric 0 is a metric too: the route without one goes, not its sibling.
    sh("ip route add 10.92.0.0/16 via 10.20.0.2 && ip route add 10.92.0.0/16 via 10.20.0.2 metric "
       "9");
    MIB_IPFORWARDROW zero = deleteRow("10.92.0.0", "255.255.0.0", "10.20.0.2", "ch0");
    ASSERT_EQ(DeleteIpForwardEntry(&zero), NO_ERROR);
    EXPECT_EQ(routes("10.92.0.0/16"), "10.92.0.0/16 via 10.20.0.2 dev ch0 metric 9 \n");

    // Equal in everything the row holds, apart in type of service: nothing is guessed.
    sh("ip route add 10.90.0.0/16 via 10.20.0.2 metric 5 && "
       "ip route add 10.90.0.0/16 via 10.20.0.2 metric 5 tos 0x10");
    MIB_IPFORWARDROW twin = deleteRow("10.90.0.0", "255.255.0.0", "10.20.0.2", "ch0");
    twin.dwForwardMetric1 = 5;
    EXPECT_EQ(DeleteIpForwardEntry(&twin), ERROR_ROUTE_AMBIGUOUS);
    EXPECT_EQ(shOut("ip route show 10.90.0.0/16 | wc -l"), "2\n");
}

TEST_F(Changes, SecondaryAddressesByContext) {
    ULONG context = 0;
    ULONG instance = 0;
    const IPAddr a = ::inet_addr("10.20.0.7");
    const IPMask m = ::inet_addr("255.255.255.0");
    ASSERT_EQ(AddIPAddress(a, m, ifIndex("ch0"), &context, &instance), NO_ERROR);
    EXPECT_NE(context, 0u);
    EXPECT_NE(shOut("ip -4 -o addr show dev ch0")
                  .find("inet 10.20.0.7/24 brd 10.20.0.255 "
                        "scope global secondary ch0"),
              std::string::npos);
    // The context names the address for the life of the process.
    EXPECT_EQ(corvane::sys::nteContext({ifIndex("ch0"), a, 24}), context);

    ULONG other = 0;
    EXPECT_EQ(AddIPAddress(a, m, ifIndex("ch0"), &other, &instance), ERROR_OBJECT_ALREADY_EXISTS);
    // What the kernel would take without making it this host's address is refused.
    const std::string before = shOut("ip -4 -o addr show dev ch0");
    for (const auto& [address, mask] : std::initializer_list<std::pair<const char*, const char*>>{
             {"10.20.0.8", "255.0.255.0"},
             {"10.20.0.8", "0.0.0.0"},
             {"0.0.0.0", "255.255.255.0"},
             {"255.255.255.255", "255.255.255.0"},
             {"255.255.255.255", "255.255.255.255"},
             {"10.20.0.255", "255.255.255.0"},
             {"224.0.0.1", "255.0.0.0"},
             {"240.1.1.1", "255.0.0.0"}}) {
        SCOPED_TRACE(std::string(address) + " " + mask);
        EXPECT_EQ(AddIPAddress(::inet_addr(address), ::inet_addr(mask), ifIndex("ch0"), &other,
                               &instance),
                  ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0"), before);
    // A host address may end in all ones; a /31 has no broadcast.
    for (const char* mask : {"255.255.255.255", "255.255.255.254"}) {
        ULONG added = 0;
        ASSERT_EQ(AddIPAddress(::inet_addr("10.21.0.255"), ::inet_addr(mask), ifIndex("ch0"),
                               &added, &instance),
                  NO_ERROR)
            << mask;
        EXPECT_EQ(DeleteIPAddress(added), NO_ERROR);
    }
    EXPECT_EQ(AddIPAddress(::inet_addr("10.20.0.8"), m, 999999, &other, &instance),
              ERROR_DEV_NOT_EXIST);
    EXPECT_EQ(runUnprivileged(addAddressUnprivileged), 0);
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0").find("10.20.0.9"), std::string::npos);

    ASSERT_EQ(DeleteIPAddress(context), NO_ERROR);
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0").find("10.20.0.7"), std::string::npos);
    EXPECT_NE(shOut("ip -4 -o addr show dev ch0").find("10.20.0.1/24"), std::string::npos);
    EXPECT_EQ(DeleteIPAddress(context), ERROR_NOT_FOUND);
    EXPECT_EQ(DeleteIPAddress(0xFFFFFFF0u), ERROR_INVALID_NTE_CONTEXT);
}

// With promote_secondaries off, as the kernel has it by default, deleting the first address of
// a network would take the others of that network with it; they stay, and so does the setting.
TEST_F(Changes, DeletingAPrimaryAddressKeepsTheOthersOfItsNetwork) {
    sh("sysctl -qw net.ipv4.conf.all.promote_secondaries=0 "
       "net.ipv4.conf.ch0.promote_secondaries=0");
    sh("ip addr add 192.168.77.125/24 dev ch0 && ip addr add 192.168.77.200/24 dev ch0 && "
       "ip addr add 192.168.77.201/24 dev ch0");
    const uint32_t primary =
        corvane::sys::nteContext({ifIndex("ch0"), ::inet_addr("192.168.77.125"), 24});
    ASSERT_EQ(DeleteIPAddress(primary), NO_ERROR);
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0 | awk '{print $4}' | tr '\\n' ' '"),
              "10.20.0.1/24 192.168.77.200/24 192.168.77.201/24 ");
    EXPECT_EQ(shOut("sysctl -n net.ipv4.conf.ch0.promote_secondaries"), "0\n");
    // The promoted one is primary now, and its network is still reached through ch0.
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0 to 192.168.77.200 | grep -c secondary || true"),
              "0\n");
    EXPECT_NE(routes("192.168.77.0/24").find("dev ch0"), std::string::npos);

    // Where the interface promotes already, it is left as it is.
    sh("sysctl -qw net.ipv4.conf.ch0.promote_secondaries=1");
    const uint32_t next =
        corvane::sys::nteContext({ifIndex("ch0"), ::inet_addr("192.168.77.200"), 24});
    ASSERT_EQ(DeleteIPAddress(next), NO_ERROR);
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0 | awk '{print $4}' | tr '\\n' ' '"),
              "10.20.0.1/24 192.168.77.201/24 ");
    EXPECT_EQ(shOut("sysctl -n net.ipv4.conf.ch0.promote_secondaries"), "1\n");
}

// The kernel would take an address the interface has with another mask as a second entry.
TEST_F(Changes, AnAddressTheInterfaceHasIsRefusedWithAnyMask) {
    const std::string before = shOut("ip -4 -o addr show dev ch0");
    ULONG context = 0;
    ULONG instance = 0;
    for (const char* mask : {"255.255.0.0", "255.255.255.0", "255.255.255.255"}) {
        SCOPED_TRACE(mask);
        EXPECT_EQ(AddIPAddress(::inet_addr("10.20.0.1"), ::inet_addr(mask), ifIndex("ch0"),
                               &context, &instance),
                  ERROR_OBJECT_ALREADY_EXISTS);
    }
    EXPECT_EQ(shOut("ip -4 -o addr show dev ch0"), before);
}
