// A listed route changed into another through the platform library, without a window, in the
// kernel of a private network namespace: the old route and its stored name are gone only when
// the new route was made, and back as they were when it was refused.
#include "netns.h"
#include "platform/iphelper.h"
#include "registry/location.h"
#include "routing/persistentroutes.h"
#include "routing/route_edit.h"
#include "routing/route_read.h"
#include "session/machinestore.h"
#include "temp_dir.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

// The bound entry points, and stand-ins that record what the store held at each call.
Entry<decltype(&::DeleteIpForwardEntry)> boundDelete;
Entry<decltype(&::SetIpForwardEntry)> boundSet;
std::string watchedName;
std::vector<bool> storedAtDelete;
int setCalls = 0;
int failSetFrom = 1; // the first SetIpForwardEntry call refused by refusingSet

DWORD watchingDelete(MIB_IPFORWARDROW* row) {
    storedAtDelete.push_back(IsPersistent(watchedName));
    return boundDelete(row);
}
DWORD refusingDelete(MIB_IPFORWARDROW*) {
    storedAtDelete.push_back(IsPersistent(watchedName));
    return ERROR_NOT_FOUND;
}
DWORD refusingSet(MIB_IPFORWARDROW* row) {
    return ++setCalls >= failSetFrom ? ERROR_ACCESS_DENIED : boundSet(row);
}

class RouteEdit : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        ::setenv(reg::kConfigDirVariable, dir.path().c_str(), 1);
        resetMachineStore();
        ASSERT_FALSE(iphlp().bind(false).base);
        boundDelete = iphlp().DeleteIpForwardEntry;
        boundSet = iphlp().SetIpForwardEntry;
        storedAtDelete.clear();
        setCalls = 0;
        sh("ip link set lo up && ip link add ed0 type veth peer name ed0p && "
           "ip link set ed0 up && ip link set ed0p up && ip addr add 10.52.0.1/24 dev ed0");
        sh("ip route add 10.66.0.0/16 via 10.52.0.2 metric 7 proto 42");
        watchedName = "10.66.0.0,255.255.0.0,10.52.0.2,7";
        ASSERT_TRUE(SetPersistent(watchedName, true));
    }
    void TearDown() override {
        if (!inPrivateNetns())
            return;
        iphlp().DeleteIpForwardEntry = boundDelete;
        iphlp().SetIpForwardEntry = boundSet;
        shMayFail("ip link del ed0 2>/dev/null");
        iphlp().unload();
        ::unsetenv(reg::kConfigDirVariable);
        resetMachineStore();
    }
    static RouteRow listed(std::uint32_t destination) {
        RouteTableRead read = readRouteTable({false, false});
        for (const RouteRow& row : read.fill.rows)
            if (row.destination == destination && !row.inactive())
                return row;
        ADD_FAILURE() << "no listed route";
        return {};
    }
    // The old route with metric 9 or through another next hop, stored as asked.
    static RouteChange change(const char* nextHop, DWORD metric, bool persistent) {
        RouteChange c;
        c.old = listed(0x0A420000);
        c.record = newRouteRecord(0x0A420000, 0xFFFF0000, ntohl(::inet_addr(nextHop)),
                                  if_nametoindex("ed0"), MIB_IPROUTE_TYPE_INDIRECT, metric);
        c.newName = "10.66.0.0,255.255.0.0," + std::string(nextHop) + "," + std::to_string(metric);
        c.persistent = persistent;
        return c;
    }
    static std::string kernelRoutes() { return shOut("ip route show 10.66.0.0/16"); }
    TempDir dir;
};

} // namespace

TEST_F(RouteEdit, AMadeChangeReplacesTheRouteAndItsName) {
    iphlp().DeleteIpForwardEntry.set(&watchingDelete);
    bool told = false;
    const RouteChangeResult done =
        changeRoute(change("10.52.0.2", 9, true), [&](DWORD) { told = true; });
    EXPECT_TRUE(done.changed());
    EXPECT_TRUE(done.oldGone());
    EXPECT_FALSE(told);
    EXPECT_EQ(storedAtDelete, std::vector<bool>{false}) << "the name leaves before the route";
    EXPECT_EQ(kernelRoutes(), "10.66.0.0/16 via 10.52.0.2 dev ed0 proto static metric 9 \n");
    EXPECT_FALSE(IsPersistent(watchedName));
    EXPECT_TRUE(IsPersistent("10.66.0.0,255.255.0.0,10.52.0.2,9"));

    // Not persistent: the new route is made and no name is stored for it.
    const RouteChangeResult again =
        changeRoute(change("10.52.0.3", 9, false), [&](DWORD) { told = true; });
    EXPECT_TRUE(again.oldGone());
    EXPECT_FALSE(IsPersistent("10.66.0.0,255.255.0.0,10.52.0.3,9"));
}

// A refused new route: the old one is back as it was made, with its name, and nothing new is
// stored.
TEST_F(RouteEdit, ARefusedNewRoutePutsTheOldOneBack) {
    const std::string before = kernelRoutes();
    const RouteChangeResult done = changeRoute(change("10.99.0.1", 9, true), nullptr);
    EXPECT_FALSE(done.changed());
    EXPECT_FALSE(done.oldGone());
    EXPECT_EQ(done.deleteRc, static_cast<DWORD>(NO_ERROR));
    EXPECT_NE(done.setRc, static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(done.backRc, static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(kernelRoutes(), before);
    EXPECT_NE(before.find("via 10.52.0.2 dev ed0 proto "), std::string::npos) << before;
    EXPECT_EQ(before.find("proto static"), std::string::npos) << "its own protocol, not ours";
    EXPECT_TRUE(IsPersistent(watchedName));
    EXPECT_FALSE(IsPersistent("10.66.0.0,255.255.0.0,10.99.0.1,9"));
}

// Neither the new route nor the old one could be made: the answer says so, and the old name is
// stored again all the same, so the store still brings the route back later.
TEST_F(RouteEdit, APutBackThatFailsIsToldAndKeepsTheName) {
    failSetFrom = 1;
    iphlp().SetIpForwardEntry.set(&refusingSet);
    const RouteChangeResult done = changeRoute(change("10.52.0.2", 9, true), nullptr);
    EXPECT_EQ(setCalls, 2) << "the new route, then the old one";
    EXPECT_EQ(done.setRc, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(done.backRc, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(kernelRoutes(), "");
    EXPECT_TRUE(IsPersistent(watchedName));
    EXPECT_FALSE(IsPersistent("10.66.0.0,255.255.0.0,10.52.0.2,9"));
}

// The old route could not be deleted: its name is back before the caller is told, and the new
// route is made beside it.
TEST_F(RouteEdit, ARefusedDeletionKeepsTheOldRouteAndName) {
    iphlp().DeleteIpForwardEntry.set(&refusingDelete);
    std::vector<DWORD> told;
    bool storedWhenTold = false;
    const RouteChangeResult done = changeRoute(change("10.52.0.2", 9, true), [&](DWORD rc) {
        told.push_back(rc);
        storedWhenTold = IsPersistent(watchedName);
    });
    EXPECT_EQ(storedAtDelete, std::vector<bool>{false});
    EXPECT_EQ(told, std::vector<DWORD>{ERROR_NOT_FOUND});
    EXPECT_TRUE(storedWhenTold);
    EXPECT_TRUE(done.changed());
    EXPECT_FALSE(done.oldGone());
    EXPECT_EQ(shOut("ip route show 10.66.0.0/16 | wc -l"), "2\n");
    EXPECT_TRUE(IsPersistent(watchedName));
    EXPECT_TRUE(IsPersistent("10.66.0.0,255.255.0.0,10.52.0.2,9"));
}
