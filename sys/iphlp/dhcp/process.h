// Running a DHCP client's command: no shell, a clean environment, bounded in time; and
// stopping a client process that outlived its own stop command.
#pragma once

#include "corvane_types.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::dhcp {

using Clock = std::chrono::steady_clock;

struct RunResult {
    enum class Kind { Exited, Signalled, TimedOut, NotStarted, Lost };
    Kind kind = Kind::NotStarted;
    int code = -1; // exit status, or the signal that ended it
    bool succeeded() const { return kind == Kind::Exited && code == 0; }
};

// Runs argv[0], an absolute path, in a session of its own with stdin and stderr on /dev/null
// and stdout into *output (at most 64 KiB) or /dev/null; no descriptor of this process
// leaks into it. Not finished by the deadline: its whole process group is killed and reaped.
RunResult run(const std::vector<std::string>& argv, Clock::time_point deadline,
              std::string* output = nullptr);

// A client command's outcome in the library's result codes: a client that ran and failed
// is not a client that could not be waited for.
DWORD resultOf(const RunResult& r);

// The system program folders, and the absolute path of a system program looked for there
// only (never through PATH); empty when it is not installed.
inline constexpr const char* kSystemProgramDirs[] = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
std::string systemProgram(const std::string& name);

// Whether this process holds CAP_NET_ADMIN in its effective set.
bool mayAdministerNetwork();

// Start time of a process (clock ticks since boot, from <procRoot>/PID/stat); 0 when there
// is no such process or it has already exited (zombie).
uint64_t processStartTime(int pid);
// The same from the text of a stat file.
uint64_t parseStartTime(std::string_view stat);

// Ends a process this library did not start, identified by pid and start time so that a
// reused pid is left alone: SIGTERM, then SIGKILL when it is still there at the deadline.
// True when the process is gone.
bool stopProcess(int pid, uint64_t startTime, Clock::time_point deadline);

// Ends it with SIGKILL alone: a client so ended runs no script, which would take the
// interface's addresses away. True when the process is gone.
bool killProcess(int pid, uint64_t startTime, Clock::time_point deadline);

// Polls until done() or the deadline; true when done() came true.
bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline);

} // namespace corvane::sys::dhcp
