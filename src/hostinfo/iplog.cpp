#include "hostinfo/iplog.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

bool appendToFile(const std::filesystem::path& file, const QByteArray& text) {
    // Non-blocking: a FIFO planted in its place must not hang the window.
    const int fd = ::open(
        file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const char* at = text.constData();
    qsizetype left = text.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            at += n;
            left -= n;
        }
    }
    return ::close(fd) == 0 && ok;
}

bool IpAddressLog::passFinished(const QStringList& lines, bool addressesChanged,
                                const std::filesystem::path& file) {
    if (!startup_ && !addressesChanged)
        return false;
    QByteArray text;
    if (startup_)
        text += "\nCorvane Startup\n";
    for (const QString& line : lines)
        text += line.toUtf8() + '\n';
    if (!appendToFile(file, text))
        return false;
    startup_ = false;
    return true;
}

} // namespace corvane
