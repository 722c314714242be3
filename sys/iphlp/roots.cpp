#include "roots.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
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

bool readFile(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

} // namespace corvane::sys
