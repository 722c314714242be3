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

bool readOpen(int fd, std::string& out, std::size_t limit) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    out.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (static_cast<std::size_t>(n) > limit - out.size())
            return false;
        out.append(buf, static_cast<std::size_t>(n));
    }
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

bool readFile(const std::string& path, std::string& out, std::size_t limit) {
    // Not blocking on open: a pipe put in a file's place would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool ok = readOpen(fd, out, limit);
    ::close(fd);
    if (!ok)
        out.clear();
    return ok;
}

} // namespace corvane::sys
