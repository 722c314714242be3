// A route list added through the platform library into the kernel of a private network
// namespace: what went in is read back from the kernel, what was stored from the store.
#include "netns.h"
#include "platform/iphelper.h"
#include "recording_prompter.h"
#include "registry/location.h"
#include "routing/persistentroutes.h"
#include "routing/routelist_add.h"
#include "shell/machinestore.h"
#include "temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

class RouteList : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        ::setenv(reg::kConfigDirVariable, dir.path().c_str(), 1);
        resetMachineStore();
        ASSERT_FALSE(iphlp().bind(false).base);
        sh("ip link set lo up && ip link add la0 type veth peer name la0p && "
           "ip link set la0 up && ip link set la0p up && ip addr add 10.50.0.1/24 dev la0");
        // Taken already: the list's route of the same network and metric is refused.
        sh("ip route add 10.62.0.0/16 via 10.50.0.9 metric 7");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del la0 2>/dev/null");
        iphlp().unload();
        ::unsetenv(reg::kConfigDirVariable);
        resetMachineStore();
    }
    // "dst gateway dev metric" of the kernel's routes under 10.0.0.0/8 but the link's own.
    static std::string kernelRoutes() {
        return shOut("ip -j route show table main root 10.0.0.0/8 | jq -r '.[] | "
                     "select(.dst != \"10.50.0.0/24\") | "
                     "\"\\(.dst) \\(.gateway // \"-\") \\(.dev) \\(.metric // 0)\"'");
    }

    TempDir dir;
    RecordingPrompter prompts;
};

TEST_F(RouteList, ARefusedRouteIsReportedOnceAndTheOthersGoInAndAreStored) {
    CORVANE_REQUIRE_NETNS();
    ListAddRequest request;
    request.routes = {
        {"10.60.0.0", "255.255.0.0"}, {"10.62.0.0", "255.255.0.0"}, {"10.61.1.0", "255.255.255.0"}};
    request.ifIndex = if_nametoindex("la0");
    request.nextHop = 0x0A3200FE; // 10.50.0.254
    request.nextHopText = QStringLiteral("10.50.0.254");
    request.metric = 7;
    request.persistent = true;
    int progress = 0;
    const ListAddResult result = addRouteList(request, [&] { ++progress; });

    EXPECT_EQ(result.added, 2);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(kernelRoutes(), "10.60.0.0/16 10.50.0.254 la0 7\n"
                              "10.61.1.0/24 10.50.0.254 la0 7\n"
                              "10.62.0.0/16 10.50.0.9 la0 7\n");
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("SetIPForwardEntry for 10.62.0.0 failed: "))
        << prompts.messages[0].text.toStdString();
    EXPECT_EQ(prompts.messages[0].caption, "Error");
    EXPECT_EQ(ReadPersistentRouteNames(),
              (std::vector<std::string>{"10.60.0.0,255.255.0.0,10.50.0.254,7",
                                        "10.61.1.0,255.255.255.0,10.50.0.254,7"}));
    EXPECT_GE(progress, 1) << "the window paints around the store write";
}

TEST_F(RouteList, NetworksAreTakenAsWrittenAndNothingIsStoredWithoutPersistent) {
    CORVANE_REQUIRE_NETNS();
    ListAddRequest request;
    // Host bits in the network: not aligned here, so the platform refuses it.
    request.routes = {{"10.63.1.2", "255.255.0.0"}, {"10.64.0.0", "255.255.0.0"}};
    request.ifIndex = if_nametoindex("la0");
    request.nextHop = 0x0A3200FE;
    request.nextHopText = QStringLiteral("10.50.0.254");
    const ListAddResult result = addRouteList(request, {});
    EXPECT_EQ(result.added, 1);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(kernelRoutes(), "10.62.0.0/16 10.50.0.9 la0 7\n"
                              "10.64.0.0/16 10.50.0.254 la0 1\n");
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("SetIPForwardEntry for 10.63.1.2 failed: "));
    EXPECT_TRUE(ReadPersistentRouteNames().empty());
}

// The adds of a list reuse what they know of this computer's addresses; an address that
// comes meanwhile must still make a next hop of its own an on-link route.
TEST_F(RouteList, AnAddressAddedBetweenTwoListsIsSeenByTheNext) {
    CORVANE_REQUIRE_NETNS();
    ListAddRequest request;
    request.routes = {{"10.65.0.0", "255.255.0.0"}};
    request.ifIndex = if_nametoindex("la0");
    request.nextHop = 0x0A320002; // 10.50.0.2, not yet ours
    request.nextHopText = QStringLiteral("10.50.0.2");
    EXPECT_EQ(addRouteList(request, {}).added, 1);
    sh("ip addr add 10.50.0.2/24 dev la0");
    request.routes = {{"10.66.0.0", "255.255.0.0"}};
    EXPECT_EQ(addRouteList(request, {}).added, 1);
    EXPECT_EQ(kernelRoutes(), "10.62.0.0/16 10.50.0.9 la0 7\n"
                              "10.65.0.0/16 10.50.0.2 la0 1\n"
                              "10.66.0.0/16 - la0 1\n");
    EXPECT_TRUE(prompts.messages.empty());
}

} // namespace
