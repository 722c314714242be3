// Release and renewal through the network managers themselves: NetworkManager and
// systemd-networkd run in this test's namespaces on a private system bus, dnsmasq serves
// DHCP from a peer namespace, and the library drives them over the bus. Both daemons must
// be installed: a missing one fails the test.
#include "changes.h"
#include "corvane_result.h"
#include "dhcp/manager.h"
#include "dhcp/networkd.h"
#include "dhcp/networkmanager.h"
#include "dhcp/process.h"
#include "iphlpapi.h"
#include "managers_world.h"
#include "netns.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;
using namespace corvane::test::managers;
using sys::dhcp::Clock;

namespace {

constexpr auto kSecond = std::chrono::seconds(1);

std::vector<std::string> addresses(const char* ifName, const char* filter = "") {
    const std::string out = shOut(std::string("ip -4 -o addr show dev ") + ifName + " " + filter +
                                  " | awk '{print $4}'");
    std::vector<std::string> list;
    size_t pos = 0;
    while (pos < out.size()) {
        const size_t end = out.find('\n', pos);
        list.push_back(out.substr(pos, end - pos));
        pos = end == std::string::npos ? out.size() : end + 1;
    }
    return list;
}

bool inPool(const std::string& cidr) {
    const std::string a = cidr.substr(0, cidr.find('/'));
    const uint32_t host = ntohl(::inet_addr(a.c_str()));
    return !a.empty() && host >= ntohl(::inet_addr("10.99.0.50")) &&
           host <= ntohl(::inet_addr("10.99.0.60"));
}

std::string leased(const char* ifName) {
    for (const std::string& a : addresses(ifName))
        if (inPool(a))
            return a;
    return {};
}

IP_ADAPTER_INDEX_MAP entry(uint32_t index, const char* name) {
    IP_ADAPTER_INDEX_MAP m{};
    m.Index = index;
    for (size_t i = 0; name[i] && i + 1 < MAX_ADAPTER_NAME; ++i)
        m.Name[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
    return m;
}

// GetAdaptersInfo's DhcpEnabled for an interface; -1 when it is not listed.
int dhcpEnabled(const char* ifName) {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW)
        return -1;
    std::vector<unsigned char> buf(size);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data());
    if (GetAdaptersInfo(list, &size) != NO_ERROR)
        return -1;
    for (const IP_ADAPTER_INFO* a = list; a; a = a->Next)
        if (std::string(a->AdapterName) == ifName)
            return static_cast<int>(a->DhcpEnabled);
    return -1;
}

// What an unprivileged caller of the library is answered: the result, and whether the caller
// had the privilege (it must not, or no helper is asked). Run in a child as nobody.
struct Unprivileged {
    DWORD result = ~DWORD{0};
    bool privileged = true;
};
Unprivileged renewAsNobody(uint32_t index, const char* name) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        Unprivileged u;
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0) {
            u.privileged = sys::dhcp::mayAdministerNetwork();
            IP_ADAPTER_INDEX_MAP m = entry(index, name);
            u.result = IpRenewAddress(&m);
        }
        const bool sent = ::write(fds[1], &u, sizeof u) == static_cast<ssize_t>(sizeof u);
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    Unprivileged u;
    pollfd p{fds[0], POLLIN, 0};
    // Past the library's own bound on a renewal.
    if (child > 0 && ::poll(&p, 1, 45'000) == 1 &&
        ::read(fds[0], &u, sizeof u) != static_cast<ssize_t>(sizeof u))
        u = {};
    ::close(fds[0]);
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return u;
}

class ManagerExchange : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        for (const char* p :
             {"/usr/sbin/dnsmasq", "/usr/bin/dbus-daemon", kNetworkManager, kNetworkd})
            ASSERT_EQ(::access(p, X_OK), 0) << p << " is not installed";
        ASSERT_TRUE(isolate("corvane-managers-test", false));
        files_ = "/tmp/" + uniqueName("corvane-managers");
        peer_ = std::make_unique<PeerNamespace>("mgrsrv");
        sh("ip link set lo up");
        sh("ip link add mg0 type veth peer name mg1 netns " + peer_->name());
        peer_->run("ip addr add 10.99.0.1/24 dev mg1");
        peer_->run("ip link set mg1 up");
        sh("ip link set mg0 up");
        index_ = ::if_nametoindex("mg0");
        serve();
        bus_ = systemBus({CORVANE_HELPER_POLICY});
        ASSERT_TRUE(bus_);
    }
    void TearDown() override {
        if (HasFailure() && helper_)
            std::cout << "helper's output:\n" << shOut("cat " + files_ + ".helper 2>&1") << "\n";
        helper_.reset();
        polkit_.reset();
        daemon_.reset();
        bus_.reset();
        server_.reset();
        shMayFail("ip link del mg0 2>/dev/null; rm -rf /run/dbus /run/systemd /run/NetworkManager");
        peer_.reset();
        shMayFail("rm -rf " + files_ + "*");
    }
    void serve() {
        server_ = std::make_unique<Daemon>(std::vector<std::string>{
            "/usr/sbin/ip", "netns", "exec", peer_->name(), "/usr/sbin/dnsmasq",
            "--keep-in-foreground", "--conf-file=/dev/null", "--port=0", "--interface=mg1",
            "--bind-interfaces", "--dhcp-authoritative",
            "--dhcp-range=10.99.0.50,10.99.0.60,255.255.255.0,120",
            "--dhcp-leasefile=" + files_ + ".leases", "--log-dhcp",
            "--log-facility=" + files_ + ".log"});
        ASSERT_TRUE(waitFor(
            [&] { return shMayFail(peer_->exec("ss -Hlun 'sport = :67'") + " | grep -q .") == 0; },
            5 * kSecond));
    }
    int acks() const {
        return std::atoi(shOut("grep -c DHCPACK " + files_ + ".log 2>/dev/null || true").c_str());
    }
    void startNetworkManager() {
        sh("mkdir -p " + files_ + ".d");
        daemon_ = networkManager(files_ + ".d", "dhcp=internal\n");
        ASSERT_TRUE(daemon_);
        sh("nmcli connection add type ethernet ifname mg0 con-name corvane-mg0 ipv4.method auto "
           "ipv6.method disabled >/dev/null");
        ASSERT_TRUE(waitFor([] { return !leased("mg0").empty(); }, 20 * kSecond));
    }
    void startNetworkd() {
        configureNetworkd();
        ASSERT_TRUE(waitFor(
            [&] { return !leased("mg0").empty() && sys::dhcp::networkd::readLease(index_); },
            20 * kSecond));
    }
    void configureNetworkd() {
        prepareNetworkd(
            "50-corvane-mg0.network",
            "[Match]\nName=mg0\n[Network]\nDHCP=ipv4\nLinkLocalAddressing=no\nIPv6AcceptRA=no\n"
            "[DHCPv4]\nUseHostname=no\nUseDNS=no\n");
        daemon_ = std::make_unique<Daemon>(std::vector<std::string>{kNetworkd});
    }

    // The helper as its unit runs it (root with CAP_NET_ADMIN alone), polkit stood in by
    // dbusmock and allowing the DHCP action alone.
    void startHelper() {
        polkit_ = std::make_unique<Daemon>(std::vector<std::string>{
            "/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "polkitd"});
        ASSERT_TRUE(waitFor([] { return hasOwner("org.freedesktop.PolicyKit1"); }, 10 * kSecond));
        sh("mkdir -p " + files_ + ".etc");
        helper_ = std::make_unique<Daemon>(std::vector<std::string>{
            "/bin/sh", "-c",
            "exec /usr/bin/setpriv --inh-caps=-all --bounding-set=-all,+net_admin -- "
            "/usr/bin/env CORVANE_CONFIG_DIR=" +
                files_ + ".etc ASAN_OPTIONS=detect_leaks=0 " CORVANE_HELPER " 2>>" + files_ +
                ".helper"});
        ASSERT_TRUE(waitFor([] { return hasOwner("org.corvane.Helper"); }, 10 * kSecond));
    }
    static bool hasOwner(const std::string& name) {
        return shOut("busctl --system call org.freedesktop.DBus /org/freedesktop/DBus "
                     "org.freedesktop.DBus NameHasOwner s " +
                     name + " 2>/dev/null") == "b true\n";
    }
    // An unprivileged renewal through the helper: a new exchange with the server, result 0.
    void renewThroughHelper(const char* manager) {
        startHelper();
        // polkit's no is the answer, and nothing is asked of the manager.
        int before = acks();
        EXPECT_EQ(renewAsNobody(index_, "mg0").result, ERROR_HELPER_NOT_ALLOWED);
        EXPECT_EQ(acks(), before);
        sh("busctl --system call org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority "
           "org.freedesktop.DBus.Mock SetAllowed as 1 org.corvane.dhcp >/dev/null");
        before = acks();
        const auto t0 = Clock::now();
        const Unprivileged u = renewAsNobody(index_, "mg0");
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
        EXPECT_FALSE(u.privileged);
        EXPECT_EQ(u.result, NO_ERROR);
        std::cout << "renewal through the helper and " << manager << ": " << ms.count() << " ms\n";
        EXPECT_GT(acks(), before) << "a new exchange with the server";
        EXPECT_FALSE(leased("mg0").empty());
    }

    std::unique_ptr<PeerNamespace> peer_;
    std::unique_ptr<Daemon> server_, bus_, daemon_, polkit_, helper_;
    uint32_t index_ = 0;
    std::string files_;
};

} // namespace

TEST_F(ManagerExchange, NetworkManagerRenewsAndKeepsUserAddresses) {
    startNetworkManager();
    const auto managers = sys::dhcp::Managers::scan();
    const auto manager = managers.managing("mg0", index_);
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->kind, sys::dhcp::ManagerKind::NetworkManager);
    EXPECT_FALSE(managers.managing("lo", 1));
    const auto listed = Clock::now();
    EXPECT_EQ(dhcpEnabled("mg0"), 1);
    std::cout
        << "adapter list (two calls) with NetworkManager asked: "
        << std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - listed).count()
        << " us\n";
    EXPECT_NE(dhcpEnabled("lo"), 1);
    const auto lease = managers.leaseFor("mg0", index_);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->server, ::inet_addr("10.99.0.1"));
    EXPECT_EQ(lease->expires - lease->obtained, 120);

    // From another network namespace on the same bus, an interface of the same name there is
    // not the one NetworkManager manages here.
    const pid_t child = ::fork();
    if (child == 0) {
        const bool alone =
            ::unshare(CLONE_NEWNET) == 0 &&
            std::system("ip link add mg0 type veth peer name mg9 && ip link set mg0 up") == 0 &&
            !sys::dhcp::Managers::scan().managing("mg0", ::if_nametoindex("mg0"));
        ::_exit(alone ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    sh("ip addr add 192.168.77.5/24 dev mg0");
    IP_ADAPTER_INDEX_MAP m = entry(index_, "mg0");
    // Its release would be disconnecting the device: refused, nothing changed.
    EXPECT_EQ(IpReleaseAddress(&m), ERROR_DHCP_KEPT_BY_MANAGER);
    EXPECT_FALSE(leased("mg0").empty());
    const int before = acks();
    const auto t0 = Clock::now();
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    std::cout << "renewal through NetworkManager: " << ms.count() << " ms\n";
    EXPECT_GT(acks(), before) << "a new exchange with the server";
    EXPECT_FALSE(leased("mg0").empty());
    EXPECT_EQ(addresses("mg0", "permanent"), std::vector<std::string>{"192.168.77.5/24"});
    EXPECT_EQ(managers.managing("mg0", index_)->kind, sys::dhcp::ManagerKind::NetworkManager);
}

TEST_F(ManagerExchange, NetworkManagerWithASilentServerKeepsTheLease) {
    startNetworkManager();
    const std::string address = leased("mg0");
    server_.reset();
    const auto managers = sys::dhcp::Managers::scan();
    const auto manager = managers.managing("mg0", index_);
    ASSERT_TRUE(manager);
    const auto asked = Clock::now();
    EXPECT_EQ(sys::dhcp::networkmanager::renew(managers.bus(), manager->object,
                                               Clock::now() + 4 * kSecond),
              ERROR_DHCP_NO_ANSWER);
    EXPECT_EQ(leased("mg0"), address);
    EXPECT_TRUE(sys::dhcp::managed("mg0"));
    EXPECT_EQ(dhcpEnabled("mg0"), 1);
    // Past NetworkManager's default DHCP timeout of 45 seconds the address is still there:
    // its lease lasts 120.
    std::this_thread::sleep_until(asked + 50 * kSecond);
    EXPECT_EQ(leased("mg0"), address);
    EXPECT_TRUE(sys::dhcp::managed("mg0"));
    // Still asking: the server, back, is heard.
    const int before = acks();
    serve();
    EXPECT_TRUE(waitFor([&] { return acks() > before; }, 20 * kSecond));
    EXPECT_EQ(leased("mg0"), address);
}

TEST_F(ManagerExchange, NetworkdRenewsAndKeepsUserAddresses) {
    startNetworkd();
    const auto managers = sys::dhcp::Managers::scan();
    const auto manager = managers.managing("mg0", index_);
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->kind, sys::dhcp::ManagerKind::Networkd);
    EXPECT_EQ(dhcpEnabled("mg0"), 1);
    EXPECT_NE(dhcpEnabled("lo"), 1);
    const auto lease = managers.leaseFor("mg0", index_);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->server, ::inet_addr("10.99.0.1"));
    EXPECT_EQ(lease->address,
              ::inet_addr(leased("mg0").substr(0, leased("mg0").find('/')).c_str()));

    sh("ip addr add 192.168.77.5/24 dev mg0");
    IP_ADAPTER_INDEX_MAP m = entry(index_, "mg0");
    EXPECT_EQ(IpReleaseAddress(&m), ERROR_DHCP_KEPT_BY_MANAGER);
    const int before = acks();
    const auto t0 = Clock::now();
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    std::cout << "renewal through systemd-networkd: " << ms.count() << " ms\n";
    EXPECT_GT(acks(), before) << "a new exchange with the server";
    EXPECT_FALSE(leased("mg0").empty());
    EXPECT_EQ(addresses("mg0", "permanent"), std::vector<std::string>{"192.168.77.5/24"});
}

TEST_F(ManagerExchange, NetworkdWithASilentServerKeepsTheLease) {
    startNetworkd();
    const std::string address = leased("mg0");
    server_.reset();
    const auto managers = sys::dhcp::Managers::scan();
    const auto manager = managers.managing("mg0", index_);
    ASSERT_TRUE(manager);
    EXPECT_EQ(sys::dhcp::networkd::renew(managers.bus(), manager->object, index_,
                                         Clock::now() + 4 * kSecond),
              ERROR_DHCP_NO_ANSWER);
    EXPECT_EQ(leased("mg0"), address);
    EXPECT_TRUE(sys::dhcp::managed("mg0"));
    // networkd asks again on its own schedule (a minute or more away); its lease stays.
    EXPECT_TRUE(sys::dhcp::networkd::readLease(index_));
}

TEST_F(ManagerExchange, HelperRenewsThroughNetworkManager) {
    startNetworkManager();
    renewThroughHelper("NetworkManager");
}

TEST_F(ManagerExchange, HelperRenewsThroughNetworkd) {
    startNetworkd();
    renewThroughHelper("systemd-networkd");
}

// A renewal the manager refuses is told as such, never as success.
TEST_F(ManagerExchange, NetworkManagerRefusalIsReported) {
    startNetworkManager();
    const auto managers = sys::dhcp::Managers::scan();
    const auto device = sys::dhcp::networkmanager::device(managers.bus(), "mg0");
    ASSERT_TRUE(device);
    sh("nmcli connection down corvane-mg0 >/dev/null");
    ASSERT_TRUE(waitFor([&] { return leased("mg0").empty(); }, 10 * kSecond));
    EXPECT_EQ(sys::dhcp::networkmanager::renew(managers.bus(), *device, Clock::now() + 4 * kSecond),
              ERROR_DHCP_MANAGER_REFUSED);
    // Listed afresh, nothing runs DHCP there.
    IP_ADAPTER_INDEX_MAP m = entry(index_, "mg0");
    EXPECT_EQ(IpRenewAddress(&m), ERROR_NO_DHCP_CLIENT);
    EXPECT_NE(dhcpEnabled("mg0"), 1);
    // The same through the helper, before anyone is asked for a password.
    startHelper();
    EXPECT_EQ(renewAsNobody(index_, "mg0").result, ERROR_NO_DHCP_CLIENT);
}

TEST_F(ManagerExchange, NetworkdRefusalIsReported) {
    startNetworkd();
    const auto managers = sys::dhcp::Managers::scan();
    const auto lo = sys::dhcp::networkd::link(managers.bus(), 1, "lo");
    ASSERT_TRUE(lo);
    const auto t0 = Clock::now();
    EXPECT_EQ(sys::dhcp::networkd::renew(managers.bus(), *lo, 1, Clock::now() + 4 * kSecond),
              ERROR_DHCP_MANAGER_REFUSED);
    EXPECT_LT(Clock::now() - t0, 2 * kSecond) << "refused at once, not waited on";
}

// A link networkd runs DHCP on that has never had a lease is still its own: listed as DHCP,
// and renewed through networkd once a server is there.
TEST_F(ManagerExchange, NetworkdLinkWithoutALeaseYet) {
    server_.reset();
    configureNetworkd();
    ASSERT_TRUE(waitFor(
        [&] {
            return shMayFail("grep -qs ADMIN_STATE=configuring /run/systemd/netif/links/" +
                             std::to_string(index_)) == 0;
        },
        10 * kSecond));
    ASSERT_FALSE(sys::dhcp::networkd::readLease(index_));
    const auto managers = sys::dhcp::Managers::scan();
    const auto manager = managers.managing("mg0", index_);
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->kind, sys::dhcp::ManagerKind::Networkd);
    EXPECT_EQ(dhcpEnabled("mg0"), 1);
    EXPECT_NE(dhcpEnabled("lo"), 1);
    ULONG size = 0;
    ASSERT_EQ(GetInterfaceInfo(nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
    std::vector<unsigned char> buf(size);
    auto* info = reinterpret_cast<IP_INTERFACE_INFO*>(buf.data());
    ASSERT_EQ(GetInterfaceInfo(info, &size), NO_ERROR);
    bool listed = false;
    for (LONG i = 0; i < info->NumAdapters; ++i)
        listed = listed || info->Adapter[i].Index == index_;
    EXPECT_TRUE(listed);
    // Silent server: told so, and networkd goes on.
    EXPECT_EQ(sys::dhcp::networkd::renew(managers.bus(), manager->object, index_,
                                         Clock::now() + 3 * kSecond),
              ERROR_DHCP_NO_ANSWER);
    EXPECT_TRUE(sys::dhcp::managed("mg0"));
    serve();
    const int before = acks();
    IP_ADAPTER_INDEX_MAP m = entry(index_, "mg0");
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_GT(acks(), before);
    EXPECT_FALSE(leased("mg0").empty());
    EXPECT_TRUE(sys::dhcp::networkd::readLease(index_));
}
