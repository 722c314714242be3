// A route list added through the platform library into the kernel of a private network
// namespace: what went in is read back from the kernel, what was stored from the store.
#include "netns.h"
#include "platform/iphelper.h"
#include "recording_prompter.h"
#include "registry/location.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "routing/routelist.h"
#include "routing/routelist_add.h"
#include "session/machinestore.h"
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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

    // A persistent list through la0 and 10.50.0.254 with metric 7.
    static ListAddRequest persistentList(std::vector<ListRoute> routes) {
        ListAddRequest request;
        request.routes = std::move(routes);
        request.ifIndex = if_nametoindex("la0");
        request.nextHop = 0x0A3200FE;
        request.nextHopText = QStringLiteral("10.50.0.254");
        request.metric = 7;
        request.persistent = true;
        return request;
    }
    // The names of the kernel's routes through 10.50.0.254, as a row shows them.
    static std::set<std::string> kernelNames() {
        std::istringstream lines(
            shOut("ip -o route show table main root 10.0.0.0/8 | awk '$2 == \"via\" && "
                  "$3 == \"10.50.0.254\" { print $1 \",\" $NF }'"));
        std::set<std::string> names;
        for (std::string line; std::getline(lines, line);) {
            // "10.100.3.0/24,7"
            const std::size_t slash = line.find('/');
            const std::size_t comma = line.find(',');
            const int prefix = std::stoi(line.substr(slash + 1, comma - slash - 1));
            const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
            names.insert(line.substr(0, slash) + "," + std::to_string(mask >> 24) + "." +
                         std::to_string((mask >> 16) & 255) + "." +
                         std::to_string((mask >> 8) & 255) + "." + std::to_string(mask & 255) +
                         ",10.50.0.254" + line.substr(comma));
        }
        return names;
    }
    static std::vector<ListRoute> bigList(int count) {
        std::vector<ListRoute> routes;
        for (int i = 0; i < count; ++i)
            routes.push_back({QStringLiteral("10.%1.%2.0").arg(100 + i / 256).arg(i % 256),
                              QStringLiteral("255.255.255.0"), i + 1});
        return routes;
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

// The loader reads quads as the address value does; what it takes, the store takes too, under
// the text the route's row shows, so that the row is marked persistent.
TEST_F(RouteList, LeadingZerosInAListAreStoredAsTheRowShowsThem) {
    CORVANE_REQUIRE_NETNS();
    const corvane::RouteList list =
        parseRouteList("10.061.0.0 255.255.0.0\n010.064.001.000 255.255.255.000\n"
                       "10.65.0.0 255.255.0.0\n");
    ASSERT_EQ(list.routes.size(), 3U);
    const ListAddResult result = addRouteList(persistentList(list.routes), {});
    EXPECT_EQ(result.added, 3);
    EXPECT_EQ(ReadPersistentRouteNames(),
              (std::vector<std::string>{"10.61.0.0,255.255.0.0,10.50.0.254,7",
                                        "10.64.1.0,255.255.255.0,10.50.0.254,7",
                                        "10.65.0.0,255.255.0.0,10.50.0.254,7"}));
    const RouteTableRead read = readRouteTable({});
    ASSERT_TRUE(read.ok);
    int marked = 0;
    for (const RouteRow& row : read.fill.rows)
        marked += row.persistent;
    EXPECT_EQ(marked, 3);
    EXPECT_TRUE(readInactivePersistentRows(read.fill.rows).empty());
    EXPECT_TRUE(prompts.messages.empty());
}

// The store would not take a route without a gateway: such a list goes nowhere, rather than
// into the kernel alone.
TEST_F(RouteList, APersistentListWithoutAGatewayAddsNothing) {
    CORVANE_REQUIRE_NETNS();
    ListAddRequest request =
        persistentList({{"10.70.0.0", "255.255.0.0"}, {"10.71.0.0", "255.255.0.0"}});
    request.nextHop = 0;
    request.nextHopText = QStringLiteral("0.0.0.0");
    const ListAddResult result = addRouteList(request, {});
    EXPECT_EQ(result.added, 0);
    EXPECT_EQ(result.failed, 2);
    EXPECT_EQ(kernelRoutes(), "10.62.0.0/16 10.50.0.9 la0 7\n");
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_EQ(prompts.messages[0].caption, "Error");
    EXPECT_TRUE(ReadPersistentRouteNames().empty());
}

// Killed in the middle of a long persistent list, the add leaves no more than one batch of
// routes in the kernel that the store does not name, and the store is whole.
TEST_F(RouteList, AKillMidwayLosesAtMostOneBatchOfStoredNames) {
    CORVANE_REQUIRE_NETNS();
    constexpr int total = 10000;
    const ListAddRequest request = persistentList(bigList(total));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        addRouteList(request, {});
        ::_exit(0);
    }
    const auto kernelCount = [] {
        return std::stoi(shOut("ip -o route show table main root 10.0.0.0/8 | grep -c "
                               "' via 10.50.0.254 ' || true"));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int seen = 0;
    while ((seen = kernelCount()) < 3000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "the add ended before it could be killed midway";

    const std::set<std::string> inKernel = kernelNames();
    resetMachineStore();
    std::string failure;
    const std::vector<std::string> stored = ReadPersistentRouteNames(&failure);
    EXPECT_TRUE(failure.empty()) << failure;
    const std::set<std::string> inStore(stored.begin(), stored.end());
    std::size_t unstored = 0;
    for (const std::string& name : inKernel)
        unstored += inStore.count(name) == 0;
    std::size_t absent = 0;
    for (const std::string& name : inStore)
        absent += inKernel.count(name) == 0;
    std::printf("[ figures  ] killed with %zu of %d routes in the kernel: %zu stored, %zu not\n",
                inKernel.size(), total, inStore.size(), unstored);
    EXPECT_GE(inKernel.size(), 3000U);
    EXPECT_LT(inKernel.size(), std::size_t{total});
    EXPECT_LE(unstored, kPersistentBatch);
    EXPECT_EQ(absent, 0U) << "names are stored only for routes the kernel took";
}

} // namespace
