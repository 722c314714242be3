// Test worlds in private network namespaces. The test binary's main() moves the whole
// process into a new network and mount namespace before any test runs, so `ip` commands
// and the code under test see only the world the tests build. Without root the tests skip.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace corvane::test {

// True when main() managed to enter the private namespaces.
bool inPrivateNetns();

// Runs a shell command; returns its exit status. Fails the current test when it is not 0.
int sh(const std::string& command);
// Runs a shell command that may fail; returns its exit status.
int shMayFail(const std::string& command);
// Standard output of a shell command (failing the test when its status is not 0).
std::string shOut(const std::string& command);

// A name unique to this test process, for namespaces and files ("<prefix>-<pid>").
std::string uniqueName(const std::string& prefix);

// A second namespace at the far end of links: created with `ip netns add`, removed when
// the object goes. run() executes a command inside it.
class PeerNamespace {
public:
    explicit PeerNamespace(const std::string& prefix = "peer");
    ~PeerNamespace();
    PeerNamespace(const PeerNamespace&) = delete;
    PeerNamespace& operator=(const PeerNamespace&) = delete;
    const std::string& name() const { return name_; }
    int run(const std::string& command) const; // fails the test on non-zero status
    std::string exec(const std::string& command) const {
        return "ip netns exec " + name_ + " " + command;
    }

private:
    std::string name_;
};

// Starts argv[0] (a full path) with its output thrown away; the caller waits for it.
pid_t spawnQuietly(const std::vector<std::string>& argv);
// Ends what spawnQuietly started: asked first, killed after three seconds.
void stopQuietly(pid_t pid);

// Runs f in a child process whose user and group are `nobody`; returns the child's exit
// status (f's return value), or -1 when the child could not be run.
int runUnprivileged(int (*f)());

} // namespace corvane::test

#define CORVANE_REQUIRE_NETNS()                                                                    \
    do {                                                                                           \
        if (!corvane::test::inPrivateNetns())                                                      \
            GTEST_SKIP() << "needs root to build a private network namespace";                     \
    } while (0)
