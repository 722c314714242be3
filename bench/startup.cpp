// Times the main window's start, from the exec of a fresh process to the first complete
// refresh painted:
//   corvane_bench_start RUNS
// Prints "<median ms> <slowest ms> <median ms until the refresh was done>". Each run execs
// this program anew with the moment before its exec, as a new start of the window does: Qt
// and the libraries loaded, a fresh settings store, the window built and shown, its first
// refresh of every page, then one paint of the whole window. Fails when a run asked anything,
// opened a dialog, did not finish within two minutes, or failed.
#include "benchwindow.h"
#include "stats.h"

#include "shell/heap.h"
#include "widgets/modal.h"

#include <QApplication>
#include <QDialog>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int runTimeoutMs = 120000;

long long nowNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

double msSince(long long startNs) {
    return static_cast<double>(nowNs() - startNs) / 1e6;
}

// The child: the window started as the program starts it, timed from STARTED_NS on the
// monotonic clock (the parent's stamp just before the exec). Prints "<total ms> <refresh ms>".
int startWindow(int argc, char* argv[], long long startedNs) {
    using namespace corvane;
    prepareHeapForLargeTables(); // as the program itself does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int dialogs = 0;
    setModalRunner([&dialogs](QDialog& d) {
        ++dialogs;
        std::fprintf(stderr, "dialog: %s\n", qPrintable(d.objectName()));
        return static_cast<int>(QDialog::Rejected);
    });
    int rc = 1;
    {
        bench::BenchWindow bw;
        if (bw.open()) {
            const double refreshed = msSince(startedNs);
            bw.window->repaint();
            const double painted = msSince(startedNs);
            if (bw.prompts.asked || dialogs)
                std::fprintf(stderr, "the window asked %d questions and opened %d dialogs\n",
                             bw.prompts.asked, dialogs);
            else {
                std::printf("%.1f %.1f\n", painted, refreshed);
                rc = 0;
            }
        }
    }
    setModalRunner({});
    return rc;
}

// One start in a child process; false (said on standard error) when it failed.
bool timeStart(const char* self, double& totalMs, double& refreshMs) {
    int out[2];
    if (::pipe(out) != 0) {
        std::perror("pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return false;
    }
    if (pid == 0) {
        ::close(out[0]);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[1]);
        const std::string stamp = std::to_string(nowNs());
        const char* args[] = {self, "--child", stamp.c_str(), nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(args));
        std::fprintf(stderr, "exec: %s\n", std::strerror(errno));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    const long long deadline = nowNs() + runTimeoutMs * 1000000LL;
    bool timedOut = false;
    for (;;) {
        const long long left = (deadline - nowNs()) / 1000000;
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, 1000LL)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buf[128];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (text.size() < 256)
            text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (timedOut) {
        std::fprintf(stderr, "the window did not start within %d s\n", runTimeoutMs / 1000);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    return std::sscanf(text.c_str(), "%lf %lf", &totalMs, &refreshMs) == 2;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        char* end = nullptr;
        const long long started = std::strtoll(argv[2], &end, 10);
        if (*end != '\0' || started <= 0)
            return 2;
        int childArgc = 1;
        return startWindow(childArgc, argv, started);
    }
    if (argc != 2 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: corvane_bench_start RUNS\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<double> totals;
    std::vector<double> refreshes;
    for (int i = 0; i < runs; ++i) {
        double total = 0;
        double refresh = 0;
        if (!timeStart(argv[0], total, refresh))
            return 1;
        totals.push_back(total);
        refreshes.push_back(refresh);
    }
    std::printf("%.1f %.1f %.1f\n", corvane::bench::median(totals),
                *std::max_element(totals.begin(), totals.end()), corvane::bench::median(refreshes));
    return 0;
}
