// DHCP client detection, lease reading and command running, without a network: lease
// files written here, a fake process tree, and short-lived shell processes.
#include "dhcp/clients.h"
#include "dhcp/dhclient.h"
#include "dhcp/dhcpcd.h"
#include "dhcp/networkd.h"
#include "dhcp/networkmanager.h"
#include "dhcp/process.h"
#include "iphlpapi.h"

#include <arpa/inet.h>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane::sys::dhcp;
namespace fs = std::filesystem;

namespace {

uint32_t ip(const char* text) {
    return ::inet_addr(text);
}

std::string args(std::initializer_list<const char*> list) {
    std::string raw;
    for (const char* a : list)
        raw.append(a).push_back('\0');
    return raw;
}

void write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

const char* const kLeases = R"(default-duid "\000\001\000\001,\252\210\005";
lease {
  interface "eth0";
  fixed-address 10.0.0.5;
  option subnet-mask 255.255.255.0;
  option dhcp-server-identifier 10.0.0.1;
  option dhcp-lease-time 3600;
  renew 2 2026/12/08 09:30:00;
  rebind 2 2026/12/08 09:52:30;
  expire 2 2026/12/08 10:00:00;
}
lease {
  interface "eth1";
  fixed-address 192.168.7.20;
  option dhcp-lease-time 600;
  option dhcp-server-identifier 192.168.7.1;
  expire epoch 1765188000; # Mon Dec  8 10:00:00 2025
}
lease6 {
  interface "eth0";
  ia-na 1a:2b:3c:4d { starts 1765180000; iaaddr 2001:db8::5 { starts 1765180000; } }
}
lease {
  interface "eth0";
  fixed-address 10.0.0.9;
  option domain-name "odd;name{with}\"quotes\"";
  option dhcp-server-identifier 10.0.0.2;
  option dhcp-lease-time 7200;
  expire 2 2026/12/08 12:00:00;
}
lease {
  interface "eth2";
  option dhcp-server-identifier 10.2.0.1;
  expire 2 2026/12/08 12:00:00;
}
lease {
  interface "eth3";
  fixed-address 10.3.0.4;
  option dhcp-lease-time 4294967295;
  expire never;
}
)";

const char* const kReleased = R"(
lease {
  interface "eth0";
  fixed-address 10.0.0.9;
  option dhcp-lease-time 7200;
  renew 2 2026/12/08 10:15:00;
  rebind 2 2026/12/08 10:15:00;
  expire 2 2026/12/08 10:15:00;
}
)";

} // namespace

TEST(DhclientLeases, LastCompleteRecordOfTheInterfaceWins) {
    struct Case {
        std::string text, ifName;
        bool found;
        uint32_t address, server;
        int64_t obtained, expires;
    } cases[] = {
        // the later eth0 record, past a lease6 block and a string full of punctuation
        {kLeases, "eth0", true, ip("10.0.0.9"), ip("10.0.0.2"), 1796731200 - 7200, 1796731200},
        {kLeases, "eth1", true, ip("192.168.7.20"), ip("192.168.7.1"), 1765187400, 1765188000},
        {kLeases, "eth3", true, ip("10.3.0.4"), 0, 0, Lease::kNever},
        // a record without an address is no lease; an interface without records has none
        {kLeases, "eth2", false, 0, 0, 0, 0},
        {kLeases, "eth9", false, 0, 0, 0, 0},
        // the record written on release ends the lease
        {std::string(kLeases) + kReleased, "eth0", false, 0, 0, 0, 0},
        // a record still being written is ignored, not half read
        {std::string(kLeases) + "lease {\n  interface \"eth0\";\n  fixed-address 10.0.0.77;",
         "eth0", true, ip("10.0.0.9"), ip("10.0.0.2"), 1796731200 - 7200, 1796731200},
        {"", "eth0", false, 0, 0, 0, 0},
        // an impossible date is unknown; binary junk after the record changes nothing
        {"lease { interface \"eth0\"; fixed-address 10.0.0.1; expire 2 2026/13/40 99:00:00; }" +
             std::string("\0\xff{{}}};;\"", 10),
         "eth0", true, ip("10.0.0.1"), 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ifName + " in:\n" +
                     c.text.substr(c.text.size() > 200 ? c.text.size() - 200 : 0));
        const auto lease = dhclient::parseLeases(c.text, c.ifName);
        ASSERT_EQ(lease.has_value(), c.found);
        if (!lease)
            continue;
        EXPECT_EQ(lease->address, c.address);
        EXPECT_EQ(lease->server, c.server);
        EXPECT_EQ(lease->obtained, c.obtained);
        EXPECT_EQ(lease->expires, c.expires);
    }
}

namespace {

// A server's reply as dhcpcd stores it: the fixed part, the cookie, then the options.
std::string dhcpMessage(const char* yiaddr, const std::string& options,
                        const std::string& fileField = {}) {
    std::string m(240, '\0');
    m[0] = 2;
    const uint32_t y = ip(yiaddr);
    std::memcpy(m.data() + 16, &y, 4);
    std::memcpy(m.data() + 108, fileField.data(), std::min<size_t>(fileField.size(), 128));
    const char cookie[] = {99, static_cast<char>(130), 83, 99};
    std::memcpy(m.data() + 236, cookie, 4);
    return m + options;
}

const std::string kServerOpt("\x36\x04\x0a\x01\x00\x01", 6); // 54: 10.1.0.1
const std::string kLease120("\x33\x04\x00\x00\x00\x78", 6);  // 51: 120 s
const std::string kLeaseInf("\x33\x04\xff\xff\xff\xff", 6);  // 51: infinite

} // namespace

TEST(DhcpcdLeases, MessageFieldsAndOptions) {
    const int64_t t = 1796724000;
    struct Case {
        const char* what;
        std::string message;
        bool found;
        uint32_t address, server;
        int64_t expires;
    } cases[] = {
        {"plain", dhcpMessage("10.1.0.50", "\x35\x01\x05" + kServerOpt + kLease120 + "\xff"), true,
         ip("10.1.0.50"), ip("10.1.0.1"), t + 120},
        {"padded, no end", dhcpMessage("10.1.0.50", std::string(3, '\0') + kLeaseInf + kServerOpt),
         true, ip("10.1.0.50"), ip("10.1.0.1"), Lease::kNever},
        {"overloaded into the file field",
         dhcpMessage("10.1.0.51", std::string("\x34\x01\x01\xff", 4),
                     kServerOpt + kLease120 + "\xff"),
         true, ip("10.1.0.51"), ip("10.1.0.1"), t + 120},
        {"length past the end", dhcpMessage("10.1.0.52", kLease120 + "\x36\x09\x0a\x01"), true,
         ip("10.1.0.52"), 0, t + 120},
        {"no cookie", dhcpMessage("10.1.0.53", kServerOpt).replace(236, 1, "x"), false, 0, 0, 0},
        {"a request, not a reply", dhcpMessage("10.1.0.54", kServerOpt).replace(0, 1, "\x01"),
         false, 0, 0, 0},
        {"short", dhcpMessage("10.1.0.55", "").substr(0, 200), false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto lease = dhcpcd::parseLeaseMessage(c.message, t);
        ASSERT_EQ(lease.has_value(), c.found);
        if (!lease)
            continue;
        EXPECT_EQ(lease->address, c.address);
        EXPECT_EQ(lease->server, c.server);
        EXPECT_EQ(lease->obtained, t);
        EXPECT_EQ(lease->expires, c.expires);
    }

    const auto dumped = dhcpcd::parseDump(
        "reason=BOUND\ninterface=eth0\nip_address=10.1.0.50\ndhcp_lease_time='600'\n"
        "dhcp_server_identifier=10.1.0.1\n",
        t);
    ASSERT_TRUE(dumped);
    EXPECT_EQ(dumped->address, ip("10.1.0.50"));
    EXPECT_EQ(dumped->server, ip("10.1.0.1"));
    EXPECT_EQ(dumped->expires, t + 600);
    EXPECT_FALSE(dhcpcd::parseDump("dhcpcd is not running\n", t));
}

namespace {

// "dhclient [eth0] -4 -pf /p lf=/l", "dhcpcd manager [] -4": what a test table can hold.
std::string describe(const Invocation& inv) {
    std::string d = inv.kind == ClientKind::Dhclient ? "dhclient" : "dhcpcd";
    d += inv.manager ? " manager [" : " [";
    for (size_t i = 0; i < inv.interfaces.size(); ++i)
        d += (i ? " " : "") + inv.interfaces[i];
    d += "]";
    for (const auto& o : inv.options)
        d += " " + o;
    return inv.kind == ClientKind::Dhclient ? d + " lf=" + inv.leaseFile : d;
}

} // namespace

TEST(DhcpCommandLines, WhichProcessesAreClientsAndWhatTheyWereGiven) {
    const std::string deflt = std::string(" lf=") + dhclient::kDefaultLeaseFile;
    const struct {
        std::string raw, expected; // expected empty: not a client to drive
    } cases[] = {
        {args({"/sbin/dhclient", "-4", "-v", "-pf", "/run/d.pid", "-lf", "/var/lib/dhcp/d.leases",
               "-I", "-df", "/x.duid", "eth0"}),
         "dhclient [eth0] -4 -pf /run/d.pid -lf /var/lib/dhcp/d.leases -I -df /x.duid "
         "lf=/var/lib/dhcp/d.leases"},
        // a script named on a command line is never run again
        {args({"dhclient", "-nw", "-sf", "/s", "eth0", "eth1"}), "dhclient [eth0 eth1]" + deflt},
        {args({"dhclient"}), "dhclient []" + deflt},
        // a release in flight, an IPv6 client, a value missing at the end
        {args({"dhclient", "-r", "-pf", "/p", "eth0"}), ""},
        {args({"/usr/sbin/dhclient", "-6", "eth0"}), ""},
        {args({"dhclient", "eth0", "-lf"}), ""},
        // privilege-separated dhcpcd titles: daemon, manager, helpers, IPv6 only
        {"dhcpcd: eth0 [ip4]" + std::string(6, '\0'), "dhcpcd [eth0] -4"},
        {args({"dhcpcd: [manager] [ip4] [ip6]"}), "dhcpcd manager []"},
        {args({"dhcpcd: [privileged proxy] eth0 [ip4]"}), ""},
        {args({"dhcpcd: [BPF ARP] eth0 10.1.0.50"}), ""},
        {args({"dhcpcd: eth0 [ip6]"}), ""},
        // dhcpcd's own argument syntax; how it was run (-b, -q, -B, -w) is not replayed
        {args({"/usr/sbin/dhcpcd", "-4bq", "-fconf", "--script", "/s", "--metric=5", "eth0"}),
         "dhcpcd [eth0] -4 -f conf --metric=5"},
        {args({"dhcpcd", "-4c/s", "--script=/t", "-c", "/u", "eth0"}), "dhcpcd [eth0] -4"},
        {args({"dhcpcd", "eth0", "--script"}), ""},
        {args({"dhcpcd", "-B", "-M", "eth0"}), "dhcpcd manager [eth0]"},
        {args({"dhcpcd", "-w", "eth0", "eth1"}), "dhcpcd manager [eth0 eth1]"},
        {args({"dhcpcd", "-4", "-k", "eth0"}), ""},
        {args({"dhcpcd", "-6", "eth0"}), ""},
        {args({"/usr/bin/bash", "-c", "dhclient eth0"}), ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        const auto inv = parseCommandLine(c.raw);
        EXPECT_EQ(inv ? describe(*inv) : "", c.expected) << c.raw;
    }
}

namespace {

// A process directory as the scan reads it: what it runs (exe, a link to a real program;
// none when empty), its real, effective, saved and filesystem uids, state and start time.
void fakeProcess(const fs::path& proc, int pid, const std::string& cmdline, const std::string& exe,
                 const std::string& uids = "0\t0\t0\t0", char state = 'S') {
    const fs::path dir = proc / std::to_string(pid);
    write(dir / "cmdline", cmdline);
    write(dir / "stat", std::to_string(pid) + " (a (b) c) " + state +
                            " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 0 0\n");
    write(dir / "status", "Name:\tx\nUmask:\t0022\nUid:\t" + uids + "\nGid:\t0\t0\t0\t0\n");
    if (!exe.empty())
        fs::create_symlink(exe, dir / "exe");
}

class FakeProc : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("corvane-dhcp-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        ::setenv("CORVANE_PROC_ROOT", (root_ / "proc").c_str(), 1);
        forgetRememberedClients();
    }
    void TearDown() override {
        ::unsetenv("CORVANE_PROC_ROOT");
        fs::remove_all(root_);
        forgetRememberedClients();
    }
    fs::path root_;
};

} // namespace

TEST_F(FakeProc, DetectionNamedThenLeaseHolderThenRemembered) {
    const std::string dhclient = systemProgram("dhclient"), dhcpcd = systemProgram("dhcpcd");
    if (dhclient.empty() || dhcpcd.empty())
        GTEST_SKIP() << "dhclient and dhcpcd are not installed";
    const fs::path proc = root_ / "proc", lib = root_ / "dhcpcd";
    write(root_ / "all.leases", kLeases);
    write(root_ / "eth5.leases", R"(lease { interface "eth5"; fixed-address 10.5.0.5;
      option dhcp-server-identifier 10.5.0.1; option dhcp-lease-time 60; expire epoch 1000060; })");
    write(lib / "eth7.lease", dhcpMessage("10.7.0.7", kServerOpt + kLease120 + "\xff"));
    fakeProcess(
        proc, 100,
        args({"/sbin/dhclient", "-pf", "/p5", "-lf", (root_ / "eth5.leases").c_str(), "eth5"}),
        dhclient);
    // names no interface: manages those it holds leases for (eth0, eth1, eth3)
    fakeProcess(proc, 200, args({"/sbin/dhclient", "-lf", (root_ / "all.leases").c_str()}),
                dhclient);
    fakeProcess(proc, 300, args({"dhcpcd: [manager] [ip4]"}), dhcpcd);
    fakeProcess(proc, 301, args({"dhcpcd: [privileged proxy]"}), dhcpcd);
    fakeProcess(proc, 400, args({"dhcpcd: eth1 [ip4]"}), dhcpcd);
    fakeProcess(proc, 500, args({"/sbin/dhclient", "eth8"}), dhclient, "0\t0\t0\t0", 'Z');
    fakeProcess(proc, 600, args({"/usr/bin/vim", "eth8"}), "/bin/sh");

    // Not clients, though each is called one and its /proc directory is root's: a setuid
    // program started by nobody, the client binary with one uid not root's, a root process
    // running another program or none at all, dhcpcd's user outside its own titled daemon.
    const std::string su = systemProgram("su");
    fakeProcess(proc, 700, args({"/sbin/dhclient", "-sf", "/tmp/evil", "eth6"}),
                su.empty() ? "/bin/sh" : su, "65534\t0\t0\t0");
    fakeProcess(proc, 701, args({"/sbin/dhclient", "eth6"}), dhclient, "65534\t0\t0\t0");
    fakeProcess(proc, 702, args({"/sbin/dhclient", "eth6"}), dhclient, "0\t0\t0\t65534");
    fakeProcess(proc, 703, args({"/sbin/dhclient", "eth6"}), "/bin/sh");
    fakeProcess(proc, 704, args({"/sbin/dhclient", "eth6"}), "");
    fakeProcess(proc, 705, args({"dhcpcd: eth6 [ip4]"}), dhclient);
    fakeProcess(proc, 706, args({"/sbin/dhclient", "eth6"}), dhclient, "0\t0\t0");
    size_t clientCount = 4;
    if (const passwd* pw = ::getpwnam("dhcpcd")) {
        const std::string u = std::to_string(pw->pw_uid), own = u + "\t" + u + "\t" + u + "\t" + u;
        fakeProcess(proc, 410, args({"dhcpcd: eth4 [ip4]"}), dhcpcd, own);
        fakeProcess(proc, 707, args({"dhcpcd", "eth6"}), dhcpcd, own);
        fakeProcess(proc, 708, args({"dhcpcd: eth6 [ip4]"}), "/bin/sh", own);
        ++clientCount;
    }

    const Clients clients(Clients::scan().running(), lib.string());
    ASSERT_EQ(clients.running().size(), clientCount);
    for (const Invocation& c : clients.running())
        EXPECT_TRUE(c.verified) << c.pid;
    struct Case {
        const char* ifName;
        int pid;
        uint32_t server;
    } cases[] = {
        {"eth5", 100, ip("10.5.0.1")},
        {"eth0", 200, ip("10.0.0.2")},
        {"eth1", 400, 0},              // named by its own daemon, ahead of the lease holder
        {"eth7", 300, ip("10.1.0.1")}, // the manager holds a lease file for it
        {"eth8", 0, 0},                // a dead client and a text editor manage nothing
        {"eth6", 0, 0},
        {"eth9", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ifName);
        const auto client = clients.managing(c.ifName);
        ASSERT_EQ(client.has_value(), c.pid != 0);
        if (!client)
            continue;
        EXPECT_EQ(client->pid, c.pid);
        EXPECT_EQ(client->startTime, 4242u);
        EXPECT_EQ(clients.leaseFor(c.ifName)->server, c.server);
    }

    // Released: the client is gone, but this process knows how to start it again, and the
    // adapter still counts as DHCP-managed, without a lease to show.
    fs::remove_all(proc / "100");
    const Clients after(Clients::scan().running(), lib.string());
    const auto remembered = after.managing("eth5");
    ASSERT_TRUE(remembered);
    EXPECT_FALSE(remembered->running());
    EXPECT_EQ(remembered->options,
              (std::vector<std::string>{"-pf", "/p5", "-lf", (root_ / "eth5.leases").string()}));
    const auto lease = after.leaseFor("eth5");
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->server, 0u);
    EXPECT_EQ(lease->expires, 0);
    forgetRememberedClients();
    EXPECT_FALSE(after.managing("eth5"));
}

TEST(DhcpProcesses, BoundedRunsLeaveNothingBehindAndInheritNothing) {
    const std::string sh = systemProgram("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(systemProgram("../sh"), "");
    const auto soon = [] { return Clock::now() + std::chrono::seconds(5); };

    RunResult r = run({sh, "-c", "exit 3"}, soon());
    EXPECT_EQ(r.kind, RunResult::Kind::Exited);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(run({"sh", "-c", "true"}, soon()).kind, RunResult::Kind::NotStarted);

    // Neither the caller's descriptors nor its environment reach the client.
    ASSERT_EQ(::dup2(2, 100), 100);
    ::setenv("CORVANE_LEAK", "yes", 1);
    std::string out;
    r = run({sh, "-c", "ls /proc/self/fd; echo \"leak=$CORVANE_LEAK\""}, soon(), &out);
    ::close(100);
    ::unsetenv("CORVANE_LEAK");
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(out.find("100\n"), std::string::npos) << out;
    EXPECT_NE(out.find("leak=\n"), std::string::npos) << out;

    // A signal the caller ignores is not ignored by the client.
    const auto old = std::signal(SIGTERM, SIG_IGN);
    r = run({sh, "-c", "kill -TERM $$; sleep 5"}, soon());
    std::signal(SIGTERM, old);
    EXPECT_EQ(r.kind, RunResult::Kind::Signalled);
    EXPECT_EQ(r.code, SIGTERM);

    // A child that daemonizes and keeps stdout open does not hold up the caller. Its sleep
    // is long, so that only a hang, not a slow build, fails on time; it is ended by its pid.
    auto start = Clock::now();
    r = run({sh, "-c", "(sleep 30 & echo $!); echo done"}, soon(), &out);
    EXPECT_TRUE(r.succeeded());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    const std::size_t newline = out.find('\n');
    EXPECT_EQ(out.substr(newline == std::string::npos ? 0 : newline + 1), "done\n");
    if (const int daemon = std::atoi(out.c_str()); daemon > 0)
        ::kill(daemon, SIGKILL);

    // Out of time: the whole group goes, grandchildren too.
    start = Clock::now();
    r = run({sh, "-c", "sleep 30 & echo $!; sleep 30"},
            Clock::now() + std::chrono::milliseconds(300), &out);
    EXPECT_EQ(r.kind, RunResult::Kind::TimedOut);
    EXPECT_EQ(resultOf(r), ERROR_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)); // not the sleeps' 30 s
    const int grandchild = std::atoi(out.c_str());
    ASSERT_GT(grandchild, 0) << out;
    EXPECT_TRUE(waitUntil([&] { return processStartTime(grandchild) == 0; }, soon()));
}

TEST(DhcpProcesses, StoppingAForeignClientChecksItsIdentity) {
    for (const bool ignoresTerm : {false, true}) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (ignoresTerm)
                std::signal(SIGTERM, SIG_IGN);
            ::close(ready[1]);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 0); // the child has set itself up
        ::close(ready[0]);
        const uint64_t start = processStartTime(pid);
        // Another process under the same pid is left alone.
        EXPECT_TRUE(stopProcess(pid, start + 1, Clock::now() + std::chrono::seconds(1)));
        EXPECT_EQ(::kill(pid, 0), 0);
        const auto t0 = Clock::now();
        EXPECT_TRUE(stopProcess(pid, start, Clock::now() + std::chrono::milliseconds(300)));
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_EQ(WTERMSIG(status), ignoresTerm ? SIGKILL : SIGTERM);
    }
}

TEST(DhcpEntryPoints, MalformedMapEntriesAreRefusedFirst) {
    IP_ADAPTER_INDEX_MAP unterminated{};
    unterminated.Index = 1;
    std::fill(std::begin(unterminated.Name), std::end(unterminated.Name), WCHAR('a'));
    IP_ADAPTER_INDEX_MAP loneSurrogate{};
    loneSurrogate.Index = 1;
    loneSurrogate.Name[0] = 0xD800;
    IP_ADAPTER_INDEX_MAP noIndex{};
    IP_ADAPTER_INDEX_MAP hugeIndex{};
    hugeIndex.Index = 0x80000000U;
    for (IP_ADAPTER_INDEX_MAP* m : {static_cast<IP_ADAPTER_INDEX_MAP*>(nullptr), &unterminated,
                                    &loneSurrogate, &noIndex, &hugeIndex}) {
        EXPECT_EQ(IpReleaseAddress(m), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(IpRenewAddress(m), ERROR_INVALID_PARAMETER);
    }
}

TEST(ManagerLeases, NetworkdLeaseFileAndNetworkManagerOptions) {
    using corvane::sys::dhcp::Lease;
    namespace networkd = corvane::sys::dhcp::networkd;
    namespace nm = corvane::sys::dhcp::networkmanager;
    const auto lease = networkd::parseLeaseFile("# This is private data. Do not parse.\n"
                                                "ADDRESS=10.99.0.55\nNETMASK=255.255.255.0\n"
                                                "SERVER_ADDRESS=10.99.0.1\nLIFETIME=120\n",
                                                1000);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->address, ::inet_addr("10.99.0.55"));
    EXPECT_EQ(lease->server, ::inet_addr("10.99.0.1"));
    EXPECT_EQ(lease->obtained, 1000);
    EXPECT_EQ(lease->expires, 1120);
    EXPECT_EQ(networkd::parseLeaseFile("ADDRESS=10.0.0.1\nLIFETIME=4294967295\n", 5)->expires,
              Lease::kNever);
    // No address, or values that are no numbers: no lease, no expiry.
    EXPECT_FALSE(networkd::parseLeaseFile("SERVER_ADDRESS=10.99.0.1\n", 5));
    EXPECT_FALSE(networkd::parseLeaseFile(std::string("ADDRESS=10.0.0.\0"
                                                      "1\n",
                                                      18),
                                          5));
    EXPECT_EQ(networkd::parseLeaseFile("ADDRESS=10.0.0.1\nLIFETIME=12x\n", 5)->expires, 0);
    EXPECT_EQ(networkd::parseLeaseFile("ADDRESS=10.0.0.1\nLIFETIME=99999999999\n", 5)->expires, 0);

    const Lease nmLease = nm::leaseFromOptions({{"ip_address", "10.99.0.58"},
                                                {"dhcp_server_identifier", "10.99.0.1"},
                                                {"dhcp_lease_time", "120"},
                                                {"expiry", "1796842178"}});
    EXPECT_EQ(nmLease.address, ::inet_addr("10.99.0.58"));
    EXPECT_EQ(nmLease.server, ::inet_addr("10.99.0.1"));
    EXPECT_EQ(nmLease.expires, 1796842178);
    EXPECT_EQ(nmLease.obtained, 1796842178 - 120);
    EXPECT_EQ(nm::leaseFromOptions({{"dhcp_lease_time", "4294967295"}}).expires, Lease::kNever);
    const Lease odd = nm::leaseFromOptions(
        {{"ip_address", "nonsense"}, {"dhcp_lease_time", "500"}, {"expiry", "-4"}});
    EXPECT_EQ(odd.address, 0u);
    EXPECT_EQ(odd.expires, 0);
    EXPECT_EQ(odd.obtained, 0);
    // A lease time longer than what is left before the epoch's expiry gives no start.
    EXPECT_EQ(nm::leaseFromOptions({{"dhcp_lease_time", "500"}, {"expiry", "100"}}).obtained, 0);
}

// The setting changed to make NetworkManager ask again always changes, and stays valid.
TEST(ManagerLeases, DhcpTimeoutToggles) {
    namespace nm = corvane::sys::dhcp::networkmanager;
    for (const int32_t v : {0, 45, 1, 300, INT32_MAX}) {
        EXPECT_NE(nm::toggledDhcpTimeout(v), v);
        EXPECT_GE(nm::toggledDhcpTimeout(v), 0);
    }
    EXPECT_EQ(nm::toggledDhcpTimeout(0), INT32_MAX) << "never gives up";
}

// networkd's own word that DHCPv4 runs on a link it has no lease for yet: its state file
// names the .network file, whose drop-ins have the last word.
TEST(ManagerLeases, NetworkdDhcpFromItsConfiguration) {
    namespace networkd = corvane::sys::dhcp::networkd;
    EXPECT_TRUE(networkd::asksForDhcp4({"[Match]\nName=e*\n[Network]\nDHCP=ipv4\n"}));
    EXPECT_TRUE(networkd::asksForDhcp4({"[Network]\n  DHCP = Yes \r\n"}));
    EXPECT_FALSE(networkd::asksForDhcp4({"[Network]\nDHCP=ipv6\n"}));
    EXPECT_FALSE(networkd::asksForDhcp4({"[DHCPv4]\nDHCP=yes\n", "#[Network]\n#DHCP=yes\n"}));
    EXPECT_FALSE(networkd::asksForDhcp4({"[Network]\nDHCP=yes\n", "[Network]\nDHCP=\n"}));
    EXPECT_TRUE(networkd::asksForDhcp4({"[Network]\nDHCP=no\n", "[Network]\nDHCP=both\n"}));

    namespace fs = std::filesystem;
    const fs::path root =
        fs::temp_directory_path() / ("corvane-networkd-" + std::to_string(::getpid()));
    fs::remove_all(root);
    networkd::Places places{(root / "leases").string(),
                            (root / "links").string(),
                            {(root / "etc").string(), (root / "run").string()}};
    for (const char* d : {"leases", "links", "etc/50-a.network.d", "run/50-a.network.d"})
        fs::create_directories(root / d);
    const auto write = [&](const fs::path& p, const std::string& text) {
        std::ofstream(p) << text;
        fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    };
    const std::string network = (root / "run" / "50-a.network").string();
    write(network, "[Network]\nDHCP=yes\n");
    write(root / "links" / "7", "ADMIN_STATE=configuring\nNETWORK_FILE=" + network + "\n");
    EXPECT_TRUE(networkd::runsDhcp4(7, places));
    EXPECT_FALSE(networkd::runsDhcp4(8, places)) << "no state file";
    // A drop-in turns it off; the same name in an earlier folder hides it.
    write(root / "run" / "50-a.network.d" / "x.conf", "[Network]\nDHCP=no\n");
    EXPECT_FALSE(networkd::runsDhcp4(7, places));
    write(root / "etc" / "50-a.network.d" / "x.conf", "# ours\n");
    EXPECT_TRUE(networkd::runsDhcp4(7, places));
    // Not a link networkd manages, or one it gave up on.
    for (const char* admin : {"unmanaged", "failed", "linger", ""}) {
        write(root / "links" / "7",
              std::string("ADMIN_STATE=") + admin + "\nNETWORK_FILE=" + network + "\n");
        EXPECT_FALSE(networkd::runsDhcp4(7, places)) << admin;
    }
    // A file name that is not a .network file's, and a state file others may write.
    write(root / "links" / "7", "ADMIN_STATE=configured\nNETWORK_FILE=" + network + "x\n");
    EXPECT_FALSE(networkd::runsDhcp4(7, places));
    write(root / "links" / "7", "ADMIN_STATE=configured\nNETWORK_FILE=" + network + "\n");
    EXPECT_TRUE(networkd::runsDhcp4(7, places));
    fs::permissions(root / "links" / "7", fs::perms::others_write, fs::perm_options::add);
    EXPECT_FALSE(networkd::runsDhcp4(7, places));
    // A lease held is enough, whatever the state says.
    write(root / "leases" / "7", "ADDRESS=10.0.0.5\n");
    EXPECT_TRUE(networkd::runsDhcp4(7, places));
    fs::remove_all(root);
}
