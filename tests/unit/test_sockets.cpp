// Endpoint tables without a kernel: state numbers, row order, message decoding, and the
// owner scan over a procfs tree built in a temporary folder.
#include "iphlpapi.h"
#include "netlink/diag.h"
#include "owners.h"
#include "socket_rows.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane::sys;
namespace fs = std::filesystem;

namespace {

DWORD port(uint16_t hostOrder) {
    return htons(hostOrder);
}
DWORD addr(const char* text) {
    return inet_addr(text);
}

} // namespace

TEST(SocketRows, KernelStatesMapToTableStates) {
    const std::pair<uint8_t, DWORD> cases[] = {
        {nl::kTcpEstablished, 5},
        {nl::kTcpSynSent, 3},
        {nl::kTcpSynRecv, 4},
        {nl::kTcpFinWait1, 6},
        {nl::kTcpFinWait2, 7},
        {nl::kTcpTimeWait, 11},
        {nl::kTcpClose, 1},
        {nl::kTcpCloseWait, 8},
        {nl::kTcpLastAck, 10},
        {nl::kTcpListen, 2},
        {nl::kTcpClosing, 9},
        {nl::kTcpNewSynRecv, 4},
        {0, 0},
        {13, 0},
        {255, 0},
    };
    for (const auto& [kernel, table] : cases)
        EXPECT_EQ(tcpTableState(kernel), table) << "kernel state " << int(kernel);
}

TEST(SocketRows, RowsCarryNetworkOrderAndListenersHaveNoPeer) {
    nl::InetSocket s;
    s.state = nl::kTcpEstablished;
    s.localAddr = addr("192.168.1.5");
    s.localPort = htons(8080);
    s.remoteAddr = addr("10.0.0.1");
    s.remotePort = htons(443);
    const MIB_TCPEXROW r = tcpExRow(s, 42);
    EXPECT_EQ(r.dwState, 5u);
    EXPECT_EQ(r.dwLocalAddr, addr("192.168.1.5"));
    EXPECT_EQ(r.dwLocalPort, port(8080)); // network order in the low 16 bits, upper bits 0
    EXPECT_EQ(r.dwRemoteAddr, addr("10.0.0.1"));
    EXPECT_EQ(r.dwRemotePort, port(443));
    EXPECT_EQ(r.dwProcessId, 42u);

    s.state = nl::kTcpListen; // whatever a kernel leaves in a listener's peer fields
    const MIB_TCPROW l = tcpRow(s);
    EXPECT_EQ(l.dwState, 2u);
    EXPECT_EQ(l.dwRemoteAddr, 0u);
    EXPECT_EQ(l.dwRemotePort, 0u);

    const MIB_UDPEXROW u = udpExRow(s, 7);
    EXPECT_EQ(u.dwLocalAddr, addr("192.168.1.5"));
    EXPECT_EQ(u.dwLocalPort, port(8080));
    EXPECT_EQ(u.dwProcessId, 7u);
}

// Keys chosen so that comparing the raw network-order words gives another order: 1.0.0.2
// is 0x02000001 in memory on this machine, 2.0.0.1 is 0x01000002; port 256 is 0x0001.
TEST(SocketRows, SortingIsNumericInHostOrderFieldByField) {
    auto row = [](DWORD state, const char* la, uint16_t lp, const char* ra, uint16_t rp) {
        return MIB_TCPROW{state, addr(la), port(lp), addr(ra), port(rp)};
    };
    std::vector<MIB_TCPROW> rows = {
        row(1, "2.0.0.1", 1, "0.0.0.0", 0),     row(2, "1.0.0.2", 256, "9.9.9.9", 1),
        row(3, "1.0.0.2", 1, "2.0.0.1", 5),     row(4, "1.0.0.2", 1, "1.0.0.2", 256),
        row(5, "1.0.0.2", 1, "1.0.0.2", 1),     row(6, "1.0.0.2", 1, "1.0.0.2", 1),
        row(7, "0.0.0.0", 65535, "0.0.0.0", 0),
    };
    sortRows(rows);
    std::vector<DWORD> order;
    order.reserve(rows.size());
    for (const auto& r : rows)
        order.push_back(r.dwState);
    // 5 and 6 tie on every key and keep the kernel's order.
    EXPECT_EQ(order, (std::vector<DWORD>{7, 5, 6, 4, 3, 2, 1}));

    std::vector<MIB_TCPEXROW> ex = {{1, addr("2.0.0.1"), port(1), 0, 0, 10},
                                    {2, addr("1.0.0.2"), port(2), 0, 0, 20}};
    sortRows(ex);
    EXPECT_EQ(ex[0].dwProcessId, 20u); // the owner travels with its row

    std::vector<MIB_UDPEXROW> udp = {{addr("2.0.0.1"), port(1), 1},
                                     {addr("1.0.0.2"), port(256), 2},
                                     {addr("1.0.0.2"), port(1), 3}};
    sortRows(udp);
    EXPECT_EQ(udp[0].dwProcessId, 3u);
    EXPECT_EQ(udp[1].dwProcessId, 2u);
    EXPECT_EQ(udp[2].dwProcessId, 1u);
}

namespace {

// One SOCK_DIAG_BY_FAMILY message as the kernel builds it, optionally with an attribute
// behind the record.
struct DiagMessage {
    alignas(nlmsghdr) uint8_t buf[512] = {};
    nlmsghdr* nlh;
    inet_diag_msg* msg;
    DiagMessage() {
        nlh = mnl_nlmsg_put_header(buf);
        nlh->nlmsg_type = SOCK_DIAG_BY_FAMILY;
        msg = static_cast<inet_diag_msg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_msg)));
        msg->idiag_family = AF_INET;
        msg->idiag_state = nl::kTcpEstablished;
        msg->id.idiag_sport = htons(22);
        msg->id.idiag_dport = htons(50000);
        msg->id.idiag_src[0] = inet_addr("127.0.0.1");
        msg->id.idiag_dst[0] = inet_addr("127.0.0.2");
        msg->id.idiag_cookie[0] = 0x11;
        msg->id.idiag_cookie[1] = 0x22;
        msg->idiag_uid = 1000;
        msg->idiag_inode = 4242;
    }
};

} // namespace

TEST(DiagDecode, RecordFieldsAndMalformedMessages) {
    DiagMessage m;
    mnl_attr_put_u8(m.nlh, INET_DIAG_SHUTDOWN, 0); // attributes behind the record are fine
    nl::InetSocket s;
    ASSERT_TRUE(nl::decodeInetSocket(m.nlh, s));
    EXPECT_EQ(s.state, nl::kTcpEstablished);
    EXPECT_EQ(s.localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(s.localPort, htons(22));
    EXPECT_EQ(s.remoteAddr, inet_addr("127.0.0.2"));
    EXPECT_EQ(s.remotePort, htons(50000));
    EXPECT_EQ(s.inode, 4242u);
    EXPECT_EQ(s.uid, 1000u);
    EXPECT_EQ(s.cookie, 0x2200000011ull);

    const std::pair<const char*, std::function<void(DiagMessage&)>> broken[] = {
        {"one byte short",
         [](DiagMessage& d) { d.nlh->nlmsg_len = mnl_nlmsg_size(sizeof(inet_diag_msg)) - 1; }},
        {"header only", [](DiagMessage& d) { d.nlh->nlmsg_len = sizeof(nlmsghdr); }},
        {"IPv6 socket", [](DiagMessage& d) { d.msg->idiag_family = AF_INET6; }},
        {"other message type", [](DiagMessage& d) { d.nlh->nlmsg_type = NLMSG_DONE; }},
    };
    for (const auto& [what, breakIt] : broken) {
        DiagMessage d;
        breakIt(d);
        nl::InetSocket out;
        EXPECT_FALSE(nl::decodeInetSocket(d.nlh, out)) << what;
    }
}

TEST(DiagDecode, RepeatedSocketsAreDroppedOnce) {
    auto sock = [](uint64_t cookie, uint32_t inode) {
        nl::InetSocket s;
        s.cookie = cookie;
        s.inode = inode;
        return s;
    };
    const uint64_t none = ~uint64_t{0};
    std::vector<nl::InetSocket> v = {sock(1, 10),    sock(2, 20), sock(1, 11), sock(none, 30),
                                     sock(none, 31), sock(3, 40), sock(2, 21)};
    nl::dropRepeats(v);
    std::vector<uint32_t> inodes;
    inodes.reserve(v.size());
    for (const auto& s : v)
        inodes.push_back(s.inode);
    // The first copy stays; sockets without a cookie cannot be told apart and all stay.
    EXPECT_EQ(inodes, (std::vector<uint32_t>{10, 20, 30, 31, 40}));
}

TEST(SocketOwners, FdLinkTargets) {
    const std::pair<const char*, long long> cases[] = {
        {"socket:[123]", 123}, {"socket:[4294967295]", 4294967295LL},
        {"socket:[0]", 0},     {"socket:[]", -1},
        {"socket:[12a]", -1},  {"socket:[123", -1},
        {"socket:[+1]", -1},   {"socket:[4294967296]", -1},
        {"pipe:[123]", -1},    {"/dev/null", -1},
        {"socket:[ 1]", -1},   {"", -1},
        {"xsocket:[1]", -1},   {"socket:[1]]", -1},
    };
    for (const auto& [target, expected] : cases) {
        uint32_t inode = 0;
        const bool ok = socketInode(target, inode);
        EXPECT_EQ(ok, expected >= 0) << target;
        if (ok && expected >= 0) {
            EXPECT_EQ(inode, static_cast<uint32_t>(expected)) << target;
        }
    }
}

namespace {

class FakeProc : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("corvane-proc-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        // Others must pass through the tree: the unreadable case runs as nobody.
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& dir : locked_)
            fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }
    // <root>/<dir>/fd/<fd> -> target
    void fd(const std::string& dir, int n, const std::string& target) {
        const fs::path d = root_ / dir / "fd";
        fs::create_directories(d);
        fs::permissions(d.parent_path(),
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(d, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        fs::create_symlink(target, d / std::to_string(n));
    }
    void lock(const std::string& dir) {
        const fs::path d = root_ / dir / "fd";
        fs::permissions(d, fs::perms::none);
        locked_.push_back(d);
    }
    std::string root() const { return root_.string(); }

private:
    fs::path root_;
    std::vector<fs::path> locked_;
};

// Runs check as user nobody when we are root (root reads any folder, whatever its mode);
// returns whether it held.
bool withoutPrivilege(const std::function<bool()>& check) {
    if (::geteuid() != 0)
        return check();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST_F(FakeProc, OwnersComeFromOneScanOfTheFdFolders) {
    fd("100", 0, "/dev/null");
    fd("100", 3, "socket:[111]");
    fd("100", 4, "pipe:[222]");   // same number, not a socket
    fd("100", 5, "socket:[999]"); // nobody asked about it
    fd("200", 3, "socket:[222]");
    fd("200", 7, "socket:[111]"); // inherited: the lower pid keeps it
    fd("50", 9, "socket:[333]");
    fd("net", 3, "socket:[444]"); // not a process folder
    fd("0", 3, "socket:[444]");
    fs::create_directories(fs::path(root()) / "300"); // a process without an fd folder yet
    fs::create_directories(fs::path(root()) / "400");
    std::ofstream(fs::path(root()) / "400" / "fd") << "not a folder";

    const SocketOwners owners = socketOwners(root(), {111, 222, 333, 444, 555, 0, 111});
    EXPECT_EQ(owners.size(), 5u); // inode 0 is no socket any file holds
    EXPECT_EQ(owners.at(111), 100u);
    EXPECT_EQ(owners.at(222), 200u);
    EXPECT_EQ(owners.at(333), 50u);
    EXPECT_EQ(owners.at(444), 0u);
    EXPECT_EQ(owners.at(555), 0u);
    EXPECT_FALSE(owners.contains(999));

    const SocketOwners gone = socketOwners(root() + "/missing", {111});
    EXPECT_EQ(gone.at(111), 0u);
    EXPECT_TRUE(socketOwners(root(), {}).empty());
}

TEST_F(FakeProc, UnreadableProcessesAreSkipped) {
    fd("100", 3, "socket:[111]");
    fd("200", 3, "socket:[222]");
    fd("300", 3, "socket:[111]"); // readable, but a higher pid than the locked one
    lock("100");
    const std::string r = root();
    EXPECT_TRUE(withoutPrivilege([&] {
        const SocketOwners owners = socketOwners(r, {111, 222});
        return owners.at(111) == 300 && owners.at(222) == 200;
    }));
}

TEST_F(FakeProc, ManyProcessesGiveTheSameOwnersAsFew) {
    // Enough processes for the pass to be split; the sharers sit in both halves.
    for (int pid = 1000; pid < 1200; ++pid) {
        fd(std::to_string(pid), 3, "socket:[" + std::to_string(pid * 10) + "]");
        fd(std::to_string(pid), 4, "socket:[7]"); // shared by all: the lowest pid owns it
    }
    fd("1199", 5, "socket:[8]");
    fd("1001", 5, "socket:[8]");
    const SocketOwners owners = socketOwners(root(), {7, 8, 10000, 11990, 5});
    EXPECT_EQ(owners.at(7), 1000u);
    EXPECT_EQ(owners.at(8), 1001u);
    EXPECT_EQ(owners.at(10000), 1000u);
    EXPECT_EQ(owners.at(11990), 1199u);
    EXPECT_EQ(owners.at(5), 0u);
    const SocketOwners recent = recentSocketOwners(root(), {7, 8, 11990}, 0);
    EXPECT_EQ(recent.at(7), 1000u);
    EXPECT_EQ(recent.at(8), 1001u);
    EXPECT_EQ(recent.at(11990), 1199u);
}

// A holder of thousands of sockets is read in batches that any thread of the pass may take:
// every one of its sockets is still found, and one it shares goes to the lower pid.
TEST_F(FakeProc, AProcessWithThousandsOfFilesIsReadWhole) {
    for (int n = 0; n < 2100; ++n)
        fd("4000", n, "socket:[" + std::to_string(50000 + n) + "]");
    fd("4000", 2100, "pipe:[50001]");
    fd("3999", 7, "socket:[52099]");      // the last batch's, held lower too
    for (int pid = 100; pid < 180; ++pid) // enough processes for two threads
        fd(std::to_string(pid), 3, "socket:[" + std::to_string(70000 + pid) + "]");
    std::vector<uint32_t> asked;
    for (uint32_t inode = 50000; inode < 52100; ++inode)
        asked.push_back(inode);
    asked.push_back(70150);
    // Apart from the other tests' sockets: a recent pass of this one answers theirs otherwise.
    for (const bool warmed : {false, true}) {
        if (warmed)
            warmSocketOwners(root());
        const SocketOwners owners =
            warmed ? recentSocketOwners(root(), asked, 60000) : socketOwners(root(), asked);
        ASSERT_EQ(owners.size(), asked.size()) << warmed;
        for (uint32_t inode = 50000; inode < 52099; ++inode)
            ASSERT_EQ(owners.at(inode), 4000u) << inode << " " << warmed;
        EXPECT_EQ(owners.at(52099), 3999u) << warmed;
        EXPECT_EQ(owners.at(70150), 150u) << warmed;
    }
}

TEST_F(FakeProc, ARecentPassAnswersOnlyForSocketsItSaw) {
    fd("100", 3, "socket:[111]");
    fd("200", 3, "socket:[222]");
    const std::string r = root();
    EXPECT_EQ(recentSocketOwners(r, {111}).at(111), 100u);
    // The same pass already saw 222, held by another process than the one asked about first.
    fd("150", 4, "socket:[222]");
    EXPECT_EQ(recentSocketOwners(r, {222}, 60000).at(222), 200u);
    // An inode the pass never saw makes a new one, which sees the change.
    fd("300", 3, "socket:[333]");
    const SocketOwners again = recentSocketOwners(r, {222, 333}, 60000);
    EXPECT_EQ(again.at(222), 150u);
    EXPECT_EQ(again.at(333), 300u);
    // A pass older than the limit is never used, and another root is another world.
    fd("120", 5, "socket:[111]");
    EXPECT_EQ(recentSocketOwners(r, {111}, 0).at(111), 100u);
    fd("90", 5, "socket:[111]");
    EXPECT_EQ(recentSocketOwners(r, {111}, 0).at(111), 90u);
    EXPECT_EQ(recentSocketOwners(r + "/missing", {111}, 60000).at(111), 0u);
}

// A pass warmed ahead of the listing answers it: the listing waits for it rather than
// making its own, and a socket made after the pass began still makes a new one.
TEST_F(FakeProc, AWarmedPassAnswersTheListingThatFollows) {
    for (int pid = 1000; pid < 1100; ++pid)
        fd(std::to_string(pid), 3, "socket:[" + std::to_string(pid * 10) + "]");
    const std::string r = root();
    warmSocketOwners(r);
    warmSocketOwners(r); // one at a time: the second call adds nothing
    // Made after the pass began or not: either way the pass that answers saw 10990 at 1099.
    fd("1099", 4, "socket:[20000]");
    const SocketOwners owners = recentSocketOwners(r, {10000, 10990}, 60000);
    EXPECT_EQ(owners.at(10000), 1000u);
    EXPECT_EQ(owners.at(10990), 1099u);
    // Taken away after the warmed pass: a listing of sockets it saw answers from it.
    fs::remove(fs::path(r) / "1000" / "fd" / "3");
    EXPECT_EQ(recentSocketOwners(r, {10000}, 60000).at(10000), 1000u);
    EXPECT_EQ(recentSocketOwners(r, {20000}, 60000).at(20000), 1099u);
    warmSocketOwners(r);
    EXPECT_EQ(recentSocketOwners(r, {10000}, 60000).at(10000), 0u) << "the new pass is used";
}

// The listing joins the warmed pass instead of waiting for the thread to get to it: while
// that thread is still busy with its read before the pass, the listing makes the whole pass
// and answers from it; the thread, done at last, finds nothing left to do.
TEST_F(FakeProc, AListingJoinsAWarmedPassTheThreadHasNotReached) {
    for (int pid = 2000; pid < 2100; ++pid)
        fd(std::to_string(pid), 3, "socket:[" + std::to_string(pid * 10) + "]");
    fd("2050", 4, "socket:[99999]");
    const std::string r = root();
    std::mutex m;
    std::condition_variable cv;
    bool release = false, released = false;
    warmSocketOwners(r, [&] {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
        released = true;
        cv.notify_all();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const SocketOwners owners = recentSocketOwners(r, {99999, 20990}, 60000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(owners.at(99999), 2050u);
    EXPECT_EQ(owners.at(20990), 2099u);
    std::unique_lock lock(m);
    EXPECT_FALSE(released) << "answered before the thread's first read was done";
    release = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
    lock.unlock();
    // The thread's late arrival changed nothing, and a new pass can be warmed.
    EXPECT_EQ(recentSocketOwners(r, {99999}, 60000).at(99999), 2050u);
    warmSocketOwners(r);
    EXPECT_EQ(recentSocketOwners(r, {99999}, 60000).at(99999), 2050u);
}

TEST(SocketEntryPoints, RejectBadArgumentsWithoutTouchingAnything) {
    EXPECT_EQ(GetTcpTable(nullptr, nullptr, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetUdpTable(nullptr, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(AllocateAndGetTcpExTableFromStack(nullptr, 1, nullptr, 2, AF_INET),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(AllocateAndGetUdpExTableFromStack(nullptr, 1, nullptr, 2, AF_INET),
              ERROR_INVALID_PARAMETER);
    for (const DWORD family : {0u, 1u, 10u /* AF_INET6 */, 23u, 0xffffffffu}) {
        void* table = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(AllocateAndGetTcpExTableFromStack(&table, 1, nullptr, 2, family),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(table, nullptr); // never a stale pointer the caller might free
        table = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(AllocateAndGetUdpExTableFromStack(&table, 0, nullptr, 0, family),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(table, nullptr);
    }
}
