#include "proc_scan.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace corvane::sys {
namespace {

bool readSmallFile(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[1024];
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return false;
    out.assign(buf, static_cast<size_t>(n));
    return true;
}

template <typename T> bool toNumber(std::string_view s, T& v) {
    const auto* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    return ec == std::errc() && p == end;
}

// The executable's file name; "sshd", not "/usr/sbin/sshd". A replaced binary reads as
// "/usr/bin/x (deleted)", and the suffix is no part of the name.
std::string exeFileName(const std::string& procDir) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string path(target, static_cast<size_t>(n));
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool parseProcStat(std::string_view text, ProcessInfo& out) {
    // The name sits in parentheses and may itself hold blanks and ')', so the fields after
    // it are found from the last ')'.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    if (!toNumber(text.substr(0, open > 0 ? open - 1 : 0), out.pid))
        return false;
    out.exeName = std::string(text.substr(open + 1, close - open - 1));
    // Fields after the name: state(3) ppid(4) ... num_threads(20), counted from pid = 1.
    std::string_view rest = text.substr(close + 1);
    int field = 2;
    size_t pos = 0;
    while (pos < rest.size()) {
        while (pos < rest.size() && rest[pos] == ' ')
            ++pos;
        const size_t end = std::min(rest.find(' ', pos), rest.size());
        if (pos >= end)
            break;
        ++field;
        const auto token = rest.substr(pos, end - pos);
        if (field == 4 && !toNumber(token, out.parentPid))
            return false;
        if (field == 20)
            return toNumber(token, out.threads);
        pos = end;
    }
    return false;
}

std::vector<ProcessInfo> scanProcesses(const std::string& procRoot) {
    std::vector<ProcessInfo> result;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(procRoot.c_str()), ::closedir);
    if (!dir)
        return result;
    std::string stat;
    while (const dirent* e = ::readdir(dir.get())) {
        uint32_t pid = 0;
        if (!toNumber(std::string_view(e->d_name), pid))
            continue;
        const std::string procDir = procRoot + "/" + e->d_name;
        ProcessInfo info;
        if (!readSmallFile(procDir + "/stat", stat) || !parseProcStat(stat, info))
            continue;
        // comm is cut at 15 characters; the executable's own name is better when readable.
        if (std::string exe = exeFileName(procDir); !exe.empty())
            info.exeName = std::move(exe);
        result.push_back(std::move(info));
    }
    std::sort(result.begin(), result.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return result;
}

} // namespace corvane::sys
