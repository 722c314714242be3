// Persistent routes kept by the interface's manager itself: NetworkManager and
// systemd-networkd run in this test's namespaces on a private system bus, the helper's store
// path stores a route, and the manager then applies it on its own, the keeper not running.
// Both daemons must be installed: a missing one fails the test.
#include "corvane_result.h"
#include "dhcp/process.h"
#include "helper/store.h"
#include "managers_world.h"
#include "netmgr/route_home.h"
#include "netns.h"
#include "registry/location.h"
#include "registry/store.h"
#include "routing/persistentroutes.h"
#include "session/machinestore.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;
using namespace corvane::test::managers;
using sys::dhcp::Clock;

namespace {

constexpr auto kSecond = std::chrono::seconds(1);
constexpr const char* kRoute = "10.95.0.0,255.255.0.0,10.66.0.2,3";
constexpr const char* kDropinFolder = "/etc/systemd/network/50-corvane-hm0.network.d";
constexpr const char* kDropin = "/etc/systemd/network/50-corvane-hm0.network.d/corvane-routes.conf";

bool routeThere() {
    return shMayFail("ip -4 route show 10.95.0.0/16 | grep -q 'via 10.66.0.2'") == 0;
}

// The route stays for a while: a manager that removes strangers' routes does so at once.
bool routeStays() {
    return routeThere() && !waitFor([] { return !routeThere(); }, 2 * kSecond);
}

class RouteHomes : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        for (const char* p : {"/usr/bin/dbus-daemon", kNetworkManager, kNetworkd})
            ASSERT_EQ(::access(p, X_OK), 0) << p << " is not installed";
        ASSERT_TRUE(isolate("corvane-homes-test", true));
        isolated_ = true;
        files_ = "/tmp/" + uniqueName("corvane-homes");
        sh("mkdir -p " + files_ + "/store " + files_ + "/nm");
        sh("ip link set lo up");
        sh("ip link add hm0 type veth peer name hm1 && ip link set hm1 up && ip link set hm0 up");
        bus_ = systemBus();
        ASSERT_TRUE(bus_);
    }
    void TearDown() override {
        daemon_.reset();
        bus_.reset();
        // Only the test's own /run and configuration folder are emptied.
        if (isolated_)
            shMayFail(
                "ip link del hm0 2>/dev/null; rm -rf /run/dbus /run/systemd /run/NetworkManager "
                "/etc/systemd/network/*");
        if (!files_.empty())
            shMayFail("rm -rf " + files_);
    }
    void startNetworkManager() {
        daemon_ = networkManager(files_, "");
        ASSERT_TRUE(daemon_);
        // A route of the user's own in the profile, which must come through untouched.
        sh("nmcli connection add type ethernet ifname hm0 con-name corvane-hm0 "
           "ipv4.method manual ipv4.addresses 10.66.0.1/24 ipv4.routes '10.77.0.0/16 10.66.0.9 50 "
           "onlink=true' "
           "ipv6.method disabled >/dev/null");
        sh("nmcli connection up corvane-hm0 >/dev/null");
        ASSERT_TRUE(
            waitFor([] { return shMayFail("ip -4 route show 10.77.0.0/16 | grep -q .") == 0; },
                    10 * kSecond));
    }
    void startNetworkd() {
        prepareNetworkd(
            "50-corvane-hm0.network",
            "[Match]\nName=hm0\n[Network]\nAddress=10.66.0.1/24\nLinkLocalAddressing=no\n"
            "IPv6AcceptRA=no\n[Route]\nDestination=10.77.0.0/16\nGateway=10.66.0.9\n");
        daemon_ = std::make_unique<Daemon>(std::vector<std::string>{kNetworkd});
        ASSERT_TRUE(configured(20 * kSecond));
    }
    static bool configured(std::chrono::seconds limit) {
        return waitFor(
            [] {
                return shMayFail("networkctl status hm0 2>/dev/null | grep -q "
                                 "'State: routable (configured)'") == 0;
            },
            limit);
    }
    // Stores or forgets kRoute as the helper does; the milliseconds it took.
    long long store(bool persistent, std::vector<std::string>* placement = nullptr) {
        std::string failure;
        std::vector<std::string> lines;
        const auto t0 = Clock::now();
        EXPECT_EQ(helper::storePersistentRoutes(files_ + "/store", {kRoute}, persistent, failure,
                                                placement ? *placement : lines),
                  NO_ERROR)
            << failure;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        if (!placement)
            for (const std::string& line : lines)
                ADD_FAILURE() << line;
        return ms;
    }
    // The stored value's data; nothing when the name is not stored.
    std::optional<std::string> stored() const {
        reg::Store s(files_ + "/store/" + reg::kMachineStoreFile);
        const auto data = s.snapshot();
        const reg::KeyData* key = data->findKey(reg::kPersistentRoutesKey);
        const reg::Value* value = key ? key->find(kRoute) : nullptr;
        if (!value)
            return std::nullopt;
        return value->text;
    }

    std::unique_ptr<Daemon> bus_, daemon_;
    std::string files_;
    bool isolated_ = false;
};

std::vector<std::string> manyRoutes() {
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i)
        names.push_back("10.200." + std::to_string(i) + ".0,255.255.255.0,10.66.0.2,3");
    return names;
}

// Stores or forgets many routes in one call, as the helper does; the milliseconds it took.
long long storeMany(const std::string& folder, bool persistent) {
    std::string failure;
    std::vector<std::string> placement;
    const auto t0 = Clock::now();
    EXPECT_EQ(helper::storePersistentRoutes(folder, manyRoutes(), persistent, failure, placement),
              NO_ERROR)
        << failure;
    for (const std::string& line : placement)
        ADD_FAILURE() << line;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

std::string profileRoutes() {
    return shOut("nmcli -g ipv4.routes connection show corvane-hm0");
}

} // namespace

TEST_F(RouteHomes, NetworkManagerKeepsTheRouteInTheProfile) {
    startNetworkManager();
    const std::string uuid = shOut("nmcli -g connection.uuid connection show corvane-hm0");
    sh("ip route add 10.95.0.0/16 via 10.66.0.2 metric 3");
    sh("ip route add 10.44.0.0/16 via 10.66.0.2"); // someone else's, not persistent
    std::cout << "store through NetworkManager: " << store(true) << " ms\n";
    EXPECT_EQ(shMayFail("ip -4 route show 10.44.0.0/16 | grep -q ."), 0)
        << "applying the profile leaves others' routes alone";
    EXPECT_EQ(stored(), "nm:" + uuid.substr(0, uuid.find('\n')));
    const std::string routes = profileRoutes();
    EXPECT_NE(routes.find("10.95.0.0/16 10.66.0.2 3"), std::string::npos) << routes;
    EXPECT_NE(routes.find("10.77.0.0/16 10.66.0.9 50 onlink=true"), std::string::npos) << routes;
    // Saved to disk, not only in NetworkManager's memory.
    EXPECT_EQ(shMayFail("grep -rq '10.95.0.0/16,10.66.0.2,3' " + files_ + "/nm"), 0)
        << shOut("cat " + files_ + "/nm/*");
    // Applied at once, without an activation: the device's applied profile holds it.
    const std::string device =
        shOut("busctl call org.freedesktop.NetworkManager /org/freedesktop/NetworkManager "
              "org.freedesktop.NetworkManager GetDeviceByIpIface s hm0 | cut -d'\"' -f2");
    EXPECT_EQ(shMayFail("busctl --json=short call org.freedesktop.NetworkManager " +
                        device.substr(0, device.find('\n')) +
                        " org.freedesktop.NetworkManager.Device GetAppliedConnection u 0 | "
                        "grep -q 10.95.0.0"),
              0);
    // A reapply, which removes strangers' routes, keeps it.
    sh("nmcli device reapply hm0 >/dev/null");
    EXPECT_TRUE(routeStays());
    sh("ip route del 10.95.0.0/16");
    sh("nmcli connection up corvane-hm0 >/dev/null");
    EXPECT_TRUE(waitFor(routeThere, 10 * kSecond)) << "activation brings the route";
    // Stored again: no second entry.
    store(true);
    const std::string again = profileRoutes();
    EXPECT_EQ(again.find("10.95.0.0/16"), again.rfind("10.95.0.0/16")) << again;

    std::cout << "forget through NetworkManager: " << store(false) << " ms\n";
    EXPECT_FALSE(stored());
    const std::string after = profileRoutes();
    EXPECT_EQ(after.find("10.95.0.0/16"), std::string::npos) << after;
    EXPECT_NE(after.find("10.77.0.0/16 10.66.0.9 50 onlink=true"), std::string::npos) << after;
    sh("nmcli connection up corvane-hm0 >/dev/null");
    EXPECT_TRUE(waitFor([] { return shMayFail("ip -4 route show 10.77.0.0/16 | grep -q .") == 0; },
                        10 * kSecond));
    EXPECT_FALSE(routeThere());

    std::cout << "store 20 routes at once through NetworkManager: "
              << storeMany(files_ + "/store", true) << " ms\n";
    const std::string many = profileRoutes();
    for (const std::string& name : manyRoutes()) {
        const std::string entry = name.substr(0, name.find(',')) + "/24 10.66.0.2 3";
        EXPECT_NE(many.find(entry), std::string::npos) << entry << " in " << many;
    }
    std::cout << "forget 20 routes at once through NetworkManager: "
              << storeMany(files_ + "/store", false) << " ms\n";
    EXPECT_EQ(profileRoutes().find("10.200."), std::string::npos);
    EXPECT_NE(profileRoutes().find("10.77.0.0/16"), std::string::npos);
}

TEST_F(RouteHomes, NetworkManagerProfileWithTheRouteAlreadyIsTheUsers) {
    startNetworkManager();
    sh("nmcli connection modify corvane-hm0 +ipv4.routes '10.95.0.0/16 10.66.0.2 3'");
    sh("nmcli device reapply hm0 >/dev/null");
    store(true);
    EXPECT_EQ(stored(), "") << "stored, but not as ours in the profile";
    store(false);
    EXPECT_NE(profileRoutes().find("10.95.0.0/16 10.66.0.2 3"), std::string::npos)
        << "the user's entry stays";
}

TEST_F(RouteHomes, NetworkManagerProfileKeepsItsSecretsAndOtherSettings) {
    startNetworkManager();
    sh("nmcli connection add type wifi ifname wl9 con-name corvane-wifi ssid corvane "
       "wifi-sec.key-mgmt wpa-psk wifi-sec.psk corvane-secret-1 ipv4.dns 10.66.0.53 "
       "ipv6.method manual ipv6.addresses fd00::5/64 ipv6.routes 'fd01::/64 fd00::1 7 table=200' "
       "connection.autoconnect no >/dev/null");
    const std::string path =
        shOut("busctl call org.freedesktop.NetworkManager /org/freedesktop/NetworkManager/Settings "
              "org.freedesktop.NetworkManager.Settings GetConnectionByUuid s "
              "$(nmcli -g connection.uuid connection show corvane-wifi) | cut -d'\"' -f2");
    const auto before = [] {
        return shOut("nmcli -s -g 802-11-wireless-security.psk,ipv4.dns,ipv6.addresses,ipv6.routes "
                     "connection show corvane-wifi");
    };
    const std::string kept = before();
    ASSERT_NE(kept.find("corvane-secret-1"), std::string::npos) << kept;
    ASSERT_NE(kept.find("table=200"), std::string::npos) << kept;
    ASSERT_EQ(sys::netmgr::changeProfileRoutes(path.substr(0, path.find('\n')),
                                               *reg::readRouteName(kRoute), true),
              "");
    EXPECT_EQ(before(), kept);
    EXPECT_NE(shOut("nmcli -g ipv4.routes connection show corvane-wifi").find("10.95.0.0/16"),
              std::string::npos);
    EXPECT_EQ(shMayFail("grep -rq corvane-secret-1 " + files_ + "/nm"), 0) << "still on disk";
}

TEST_F(RouteHomes, NetworkdKeepsTheRouteInADropin) {
    startNetworkd();
    sh("ip route add 10.95.0.0/16 via 10.66.0.2 metric 3");
    sh("ip route add 10.44.0.0/16 via 10.66.0.2"); // someone else's, not persistent
    std::cout << "store through systemd-networkd: " << store(true) << " ms\n";
    // Storing never makes networkd reconfigure the link, which would drop that route.
    EXPECT_FALSE(waitFor([] { return shMayFail("ip -4 route show 10.44.0.0/16 | grep -q .") != 0; },
                         kSecond));
    EXPECT_EQ(stored(), std::string("networkd:") + kDropin);
    EXPECT_EQ(shOut(std::string("cat ") + kDropin),
              sys::netmgr::dropinText({*reg::readRouteName(kRoute)}));
    ASSERT_TRUE(configured(10 * kSecond));
    // The administrator's next reload reads the drop-in; from then on networkd applies the
    // route itself, at every reconfiguration.
    sh("networkctl reload");
    ASSERT_TRUE(configured(10 * kSecond));
    sh("ip route del 10.95.0.0/16");
    sh("networkctl reconfigure hm0");
    ASSERT_TRUE(configured(10 * kSecond));
    EXPECT_TRUE(waitFor(routeThere, 10 * kSecond)) << "networkd applies the route itself";
    EXPECT_TRUE(routeStays());
    EXPECT_EQ(shMayFail("ip -4 route show 10.95.0.0/16 proto static | grep -q 'metric 3'"), 0);
    EXPECT_EQ(shMayFail("ip -4 route show 10.77.0.0/16 | grep -q 10.66.0.9"), 0);

    std::cout << "forget through systemd-networkd: " << store(false) << " ms\n";
    EXPECT_FALSE(stored());
    EXPECT_NE(::access(kDropin, F_OK), 0);
    EXPECT_NE(::access(kDropinFolder, F_OK), 0) << "an empty folder of ours goes too";
    sh("networkctl reload");
    EXPECT_EQ(shOut("cat /run/systemd/network/50-corvane-hm0.network").find("10.77.0.0/16") !=
                  std::string::npos,
              true);
    sh("networkctl reconfigure hm0");
    ASSERT_TRUE(configured(10 * kSecond));
    EXPECT_TRUE(waitFor([] { return !routeThere(); }, 5 * kSecond));
    EXPECT_EQ(shMayFail("ip -4 route show 10.77.0.0/16 | grep -q 10.66.0.9"), 0);

    std::cout << "store 20 routes at once through systemd-networkd: "
              << storeMany(files_ + "/store", true) << " ms\n";
    EXPECT_EQ(shOut(std::string("grep -c '^\\[Route\\]' ") + kDropin), "20\n");
    sh("networkctl reload");
    ASSERT_TRUE(configured(10 * kSecond));
    EXPECT_TRUE(
        waitFor([] { return shOut("ip -4 route show proto static | grep -c 10.200.") == "20\n"; },
                10 * kSecond))
        << "all applied by networkd after one reload";
    std::cout << "forget 20 routes at once through systemd-networkd: "
              << storeMany(files_ + "/store", false) << " ms\n";
    EXPECT_NE(::access(kDropinFolder, F_OK), 0);
}

TEST_F(RouteHomes, NetworkdDropinFolderThroughALinkIsRefusedAndTheRouteStillStored) {
    startNetworkd();
    sh("mkdir -p " + files_ + "/elsewhere && ln -s " + files_ + "/elsewhere " + kDropinFolder);
    sh("ip route add 10.95.0.0/16 via 10.66.0.2 metric 3");
    std::vector<std::string> placement;
    store(true, &placement);
    ASSERT_EQ(placement.size(), 1u);
    EXPECT_NE(placement.front().find("systemd-networkd"), std::string::npos) << placement.front();
    EXPECT_EQ(stored(), "") << "in the store alone, for the keeper";
    EXPECT_EQ(shOut("ls -A " + files_ + "/elsewhere"), "");
    store(false);
    EXPECT_FALSE(stored());

    // A route placed, its folder since swapped for a link: forgetting it touches nothing there.
    sh("rm " + std::string(kDropinFolder));
    store(true);
    ASSERT_EQ(stored(), std::string("networkd:") + kDropin);
    sh("mv " + std::string(kDropinFolder) + " " + files_ + "/moved && ln -s " + files_ + "/moved " +
       kDropinFolder);
    placement.clear();
    store(false, &placement);
    EXPECT_FALSE(stored());
    ASSERT_EQ(placement.size(), 1u) << "told that the route may live on there";
    EXPECT_NE(placement.front().find("not a folder of ours"), std::string::npos)
        << placement.front();
    EXPECT_EQ(shOut("ls -A " + files_ + "/moved"), "corvane-routes.conf\n");
}

TEST_F(RouteHomes, ProgramRunAsRootPlacesAndForgetsDirectly) {
    startNetworkd();
    const std::string folder = files_ + "/program";
    const char* before = std::getenv(reg::kConfigDirVariable);
    const std::optional<std::string> saved =
        before ? std::optional<std::string>(before) : std::nullopt;
    ::setenv(reg::kConfigDirVariable, folder.c_str(), 1);
    resetMachineStore();
    ASSERT_FALSE(persistentRoutesThroughHelper());
    sh("ip route add 10.95.0.0/16 via 10.66.0.2 metric 3");
    EXPECT_TRUE(SetPersistent(kRoute, true));
    EXPECT_EQ(::access(kDropin, F_OK), 0);
    EXPECT_EQ(shMayFail("grep -q 'networkd:" + std::string(kDropin) + "' " + folder + "/" +
                        reg::kMachineStoreFile),
              0)
        << shOut("cat " + folder + "/" + reg::kMachineStoreFile);
    EXPECT_TRUE(IsPersistent(kRoute));
    EXPECT_TRUE(SetPersistent(std::vector<std::string>{kRoute}, false));
    EXPECT_FALSE(IsPersistent(kRoute));
    EXPECT_NE(::access(kDropin, F_OK), 0);
    if (saved)
        ::setenv(reg::kConfigDirVariable, saved->c_str(), 1);
    else
        ::unsetenv(reg::kConfigDirVariable);
    resetMachineStore();
}
