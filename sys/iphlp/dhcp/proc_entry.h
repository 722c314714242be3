// A process as procfs shows it, every fact read through one descriptor of its directory:
// once the process is gone, reads through it fail rather than describe a newcomer that
// took the same pid.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvane::sys::dhcp {

// A file by device and inode: what an executable is, whatever it is called.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

struct ProcessEntry {
    int pid = 0;
    uint64_t startTime = 0;
    std::string cmdline;       // NUL-separated arguments
    std::array<uid_t, 4> uids; // real, effective, saved, filesystem
    // Its executable; no value when there is none (a kernel thread) or we may not look at
    // it (exeHidden: another user's process, seen without privilege).
    std::optional<FileId> exe;
    bool exeHidden = false;
    std::string netns; // "net:[4026531840]"; empty when we may not see it
};

// No value when the process is gone, a zombie, or changed (exec'd) while it was read.
std::optional<ProcessEntry> readProcessEntry(const std::string& procRoot, int pid);

// The four uids of a status file's "Uid:" line.
std::optional<std::array<uid_t, 4>> parseUids(std::string_view status);

} // namespace corvane::sys::dhcp
