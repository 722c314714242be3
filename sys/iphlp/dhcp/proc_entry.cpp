#include "proc_entry.h"

#include "process.h"
#include "roots.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sys::dhcp {
namespace {

// A command line is bounded by the kernel's argument limit; more is no client's.
constexpr size_t kCmdlineCap = size_t{256} * 1024;

class DirFd {
public:
    explicit DirFd(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

uint64_t startTimeAt(int dir) {
    std::string stat;
    return readFileAt(dir, "stat", stat) ? parseStartTime(stat) : 0;
}

// The executable, or no value with hidden set when procfs refuses to show it to us.
std::optional<FileId> exeAt(int dir, bool& hidden) {
    struct stat st = {};
    if (::fstatat(dir, "exe", &st, 0) == 0)
        return FileId{st.st_dev, st.st_ino};
    hidden = errno == EACCES || errno == EPERM;
    return std::nullopt;
}

} // namespace

std::optional<std::array<uid_t, 4>> parseUids(std::string_view status) {
    static constexpr std::string_view key = "\nUid:";
    const size_t at = status.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    const size_t start = at + key.size();
    const size_t end = std::min(status.find('\n', start), status.size());
    const std::string line(status.substr(start, end - start));
    std::array<uid_t, 4> uids{};
    const char* p = line.c_str();
    for (uid_t& uid : uids) {
        char* next = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(p, &next, 10);
        if (next == p || errno != 0 || v > 0xFFFFFFFFUL)
            return std::nullopt;
        uid = static_cast<uid_t>(v);
        p = next;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '\0')
        return std::nullopt;
    return uids;
}

std::optional<ProcessEntry> readProcessEntry(const std::string& procRoot, int pid) {
    const DirFd dir(procRoot + "/" + std::to_string(pid));
    if (dir.get() < 0)
        return std::nullopt;
    ProcessEntry e;
    e.pid = pid;
    e.startTime = startTimeAt(dir.get());
    if (e.startTime == 0)
        return std::nullopt;
    e.exe = exeAt(dir.get(), e.exeHidden);
    std::string status;
    if (!readFileAt(dir.get(), "status", status))
        return std::nullopt;
    const auto uids = parseUids(status);
    if (!uids)
        return std::nullopt;
    e.uids = *uids;
    if (!readFileAt(dir.get(), "cmdline", e.cmdline, kCmdlineCap))
        return std::nullopt;
    std::array<char, 64> ns{};
    const ssize_t n = ::readlinkat(dir.get(), "ns/net", ns.data(), ns.size());
    if (n > 0 && static_cast<size_t>(n) < ns.size())
        e.netns.assign(ns.data(), static_cast<size_t>(n));
    // An exec in between would pair one program's identity with another's arguments; the
    // pid and start time stay the same across it, the executable does not.
    bool hiddenAgain = false;
    if (startTimeAt(dir.get()) != e.startTime || exeAt(dir.get(), hiddenAgain) != e.exe ||
        hiddenAgain != e.exeHidden)
        return std::nullopt;
    return e;
}

} // namespace corvane::sys::dhcp
