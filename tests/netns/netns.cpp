#include "netns.h"
#include "skip_aware.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {
namespace {

bool entered = false;

bool enterPrivateNetns() {
    if (::geteuid() != 0)
        return false;
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        std::perror("unshare");
        return false;
    }
    // Our mounts stay ours; /sys must show the new namespace's interfaces.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::umount2("/sys", MNT_DETACH) != 0 || ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        std::perror("mount");
        return false;
    }
    return std::system("ip link set lo up") == 0;
}

int status(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

} // namespace

bool inPrivateNetns() {
    return entered;
}

int shMayFail(const std::string& command) {
    return status(std::system(command.c_str()));
}

int sh(const std::string& command) {
    const int rc = shMayFail(command);
    EXPECT_EQ(rc, 0) << command;
    return rc;
}

std::string shOut(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "popen: " << command;
        return out;
    }
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    const int rc = status(::pclose(p));
    EXPECT_EQ(rc, 0) << command;
    return out;
}

std::string uniqueName(const std::string& prefix) {
    return prefix + "-" + std::to_string(::getpid());
}

PeerNamespace::PeerNamespace(const std::string& prefix) : name_(uniqueName(prefix)) {
    shMayFail("ip netns del " + name_ + " 2>/dev/null");
    sh("ip netns add " + name_);
    run("ip link set lo up");
}

PeerNamespace::~PeerNamespace() {
    shMayFail("ip netns del " + name_);
}

int PeerNamespace::run(const std::string& command) const {
    return sh(exec(command));
}

int runUnprivileged(int (*f)()) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(120);
        ::_exit(f());
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return status(raw);
}

pid_t spawnQuietly(const std::vector<std::string>& argv) {
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (auto& a : copies)
        args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void stopQuietly(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0)
            return;
        ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace corvane::test

int main(int argc, char** argv) {
    corvane::test::entered = corvane::test::enterPrivateNetns();
    ::testing::InitGoogleTest(&argc, argv);
    return corvane::test::runAllTestsShowingSkips();
}
