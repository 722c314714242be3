// The bench helpers as run.sh uses them: their output is parsed and their exit status
// trusted, so a holder that reports ready too early or a timer that swallows a failure would
// skew every figure.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result {
    int status = -1;
    std::string out;
};

Result run(const std::string& command) {
    Result r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p))
        r.out += buf;
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The inodes of the process's sockets.
std::set<std::string> socketInodes(pid_t pid) {
    std::set<std::string> inodes;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        if (target.rfind("socket:[", 0) == 0)
            inodes.insert(target.substr(8, target.size() - 9));
    }
    return inodes;
}

int socketDescriptors(pid_t pid) {
    return static_cast<int>(socketInodes(pid).size());
}

} // namespace

TEST(BenchTools, HolderIsReadyWithEverySocketWhenItReturns) {
    const Result r = run(std::string(SOCKHOLDER) + " --tcp 3 --udp 2");
    ASSERT_EQ(r.status, 0);
    const pid_t pid = std::stoi(r.out);
    ASSERT_GT(pid, 0);
    // A listener, three connections with both ends, two UDP sockets.
    EXPECT_EQ(socketDescriptors(pid), 1 + 2 * 3 + 2);
    ::kill(pid, SIGKILL);

    EXPECT_NE(run(std::string(SOCKHOLDER) + " --udp x 2>/dev/null").status, 0);
}

// The port of the process's one IPv6 TCP listener on the any address, from the kernel's
// table; 0 when it has none.
int anyAddressListenerPort(pid_t pid) {
    const std::set<std::string> inodes = socketInodes(pid);
    std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp6");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state == "0A" && local.rfind("00000000000000000000000000000000:", 0) == 0 &&
            inodes.contains(inode))
            return std::stoi(local.substr(33), nullptr, 16);
    }
    return 0;
}

bool connects(int family, int port) {
    const int fd = ::socket(family, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    bool ok = false;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    } else {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ::close(fd);
    return ok;
}

TEST(BenchTools, HolderKeepsIpv6SocketsWithADualStackListener) {
    const Result r = run(std::string(SOCKHOLDER) + " --udp 1 --tcp6 2 --udp6 3");
    ASSERT_EQ(r.status, 0);
    const pid_t pid = std::stoi(r.out);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(socketDescriptors(pid), 1 + 1 + 2 * 2 + 3);
    // A listener that takes only IPv6 would not be the dual-stack one the world counts.
    const int port = anyAddressListenerPort(pid);
    ASSERT_NE(port, 0);
    EXPECT_TRUE(connects(AF_INET6, port));
    EXPECT_TRUE(connects(AF_INET, port));
    ::kill(pid, SIGKILL);

    EXPECT_NE(run(std::string(SOCKHOLDER) + " --tcp6 2>/dev/null").status, 0);
}

TEST(BenchTools, CompareTimesBothAndFailsWithTheCommand) {
    const Result r = run(std::string(TIMER) + " compare 3 -- sleep 0.05 -- true");
    ASSERT_EQ(r.status, 0);
    std::istringstream fields(r.out);
    double a = 0, b = 0, ratio = 0;
    long rss = 0;
    ASSERT_TRUE(fields >> a >> b >> ratio >> rss);
    EXPECT_GE(a, 50);
    EXPECT_LT(b, a);
    EXPECT_GT(ratio, 1);
    EXPECT_GT(rss, 0);

    EXPECT_NE(run(std::string(TIMER) + " compare 3 -- true -- false 2>/dev/null").status, 0);
}

TEST(BenchTools, IdleMeasuresABusyProgramAndNoticesAnEarlyEnd) {
    const Result busy = run(std::string(TIMER) + " idle 0.1 0.5 -- sh -c 'while :; do :; done'");
    ASSERT_EQ(busy.status, 0);
    std::istringstream fields(busy.out);
    double percent = 0;
    ASSERT_TRUE(fields >> percent);
    // A spinning shell holds most of a core even on a loaded machine.
    EXPECT_GT(percent, 20);

    EXPECT_NE(run(std::string(TIMER) + " idle 0.1 0.5 -- sleep 0.3 2>/dev/null").status, 0);
}
