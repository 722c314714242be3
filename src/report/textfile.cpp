#include "report/textfile.h"

#include "registry/atomicfile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvane {
namespace {

using reg::Descriptor;

// The character devices a report is written into: those that take anything and keep nothing
// (null, zero, full) and terminals (the controlling one, the console, virtual consoles,
// pseudo-terminals). Any other may act on what it is sent, or on merely being opened
// (memory, ports, serial lines, the watchdog, the kernel log), and a link planted to one
// must not make root's report drive it.
bool takesReports(dev_t device) {
    const unsigned maj = major(device);
    const unsigned min = minor(device);
    switch (maj) {
    case 1:
        return min == 3 || min == 5 || min == 7;
    case 4:
        return min < 64;
    case 5:
        return min <= 1;
    default:
        return maj >= 136 && maj <= 143;
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The standard output or error when the file is the one it is open on.
int standardStreamFor(const struct stat& file) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && sameFile(st, file))
            return fd;
    }
    return -1;
}

// A reader that goes away would raise SIGPIPE and end the program; the write's EPIPE says
// the same without that. The signal is blocked for this thread alone, and one it raised is
// taken before the mask returns.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!pendingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now{};
            while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t old_{};
    bool pendingBefore_ = false;
};

bool writeAll(int fd, std::string_view bytes, QString& error) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The pieces into a descriptor that is written in place; the first failure is kept in error.
bool writePieces(int fd, const std::function<void(const BytesOut&)>& produce, QString& error) {
    const PipeSignalHeld held;
    bool ok = true;
    produce([&](std::string_view piece) { return ok = ok && writeAll(fd, piece, error); });
    return ok;
}

// Opens what probe (an O_PATH descriptor) names for writing. Through the descriptor, not the
// path: the path may lead elsewhere by now.
Descriptor openForWriting(const Descriptor& probe, bool fifo, QString& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(probe.get());
    // Not blocking: a pipe that nobody reads would otherwise hold the open for ever.
    Descriptor fd(::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        error = fifo && errno == ENXIO ? QStringLiteral("no program is reading from the pipe")
                                       : QString::fromLocal8Bit(std::strerror(errno));
        return fd;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    return fd;
}

bool isDeviceFolder(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    if (folder.empty())
        folder = ".";
    struct stat st {};
    struct stat dev {};
    return ::stat(folder.c_str(), &st) == 0 && ::stat("/dev", &dev) == 0 && sameFile(st, dev);
}

} // namespace

QByteArray localBytes(QStringView text) {
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? text.toLatin1() : text.toLocal8Bit();
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error) {
    return writeFileInPieces(
        path,
        [&bytes](const BytesOut& put) {
            put(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        },
        error);
}

bool writeFileInPieces(const QString& path, const std::function<void(const BytesOut&)>& produce,
                       QString& error) {
    const std::filesystem::path file = QFile::encodeName(path).toStdString();
    // What the path leads to, followed by the kernel (which applies its own rules for links
    // in shared folders) and looked at without being opened: for some devices, opening alone
    // does something.
    const Descriptor probe(::open(file.c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    if (probe && ::fstat(probe.get(), &st) == 0) {
        struct stat link {};
        const bool viaLink = ::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        // /dev/stdout and the like: the stream itself, whatever it is open on.
        if (const int stream = viaLink ? standardStreamFor(st) : -1; stream >= 0)
            return writePieces(stream, produce, error);
        const bool fifo = S_ISFIFO(st.st_mode);
        if (fifo || (S_ISCHR(st.st_mode) && takesReports(st.st_rdev))) {
            const Descriptor fd = openForWriting(probe, fifo, error);
            return fd && writePieces(fd.get(), produce, error);
        }
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) {
            error = QStringLiteral("it is a device or socket that reports are not written to");
            return false;
        }
    }
    // Anything else is replaced whole, a link itself rather than what it leads to. Never
    // among the device nodes, though: a dangling /dev/stdout (standard output closed) must
    // stay what it is.
    if (isDeviceFolder(file)) {
        error = QStringLiteral("reports are not created in /dev");
        return false;
    }
    try {
        reg::writeFileAtomically(file, produce, std::nullopt);
        return true;
    } catch (const reg::StoreError& e) {
        error = QString::fromLocal8Bit(e.reason().c_str());
        return false;
    }
}

} // namespace corvane
