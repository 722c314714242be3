// Times and watches the benchmark's commands from outside, so that nothing of the measuring
// runs inside them:
//   corvane_bench_time compare REPS -- A... -- B...
//     one warm-up each, then REPS runs each in A B B A order (drift falls on both alike);
//     prints "<median A ms> <median B ms> <A/B> <peak resident KB of A>"
//   corvane_bench_time idle STARTUP_S MEASURE_S -- CMD...
//     starts CMD, lets it settle, reads its CPU time over MEASURE_S and stops it;
//     prints "<percent of one core> <CPU s> <wall s>"
// Standard output of the commands is discarded; standard error passes through.
#include "stats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace corvane::bench;

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: corvane_bench_time compare REPS -- A... -- B...\n"
                         "       corvane_bench_time idle STARTUP_S MEASURE_S -- CMD...\n");
    std::exit(2);
}

pid_t start(const std::vector<char*>& argv) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDOUT_FILENO);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    return pid;
}

struct Run {
    double ms = 0;
    long maxRssKb = 0;
};

Run runOnce(const std::vector<char*>& argv) {
    const auto t0 = Clock::now();
    const pid_t pid = start(argv);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            std::exit(1);
        }
    }
    const auto t1 = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed: %s %d\n", argv[0],
                     WIFEXITED(status) ? "exit status" : "signal",
                     WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        std::exit(1);
    }
    return {std::chrono::duration<double, std::milli>(t1 - t0).count(), usage.ru_maxrss};
}

// Splits "-- A... -- B..." into argument vectors, each ending in nullptr.
std::vector<std::vector<char*>> commands(int argc, char** argv, int first) {
    std::vector<std::vector<char*>> out;
    for (int i = first; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            out.emplace_back();
        else if (!out.empty())
            out.back().push_back(argv[i]);
        else
            usage();
    }
    for (auto& c : out) {
        if (c.empty())
            usage();
        c.push_back(nullptr);
    }
    return out;
}

int compare(int reps, const std::vector<char*>& a, const std::vector<char*>& b) {
    std::vector<double> ta, tb;
    long peak = runOnce(a).maxRssKb; // warm-up
    runOnce(b);
    for (int i = 0; i < reps; ++i) {
        Run ra, rb;
        if (i % 2 == 0) {
            ra = runOnce(a);
            rb = runOnce(b);
        } else {
            rb = runOnce(b);
            ra = runOnce(a);
        }
        ta.push_back(ra.ms);
        tb.push_back(rb.ms);
        peak = std::max(peak, ra.maxRssKb);
    }
    const double ma = median(ta);
    const double mb = median(tb);
    std::printf("%.1f %.1f %.3f %ld\n", ma, mb, mb > 0 ? ma / mb : 0.0, peak);
    return 0;
}

std::optional<unsigned long long> ticksOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << in.rdbuf();
    return cpuTicks(text.str());
}

bool alive(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 30; ++i) {
        if (!alive(pid))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

int idle(double startupS, double measureS, const std::vector<char*>& cmd) {
    const pid_t pid = start(cmd);
    std::this_thread::sleep_for(std::chrono::duration<double>(startupS));
    const auto before = ticksOf(pid);
    const auto t0 = Clock::now();
    if (!alive(pid) || !before) {
        std::fprintf(stderr, "%s did not stay up for the start-up time\n", cmd[0]);
        stop(pid);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(measureS));
    const auto after = ticksOf(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const bool survived = alive(pid) && after;
    stop(pid);
    if (!survived) {
        std::fprintf(stderr, "%s ended while being measured\n", cmd[0]);
        return 1;
    }
    const unsigned long long used = *after - *before;
    const long hz = ::sysconf(_SC_CLK_TCK);
    std::printf("%.3f %.2f %.1f\n", percentOfCore(used, hz, wall),
                static_cast<double>(used) / static_cast<double>(hz), wall);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        usage();
    const std::string mode = argv[1];
    if (mode == "compare" && argc > 3) {
        const auto cmds = commands(argc, argv, 3);
        const int reps = std::atoi(argv[2]);
        if (cmds.size() != 2 || reps < 1)
            usage();
        return compare(reps, cmds[0], cmds[1]);
    }
    if (mode == "idle" && argc > 4) {
        const auto cmds = commands(argc, argv, 4);
        const double startup = std::atof(argv[2]);
        const double measure = std::atof(argv[3]);
        if (cmds.size() != 1 || measure <= 0)
            usage();
        return idle(startup, measure, cmds[0]);
    }
    usage();
}
