#include "registry/atomicfile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::reg {
namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& file, int err) {
    throw StoreError(what + " " + file.string() + ": " + std::strerror(err));
}

void (*stageHook)(WriteStage) = nullptr;

void reached(WriteStage stage) {
    if (stageHook)
        stageHook(stage);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

} // namespace

void setWriteStageHook(void (*hook)(WriteStage)) {
    stageHook = hook;
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                         mode_t mode) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = target;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        fail("Cannot create", temp, errno);
    auto abandon = [&](const char* what) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        fail(what, target, err);
    };
    // The umask may have narrowed the mode; the file should read as asked (0644: the settings
    // folder is machine-wide).
    if (::fchmod(fd, mode) != 0)
        abandon("Cannot set the mode of");
    reached(WriteStage::Created);
    const std::size_t half = content.size() / 2;
    if (!writeAll(fd, content.substr(0, half)))
        abandon("Cannot write");
    reached(WriteStage::HalfWritten);
    if (!writeAll(fd, content.substr(half)))
        abandon("Cannot write");
    if (::fsync(fd) != 0)
        abandon("Cannot flush");
    reached(WriteStage::Flushed);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        fail("Cannot write", target, err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        fail("Cannot replace", target, err);
    }
    reached(WriteStage::Renamed);
    // The rename itself lives in the folder: flush it too, or a power cut may undo it.
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        fail("Cannot open the folder", folder, errno);
    if (::fsync(dfd) != 0) {
        closeKeepingErrno(dfd);
        fail("Cannot flush the folder", folder, errno);
    }
    ::close(dfd);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail("Cannot open", file, errno);
    }
    std::string out;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            closeKeepingErrno(fd);
            fail("Cannot read", file, errno);
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

FileLock::FileLock(const std::filesystem::path& lockFile) {
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        fail("Cannot open the lock file", lockFile, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            closeKeepingErrno(fd_);
            fail("Cannot lock", lockFile, errno);
        }
    }
}

FileLock::~FileLock() {
    // Closing the descriptor releases the lock.
    ::close(fd_);
}

} // namespace corvane::reg
