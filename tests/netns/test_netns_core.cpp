// The kernel access underneath every table: dumps, decoding, consistency under change.
#include "netlink/read.h"
#include "netns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

uint32_t addr(const char* text) {
    return ::inet_addr(text);
}

bool hasRoute(const std::vector<sys::nl::Route>& routes, const char* dst, uint8_t len) {
    return std::any_of(routes.begin(), routes.end(), [&](const sys::nl::Route& r) {
        return r.table == RT_TABLE_MAIN && r.destination == addr(dst) && r.prefixLength == len;
    });
}

} // namespace

TEST(NetlinkCore, LinksAddressesAndRoutesOfABuiltWorld) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add ca0 address 02:00:00:00:00:a0 type veth peer name ca1");
    sh("ip addr add 10.9.0.1/24 dev ca0 && ip addr add 10.9.1.1/24 dev ca0");
    sh("ip link set ca0 up && ip link set ca1 up");
    sh("ip route add 10.77.0.0/16 via 10.9.0.2 metric 30");

    std::vector<sys::nl::Link> links;
    ASSERT_EQ(sys::nl::readLinks(links), 0);
    const auto it =
        std::find_if(links.begin(), links.end(), [](const auto& l) { return l.name == "ca0"; });
    ASSERT_NE(it, links.end());
    EXPECT_EQ(it->kind, "veth");
    EXPECT_EQ(it->mac, (std::vector<uint8_t>{2, 0, 0, 0, 0, 0xa0}));
    EXPECT_TRUE(it->hasStats);

    std::vector<sys::nl::Address> addrs;
    ASSERT_EQ(sys::nl::readAddresses(addrs), 0);
    EXPECT_EQ(std::count_if(addrs.begin(), addrs.end(),
                            [&](const auto& a) { return a.index == it->index; }),
              2);
    // One interface's addresses alone, as the per-adapter read asks for them.
    sh("ip addr add 10.9.2.1/24 dev ca1");
    ASSERT_EQ(sys::nl::readAddresses(addrs), 0);
    std::vector<sys::nl::Address> own;
    ASSERT_EQ(sys::nl::readAddresses(own, it->index), 0);
    EXPECT_EQ(own.size(), 2u);
    EXPECT_TRUE(
        std::all_of(own.begin(), own.end(), [&](const auto& a) { return a.index == it->index; }));
    EXPECT_GT(addrs.size(), own.size());

    std::vector<sys::nl::Route> routes;
    ASSERT_EQ(sys::nl::readRoutes(routes), 0);
    ASSERT_TRUE(hasRoute(routes, "10.77.0.0", 16));
    const auto r = std::find_if(routes.begin(), routes.end(), [](const auto& x) {
        return x.destination == addr("10.77.0.0") && x.prefixLength == 16;
    });
    EXPECT_EQ(r->priority, 30u);
    ASSERT_EQ(r->nextHops.size(), 1u);
    EXPECT_EQ(r->nextHops[0].gateway, addr("10.9.0.2"));
    EXPECT_EQ(r->nextHops[0].ifIndex, it->index);

    sys::nl::Link one;
    EXPECT_EQ(sys::nl::readLink(it->index, one), 0);
    EXPECT_EQ(one.name, "ca0");
    EXPECT_NE(sys::nl::readLink(999999, one), 0);
    sh("ip link del ca0");
}

// Two routes are swapped over and over so that one of them is always present. A dump that
// shows neither describes a table that never existed; the reader must not hand one out
// while it still has re-reads left.
TEST(NetlinkCore, RouteDumpNeverShowsATableThatNeverExisted) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add cb0 type veth peer name cb1 && ip link set cb0 up && ip link set cb1 up");
    sh("ip addr add 10.8.0.1/24 dev cb0");
    // Enough routes between the two that a dump takes several reads to get from one to the
    // other.
    std::string batch;
    for (int i = 0; i < 3000; ++i)
        batch += "route add 10.100." + std::to_string(i / 250) + "." + std::to_string(i % 250) +
                 "/32 dev cb0\n";
    sh("printf '" + batch + "' | ip -batch -");
    sh("ip route add 10.1.0.0/16 dev cb0");

    // One long-running batch swaps as fast as the kernel allows.
    std::string swaps;
    for (int i = 0; i < 500; ++i)
        swaps += "route add 10.200.0.0/16 dev cb0\\nroute del 10.1.0.0/16 dev cb0\\n"
                 "route add 10.1.0.0/16 dev cb0\\nroute del 10.200.0.0/16 dev cb0\\n";
    const std::string file = "/tmp/" + uniqueName("swaps");
    sh("printf '" + swaps + "' > " + file);
    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0) {
        const std::string loop = "while :; do ip -batch " + file + " || exit 1; done";
        ::execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int neither = 0;
    for (int i = 0; i < 120; ++i) {
        std::vector<sys::nl::Route> routes;
        ASSERT_EQ(sys::nl::readRoutes(routes), 0);
        if (!hasRoute(routes, "10.1.0.0", 16) && !hasRoute(routes, "10.200.0.0", 16))
            ++neither;
    }
    ::kill(swapper, SIGTERM);
    ::waitpid(swapper, nullptr, 0);
    ::unlink(file.c_str());
    EXPECT_EQ(neither, 0);
    sh("ip link del cb0");
}

static int readEverythingUnprivileged() {
    std::vector<sys::nl::Link> links;
    std::vector<sys::nl::Address> addrs;
    std::vector<sys::nl::Route> routes;
    if (sys::nl::readLinks(links) != 0 || links.empty())
        return 1;
    if (sys::nl::readAddresses(addrs) != 0)
        return 2;
    if (sys::nl::readRoutes(routes) != 0 || routes.empty())
        return 3;
    return 0;
}

TEST(NetlinkCore, ReadsNeedNoPrivilege) {
    CORVANE_REQUIRE_NETNS();
    EXPECT_EQ(runUnprivileged(readEverythingUnprivileged), 0);
}
