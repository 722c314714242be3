#include "process.h"

#include "corvane_result.h"
#include "roots.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvane::sys::dhcp {
namespace {

constexpr size_t kMaxOutput = size_t{64} * 1024;
constexpr auto kStep = std::chrono::milliseconds(10);

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Between fork and exec only async-signal-safe calls: the caller may have threads.
[[noreturn]] void becomeProgram(const char* path, char* const* argv, char* const* envp, int devnull,
                                int out) {
    ::setsid(); // its own session: no terminal signals, and one group to kill on timeout
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Ignored signals stay ignored across exec; a client must not inherit that.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, &dfl, nullptr);
    if (::dup2(devnull, 0) < 0 || ::dup2(out >= 0 ? out : devnull, 1) < 0 || ::dup2(devnull, 2) < 0)
        ::_exit(126);
    // A daemonizing client would otherwise keep the caller's descriptors open for ever.
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
        for (int fd = 3; fd < 65536; ++fd)
            ::close(fd);
    ::execve(path, argv, envp);
    ::_exit(127);
}

void readAvailable(int fd, std::string& out, bool& eof) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            eof = true;
        if (n <= 0)
            return;
        out.append(buf,
                   std::min(static_cast<size_t>(n), kMaxOutput - std::min(kMaxOutput, out.size())));
    }
}

RunResult fromStatus(int status) {
    RunResult r;
    if (WIFEXITED(status)) {
        r.kind = RunResult::Kind::Exited;
        r.code = WEXITSTATUS(status);
    } else {
        r.kind = RunResult::Kind::Signalled;
        r.code = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }
    return r;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, kStep.count()));
}

} // namespace

RunResult run(const std::vector<std::string>& argv, Clock::time_point deadline,
              std::string* output) {
    RunResult result;
    if (argv.empty() || argv[0].empty() || argv[0][0] != '/')
        return result;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // A clean environment: the caller's (LD_PRELOAD, odd PATH) is no business of a daemon.
    static char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* env[] = {path, nullptr};

    const Fd devnull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devnull.get() < 0)
        return result;
    int p[2] = {-1, -1};
    if (output && ::pipe2(p, O_CLOEXEC) != 0)
        return result;
    Fd readEnd(p[0]), writeEnd(p[1]);

    const pid_t pid = ::fork();
    if (pid < 0)
        return result;
    if (pid == 0)
        becomeProgram(args[0], args.data(), env, devnull.get(), writeEnd.get());
    writeEnd.reset();
    if (output) {
        output->clear();
        ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
    }

    bool eof = !output;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (!eof)
                readAvailable(readEnd.get(), *output, eof);
            // A code of 127 with nothing run means execve failed.
            return fromStatus(status);
        }
        if (r < 0 && errno != EINTR) {
            // Someone else reaped it (SIGCHLD ignored): the outcome is unknown.
            result.kind = RunResult::Kind::Lost;
            return result;
        }
        if (Clock::now() >= deadline)
            break;
        if (!eof) {
            pollfd pfd{readEnd.get(), POLLIN, 0};
            if (::poll(&pfd, 1, remainingMs(deadline)) > 0)
                readAvailable(readEnd.get(), *output, eof);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(remainingMs(deadline)));
        }
    }
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A process it had just forked (to run its script) may still be on its way out.
    waitUntil([&] { return ::kill(-pid, 0) != 0; }, Clock::now() + std::chrono::seconds(1));
    result.kind = RunResult::Kind::TimedOut;
    return result;
}

DWORD resultOf(const RunResult& r) {
    if (r.succeeded())
        return NO_ERROR;
    return r.kind == RunResult::Kind::TimedOut ? ERROR_TIMEOUT : ERROR_DHCP_CLIENT_FAILED;
}

std::string systemProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    for (const char* dir : kSystemProgramDirs) {
        std::string path = std::string(dir) + "/" + name;
        struct stat st = {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

bool mayAdministerNetwork() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_NET_ADMIN / 32].effective & (1U << (CAP_NET_ADMIN % 32))) != 0;
}

uint64_t processStartTime(int pid) {
    std::string stat;
    if (pid <= 0 || !readFile(procRoot() + "/" + std::to_string(pid) + "/stat", stat))
        return 0;
    return parseStartTime(stat);
}

uint64_t parseStartTime(std::string_view stat) {
    // The command name may hold spaces and parentheses; the fields follow the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return 0;
    std::istringstream fields{std::string(stat.substr(close + 1))};
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X")
        return 0;
    std::string skip;
    for (int i = 4; i < 22 && fields >> skip; ++i) {
    }
    uint64_t start = 0;
    fields >> start;
    return fields ? start : 0;
}

bool stopProcess(int pid, uint64_t startTime, Clock::time_point deadline) {
    const auto gone = [&] { return processStartTime(pid) != startTime; };
    if (startTime == 0 || gone())
        return true;
    ::kill(pid, SIGTERM);
    if (waitUntil(gone, deadline))
        return true;
    if (!gone())
        ::kill(pid, SIGKILL);
    return waitUntil(gone, Clock::now() + std::chrono::seconds(1));
}

bool killProcess(int pid, uint64_t startTime, Clock::time_point deadline) {
    const auto gone = [&] { return processStartTime(pid) != startTime; };
    if (startTime == 0 || gone())
        return true;
    ::kill(pid, SIGKILL);
    return waitUntil(gone, deadline);
}

bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace corvane::sys::dhcp
