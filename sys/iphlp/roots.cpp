#include "roots.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sys {
namespace {

std::string fromEnv(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

} // namespace

std::string procRoot() {
    return fromEnv("CORVANE_PROC_ROOT", "/proc");
}
std::string sysfsRoot() {
    return fromEnv("CORVANE_SYSFS_ROOT", "/sys");
}
std::string resolvConf() {
    return fromEnv("CORVANE_RESOLV_CONF", "/etc/resolv.conf");
}
std::string nsswitchConf() {
    return fromEnv("CORVANE_NSSWITCH_CONF", "/etc/nsswitch.conf");
}

bool readAll(int fd, std::string& out, size_t cap) {
    out.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (static_cast<size_t>(n) > cap - out.size()) {
            out.clear();
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

bool readFileAt(int dirFd, const char* name, std::string& out, size_t cap) {
    // Non-blocking: a FIFO put where a file was expected must not hold the reader.
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    // Configuration, state and procfs files are regular; a device in their place is refused.
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readAll(fd, out, cap);
    if (!ok)
        out.clear();
    ::close(fd);
    return ok;
}

bool readFile(const std::string& path, std::string& out, size_t cap) {
    return readFileAt(AT_FDCWD, path.c_str(), out, cap);
}

} // namespace corvane::sys
