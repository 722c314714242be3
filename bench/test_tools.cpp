// The bench helpers as run.sh uses them: their output is parsed and their exit status
// trusted, so a holder that reports ready too early or a timer that swallows a failure would
// skew every figure.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
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

int socketDescriptors(pid_t pid) {
    int n = 0;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec).string().rfind("socket:", 0) == 0)
            ++n;
    }
    return n;
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
