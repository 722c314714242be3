// A screen of the test's own, as users have one: Xvfb on a display it picks itself and, when
// asked, openbox managing its windows. Focus changes, minimising and mapping then happen as on
// a desktop, which the offscreen platform cannot show. Everything started here is ended by its
// pid when the test program ends.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvane::test {

class XScreen : public ::testing::Environment {
public:
    explicit XScreen(bool withWindowManager) : withWm_(withWindowManager) {}

    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        xvfb_ = ::fork();
        if (xvfb_ == 0) {
            ::close(fds[0]);
            quiet();
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                     "-nolisten", "tcp", "-noreset", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string display;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&p, 1, 15000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            display += c;
        ::close(fds[0]);
        ASSERT_FALSE(display.empty()) << "Xvfb did not start (scripts/deps.sh installs it)";
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        if (!withWm_)
            return;
        wm_ = ::fork();
        if (wm_ == 0) {
            quiet();
            ::execlp("openbox", "openbox", "--sm-disable", nullptr);
            ::_exit(127);
        }
        // openbox names itself on the root window once it manages the screen.
        for (int i = 0; i < 150 && !wmRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(wmRunning()) << "openbox did not start (scripts/deps.sh installs it)";
    }

    void TearDown() override {
        for (pid_t* pid : {&wm_, &xvfb_}) {
            if (*pid > 0) {
                ::kill(*pid, SIGTERM);
                ::waitpid(*pid, nullptr, 0);
                *pid = -1;
            }
        }
    }

private:
    static void quiet() {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    static bool wmRunning() {
        FILE* f = ::popen("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null", "r");
        if (!f)
            return false;
        char line[256] = {};
        const bool found = ::fgets(line, sizeof line, f) &&
                           std::string(line).find("window id") != std::string::npos;
        ::pclose(f);
        return found;
    }

    bool withWm_;
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
};

} // namespace corvane::test

// In one test source: every test of the program runs on a screen managed by openbox.
#define CORVANE_WINDOW_MANAGER_SCREEN()                                                            \
    [[maybe_unused]] static auto* const corvaneWmScreen =                                          \
        ::testing::AddGlobalTestEnvironment(new corvane::test::XScreen(true))
