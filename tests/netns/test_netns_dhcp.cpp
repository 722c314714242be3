// Real DHCP exchanges: dnsmasq serves from a peer namespace at the far end of a veth pair,
// dhclient and dhcpcd lease here, and the library releases and renews through them. Every
// process a test starts is stopped when it ends, passed or failed.
#include "changes.h"
#include "corvane_result.h"
#include "dhcp/clients.h"
#include "dhcp/dhclient.h"
#include "dhcp/process.h"
#include "hostinfo/adapter_pass.h"
#include "iphlpapi.h"
#include "netns.h"
#include "roots.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <net/if.h>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvane;
using namespace corvane::test;
using sys::dhcp::Clock;

namespace {

constexpr const char* kServer = "10.99.0.1";
constexpr auto kSecond = std::chrono::seconds(1);

// Once per process, before any client runs: their scripts set the host name and rewrite the
// resolver file, and dhcpcd keeps state under /run and /var/lib/dhcpcd. All of that goes to
// a private host name and to private mounts in this test's own mount namespace.
bool isolate() {
    static const bool done = [] {
        const std::string resolv = "/tmp/" + uniqueName("corvane-dhcp-resolv");
        std::ofstream(resolv) << "nameserver 127.0.0.1\n";
        static const char host[] = "corvane-dhcp-test";
        const bool ok =
            ::unshare(CLONE_NEWUTS) == 0 && ::sethostname(host, sizeof host - 1) == 0 &&
            ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0 && // orphaned daemons come back to us
            ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") == 0 &&
            ::mount("tmpfs", "/var/lib/dhcpcd", "tmpfs", 0, "mode=0755") == 0 &&
            ::mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
        ::unlink(resolv.c_str()); // the mount holds on to it
        return ok;
    }();
    return done;
}

std::string comm(const std::string& procDir) {
    std::string s;
    sys::readFile(procDir + "/comm", s);
    return s.substr(0, s.find('\n'));
}

std::string netns(const std::string& procDir) {
    char buf[64] = {};
    const ssize_t n = ::readlink((procDir + "/ns/net").c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Live processes of that name in this network namespace.
std::vector<int> processes(const std::string& name) {
    std::vector<int> pids;
    const std::string ours = netns("/proc/self");
    DIR* d = ::opendir("/proc");
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
        const int pid = std::atoi(e->d_name);
        const std::string dir = std::string("/proc/") + e->d_name;
        if (pid > 0 && pid != ::getpid() && comm(dir) == name && netns(dir) == ours &&
            sys::dhcp::processStartTime(pid) != 0)
            pids.push_back(pid);
    }
    if (d)
        ::closedir(d);
    return pids;
}

// Stops every DHCP client in this namespace, and reaps what comes back to us (daemons are
// orphans, and this process is their subreaper) so that nothing is left as a zombie.
struct ClientReaper {
    ~ClientReaper() {
        const auto deadline = Clock::now() + 5 * kSecond;
        for (;;) {
            std::vector<int> left = processes("dhclient");
            for (int pid : processes("dhcpcd"))
                left.push_back(pid);
            for (int pid : left)
                ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            if (left.empty() || Clock::now() > deadline)
                return;
        }
    }
};

// A server process of the test's own, killed and reaped when the object goes.
class Server {
public:
    Server(const PeerNamespace& peer, const std::string& leases) {
        const std::string log = leases + ".log";
        const std::vector<std::string> argv{sys::dhcp::systemProgram("ip"),
                                            "netns",
                                            "exec",
                                            peer.name(),
                                            "/usr/sbin/dnsmasq",
                                            "--keep-in-foreground",
                                            "--conf-file=/dev/null",
                                            "--port=0",
                                            "--interface=dh1",
                                            "--bind-interfaces",
                                            "--dhcp-authoritative",
                                            "--dhcp-range=10.99.0.50,10.99.0.60,255.255.255.0,120",
                                            "--dhcp-leasefile=" + leases,
                                            "--pid-file=" + leases + ".pid",
                                            "--log-facility=" + log};
        pid_ = spawnQuietly(argv);
        // Ready once it listens on the DHCP port.
        const std::string check = peer.exec("ss -Hlun 'sport = :67'") + " | grep -q .";
        ready_ =
            sys::dhcp::waitUntil([&] { return shMayFail(check) == 0; }, Clock::now() + 5 * kSecond);
    }
    ~Server() { stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    bool ready() const { return ready_; }
    void stop() {
        stopQuietly(pid_);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

std::string address(const char* ifName) {
    const std::string out =
        shOut(std::string("ip -4 -o addr show dev ") + ifName + " | awk '{print $4}'");
    return out.substr(0, out.find('/'));
}

bool inPool(const std::string& a) {
    const uint32_t host = ntohl(::inet_addr(a.c_str()));
    return !a.empty() && host >= ntohl(::inet_addr("10.99.0.50")) &&
           host <= ntohl(::inet_addr("10.99.0.60"));
}

IP_ADAPTER_INDEX_MAP entry(uint32_t index, const char* name) {
    IP_ADAPTER_INDEX_MAP m{};
    m.Index = index;
    for (size_t i = 0; name[i] && i + 1 < MAX_ADAPTER_NAME; ++i)
        m.Name[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
    return m;
}

// The adapter list as the platform reports it; entries point into the buffer.
struct AdapterList {
    std::vector<unsigned char> buf;
    // dh0's entry, alone: the pass below should see no other adapter.
    const IP_ADAPTER_INFO* dh0() {
        ULONG size = 0;
        if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW)
            return nullptr;
        buf.assign(size, 0);
        auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data());
        if (GetAdaptersInfo(list, &size) != NO_ERROR)
            return nullptr;
        for (IP_ADAPTER_INFO* a = list; a; a = a->Next)
            if (std::string(a->AdapterName) == "dh0") {
                a->Next = nullptr;
                return a;
            }
        return nullptr;
    }
};

// The system's answers the adapter pass asks for, fixed so only the lease decides.
class PlainEnv : public AdapterPassEnv {
public:
    QString connectionName(const QString& adapterName, DWORD) override { return adapterName; }
    bool isInterfaceUp(DWORD) override { return true; }
    GatewayMac gatewayMac(const QString&) override { return {}; }
    std::optional<PerAdapterDns> perAdapterInfo(DWORD) override { return std::nullopt; }
    QString dnsSuffix(DWORD) override { return QStringLiteral("none"); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
};

// What an unprivileged user may and may not do, run in a child as nobody; 0 when all holds.
uint32_t gIndex = 0;
int unprivilegedView() {
    IP_ADAPTER_INDEX_MAP m = entry(gIndex, "dh0");
    if (IpReleaseAddress(&m) != ERROR_ACCESS_DENIED || IpRenewAddress(&m) != ERROR_ACCESS_DENIED)
        return 1;
    const auto lease = sys::dhcp::leaseFor("dh0");
    if (!lease || lease->server != ::inet_addr(kServer))
        return 2;
    return 0;
}

class DhcpExchange : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        for (const char* p : {"dnsmasq", "dhclient", "dhcpcd"})
            if (sys::dhcp::systemProgram(p).empty())
                GTEST_SKIP() << p << " is not installed";
        ASSERT_TRUE(isolate());
        sys::dhcp::forgetRememberedClients();
        peer_ = std::make_unique<PeerNamespace>("dhcpsrv");
        sh("ip link add dh0 type veth peer name dh1 netns " + peer_->name());
        peer_->run("ip addr add 10.99.0.1/24 dev dh1");
        peer_->run("ip link set dh1 up");
        sh("ip link set dh0 up");
        gIndex = index_ = ::if_nametoindex("dh0");
        ASSERT_NE(index_, 0u);
        files_ = "/tmp/" + uniqueName("corvane-dhcp");
        server_ = std::make_unique<Server>(*peer_, files_ + ".dnsmasq");
        ASSERT_TRUE(server_->ready());
    }
    void TearDown() override {
        reaper_.reset(); // clients first, while their server and link are still there
        server_.reset();
        shMayFail("ip link del dh0 2>/dev/null");
        peer_.reset();
        shMayFail("rm -f " + files_ + ".*");
    }

    void startDhclient() {
        sh("timeout 30 /usr/sbin/dhclient -4 -1 -pf " + files_ + ".pid -lf " + leases() +
           " dh0 >/dev/null 2>&1");
    }
    std::string leases() const { return files_ + ".leases"; }
    bool waitForAddress(bool present) {
        return sys::dhcp::waitUntil([&] { return inPool(address("dh0")) == present; },
                                    Clock::now() + 5 * kSecond);
    }

    std::unique_ptr<PeerNamespace> peer_;
    std::unique_ptr<Server> server_;
    std::unique_ptr<ClientReaper> reaper_ = std::make_unique<ClientReaper>();
    uint32_t index_ = 0;
    std::string files_;
};

} // namespace

TEST_F(DhcpExchange, DhclientLeaseReleaseRenew) {
    const auto t0 = std::time(nullptr);
    startDhclient();
    const std::string leased = address("dh0");
    ASSERT_TRUE(inPool(leased)) << leased;

    auto lease = sys::dhcp::leaseFor("dh0");
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->address, ::inet_addr(leased.c_str()));
    EXPECT_EQ(lease->server, ::inet_addr(kServer));
    EXPECT_EQ(lease->expires - lease->obtained, 120);
    EXPECT_GE(lease->obtained, t0 - 2);
    EXPECT_LE(lease->obtained, std::time(nullptr) + 2);
    // The adapter list shows the same lease.
    AdapterList adapters;
    const IP_ADAPTER_INFO* adapter = adapters.dh0();
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->DhcpEnabled, 1u);
    EXPECT_STREQ(adapter->DhcpServer.IpAddress.String, kServer);
    EXPECT_EQ(adapter->LeaseObtained, lease->obtained);
    EXPECT_EQ(adapter->LeaseExpires, lease->expires);
    // ... and the IP Info tree turns it into its DHCP section.
    PlainEnv env;
    const AdapterPassResult pass = runAdapterPass(adapter, env, false);
    ASSERT_EQ(pass.adapters.size(), 1u);
    const auto& nodes = pass.adapters[0].children;
    const auto dhcp = std::find_if(nodes.begin(), nodes.end(),
                                   [](const TreeNode& n) { return n.text == "DHCP"; });
    ASSERT_NE(dhcp, nodes.end());
    ASSERT_EQ(dhcp->children.size(), 3u);
    EXPECT_EQ(dhcp->children[0].text, QStringLiteral("DHCP Server: ") + kServer);
    EXPECT_EQ(dhcp->children[1].text, "Lease Obtained: " + leaseTimeText(lease->obtained));
    EXPECT_EQ(dhcp->children[2].text, "Lease Expires: " + leaseTimeText(lease->expires));
    EXPECT_TRUE(pass.adapters[0].data & nodebit::Dhcp);

    // Without privilege nothing changes, but the lease can be read.
    EXPECT_EQ(runUnprivileged(unprivilegedView), 0);
    EXPECT_EQ(address("dh0"), leased);
    EXPECT_EQ(processes("dhclient").size(), 1u);

    IP_ADAPTER_INDEX_MAP m = entry(index_, "dh0");
    ASSERT_EQ(IpReleaseAddress(&m), NO_ERROR);
    EXPECT_EQ(address("dh0"), "");
    EXPECT_TRUE(processes("dhclient").empty());
    // Still DHCP-managed (the renewal below knows how), without a lease to show.
    lease = sys::dhcp::leaseFor("dh0");
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->server, 0u);

    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_TRUE(inPool(address("dh0")));
    const auto running = processes("dhclient");
    ASSERT_EQ(running.size(), 1u);
    std::string cmdline;
    sys::readFile("/proc/" + std::to_string(running[0]) + "/cmdline", cmdline);
    EXPECT_NE(cmdline.find(leases()), std::string::npos) << "started with its own lease file";
    EXPECT_EQ(sys::dhcp::leaseFor("dh0")->server, ::inet_addr(kServer));

    // Renewing a running client replaces it rather than starting a second one.
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_TRUE(inPool(address("dh0")));
    EXPECT_EQ(processes("dhclient").size(), 1u);

    // An entry whose index now names another interface, or no interface at all.
    IP_ADAPTER_INDEX_MAP stale = entry(index_, "dh9");
    EXPECT_EQ(IpReleaseAddress(&stale), ERROR_DEV_NOT_EXIST);
    IP_ADAPTER_INDEX_MAP gone = entry(index_ + 1000, "");
    EXPECT_EQ(IpRenewAddress(&gone), ERROR_DEV_NOT_EXIST);
    EXPECT_TRUE(inPool(address("dh0")));
}

TEST_F(DhcpExchange, DhcpcdLeaseReleaseRenew) {
    sh("timeout 40 /usr/sbin/dhcpcd -4 -w dh0 >/dev/null 2>&1");
    const std::string leased = address("dh0");
    ASSERT_TRUE(inPool(leased)) << leased;
    auto lease = sys::dhcp::leaseFor("dh0");
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->address, ::inet_addr(leased.c_str()));
    EXPECT_EQ(lease->server, ::inet_addr(kServer));
    EXPECT_EQ(lease->expires - lease->obtained, 120);
    EXPECT_LE(std::abs(lease->obtained - std::time(nullptr)), 10);
    // dhcpcd keeps its lease file to root; others get the lease from the daemon.
    EXPECT_EQ(runUnprivileged(unprivilegedView), 0);

    IP_ADAPTER_INDEX_MAP m = entry(index_, "dh0");
    // Renewing through the running daemon waits for the new lease.
    struct stat before = {};
    ASSERT_EQ(::stat("/var/lib/dhcpcd/dh0.lease", &before), 0);
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    struct stat after = {};
    ASSERT_EQ(::stat("/var/lib/dhcpcd/dh0.lease", &after), 0);
    EXPECT_NE(after.st_mtim.tv_nsec + after.st_mtim.tv_sec * 1000000000LL,
              before.st_mtim.tv_nsec + before.st_mtim.tv_sec * 1000000000LL);
    EXPECT_EQ(address("dh0"), leased);

    ASSERT_EQ(IpReleaseAddress(&m), NO_ERROR);
    EXPECT_TRUE(waitForAddress(false));
    EXPECT_NE(::access("/var/lib/dhcpcd/dh0.lease", F_OK), 0);
    EXPECT_TRUE(sys::dhcp::waitUntil([] { return processes("dhcpcd").empty(); },
                                     Clock::now() + 5 * kSecond));

    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_TRUE(inPool(address("dh0")));
    EXPECT_FALSE(processes("dhcpcd").empty());
    EXPECT_EQ(sys::dhcp::leaseFor("dh0")->server, ::inet_addr(kServer));
}

TEST_F(DhcpExchange, NoClientThenNoServer) {
    IP_ADAPTER_INDEX_MAP m = entry(index_, "dh0");
    EXPECT_EQ(IpReleaseAddress(&m), ERROR_NO_DHCP_CLIENT);
    EXPECT_EQ(IpRenewAddress(&m), ERROR_NO_DHCP_CLIENT);
    EXPECT_FALSE(sys::dhcp::managed("dh0"));
    EXPECT_FALSE(sys::dhcp::leaseFor("dh0"));

    // A renewal the server no longer answers says so, and leaves the interface as it was:
    // its address kept while the lease lasts, its client running and still asking.
    startDhclient();
    const std::string leased = address("dh0");
    ASSERT_TRUE(inPool(leased));
    server_->stop();
    IP_ADAPTER_INDEX_MAP m2 = entry(index_, "dh0");
    const auto t0 = Clock::now();
    EXPECT_EQ(IpRenewAddress(&m2), ERROR_DHCP_NO_ANSWER);
    EXPECT_LT(Clock::now() - t0, 35 * kSecond);
    EXPECT_EQ(address("dh0"), leased);
    EXPECT_EQ(processes("dhclient").size(), 1u);
    EXPECT_TRUE(sys::dhcp::managed("dh0"));
    // The same through the helper's path, which starts no client: refused, nothing changed.
    const auto client = sys::dhcp::Clients::scan().managing("dh0");
    ASSERT_TRUE(client && client->running());
    EXPECT_EQ(sys::dhcp::dhclient::renew(*client, "dh0", Clock::now() + kSecond, false),
              ERROR_DHCP_NOT_FROM_HELPER);
    EXPECT_EQ(sys::direct::changeLease(false, index_, "dh0", false), ERROR_DHCP_NOT_FROM_HELPER);
    EXPECT_EQ(sys::dhcp::Clients::scan().managing("dh0")->pid, client->pid);
    EXPECT_EQ(address("dh0"), leased);
}

// Whether dh0 holds a pool address among others.
bool leasedBeside() {
    const std::string out = shOut("ip -4 -o addr show dev dh0 | awk '{print $4}'");
    size_t pos = 0;
    while (pos < out.size()) {
        const size_t end = out.find('\n', pos);
        const std::string a = out.substr(pos, end - pos);
        if (inPool(a.substr(0, a.find('/'))))
            return true;
        pos = end == std::string::npos ? out.size() : end + 1;
    }
    return false;
}

// The addresses a user added beside the lease are there after a release and a renewal,
// though dhclient's script flushes every address of the interface.
TEST_F(DhcpExchange, UserAddressesSurviveReleaseAndRenew) {
    sh("ip addr add 192.168.77.5/24 dev dh0 && ip addr add 10.99.0.200/24 dev dh0");
    startDhclient();
    ASSERT_TRUE(leasedBeside());
    const auto user = [] {
        return shOut("ip -4 -o addr show dev dh0 permanent | awk '{print $4}' | sort");
    };
    const std::string expected = "10.99.0.200/24\n192.168.77.5/24\n";
    IP_ADAPTER_INDEX_MAP m = entry(index_, "dh0");
    ASSERT_EQ(IpReleaseAddress(&m), NO_ERROR);
    EXPECT_EQ(user(), expected);
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_EQ(user(), expected);
    EXPECT_TRUE(leasedBeside());
    ASSERT_EQ(IpRenewAddress(&m), NO_ERROR);
    EXPECT_EQ(user(), expected);
}

namespace {

// What anyone can start: a setuid program under dhclient's name, here su waiting for a
// password on a pipe that never writes. Its /proc directory is root's, its real uid is
// nobody's. Killed and reaped when the object goes.
class Impostor {
public:
    explicit Impostor(const std::vector<std::string>& options) {
        std::vector<std::string> argv{"/sbin/dhclient", "root"};
        argv.insert(argv.end(), options.begin(), options.end());
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const std::string su = sys::dhcp::systemProgram("su");
        int in[2];
        if (su.empty() || ::pipe(in) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(in[0], 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0)
                ::_exit(120);
            ::execv(su.c_str(), args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        password_ = in[1];
        const std::string dir = "/proc/" + std::to_string(pid_);
        ready_ =
            pid_ > 0 && sys::dhcp::waitUntil(
                            [&] {
                                std::string status;
                                struct stat st = {};
                                return ::stat(dir.c_str(), &st) == 0 && st.st_uid == 0 &&
                                       sys::readFile(dir + "/status", status) &&
                                       status.find("\nUid:\t65534\t0\t0\t0\n") != std::string::npos;
                            },
                            Clock::now() + 5 * kSecond);
    }
    ~Impostor() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (password_ >= 0)
            ::close(password_);
    }
    Impostor(const Impostor&) = delete;
    Impostor& operator=(const Impostor&) = delete;
    bool ready() const { return ready_; }
    bool alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int password_ = -1;
    bool ready_ = false;
};

// Looks up dh0's lease in a child: true when that ends within the time and grows the
// child's memory by less than the limit.
bool leaseLookupStaysBounded() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    const pid_t pid = ::fork();
    if (pid == 0) {
        (void)sys::dhcp::leaseFor("dh0");
        ::_exit(0);
    }
    int status = 0;
    rusage used{};
    const bool ended = sys::dhcp::waitUntil(
        [&] { return ::wait4(pid, &status, WNOHANG, &used) == pid; }, Clock::now() + 4 * kSecond);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::wait4(pid, &status, 0, &used);
    }
    constexpr long kLimitKb = 100L * 1024;
    return ended && WIFEXITED(status) && used.ru_maxrss - self.ru_maxrss < kLimitKb;
}

} // namespace

// The options of a process that merely calls itself a client are never replayed, and the
// files it names are never read: not its script as root, not its pid file to kill another
// process, not a FIFO or a device as its lease database.
TEST_F(DhcpExchange, ImpostorsAreNoClients) {
    if (sys::dhcp::systemProgram("su").empty())
        GTEST_SKIP() << "su is not installed";
    const std::string evil = files_ + ".evil", ran = files_ + ".ran";
    std::ofstream(evil) << "#!/bin/sh\nid -u >> " << ran << "\n";
    ASSERT_EQ(::chmod(evil.c_str(), 0755), 0);
    IP_ADAPTER_INDEX_MAP m = entry(index_, "dh0");
    {
        Impostor scripted({"-sf", evil, "dh0"});
        ASSERT_TRUE(scripted.ready());
        EXPECT_EQ(IpRenewAddress(&m), ERROR_NO_DHCP_CLIENT);
        EXPECT_NE(::access(ran.c_str(), F_OK), 0) << "the impostor's script ran";
        EXPECT_TRUE(scripted.alive());
    }
    {
        const pid_t victim = ::fork();
        if (victim == 0) {
            for (;;)
                ::pause();
        }
        std::ofstream(files_ + ".victim") << victim << "\n";
        Impostor killer({"-pf", files_ + ".victim", "dh0"});
        ASSERT_TRUE(killer.ready());
        EXPECT_EQ(IpReleaseAddress(&m), ERROR_NO_DHCP_CLIENT);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(::waitpid(victim, nullptr, WNOHANG), 0) << "the pid file's process was killed";
        ::kill(victim, SIGKILL);
        ::waitpid(victim, nullptr, 0);
    }
    const std::string fifo = files_ + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string& leases : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(leases);
        Impostor reader({"-lf", leases, "dh0"});
        ASSERT_TRUE(reader.ready());
        EXPECT_FALSE(sys::dhcp::managed("dh0"));
        EXPECT_TRUE(leaseLookupStaysBounded());
    }
}
