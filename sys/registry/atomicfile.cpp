#include "registry/atomicfile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvane::reg {
namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& file,
                       const std::string& reason) {
    throw StoreError(what + " " + file.string() + ": " + reason, reason);
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& file, int err) {
    fail(what, file, std::string(std::strerror(err)));
}

// For an open with O_NOFOLLOW, whose ELOOP says more plainly what was found.
[[noreturn]] void failOpen(const std::string& what, const std::filesystem::path& file, int err) {
    if (err == ELOOP)
        fail(what, file, std::string("it is a symbolic link"));
    fail(what, file, err);
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

// Temporary names are short, so that a target name of any allowed length still works, and
// carry the writer's pid, so that a later writer can tell whether the file was abandoned.
constexpr std::string_view kTempPrefix = ".corvane-";
constexpr std::string_view kTempSuffix = ".tmp";

std::string temporaryName() {
    std::uint32_t salt = 0;
    if (::getrandom(&salt, sizeof salt, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof salt)) {
        static std::atomic<std::uint32_t> counter{0};
        salt = counter++ ^ static_cast<std::uint32_t>(std::clock());
    }
    char name[64];
    std::snprintf(name, sizeof name, "%.*s%d-%08x%.*s", static_cast<int>(kTempPrefix.size()),
                  kTempPrefix.data(), static_cast<int>(::getpid()), salt,
                  static_cast<int>(kTempSuffix.size()), kTempSuffix.data());
    return name;
}

// The writer's pid when name is one of our temporary names.
std::optional<pid_t> writerOf(std::string_view name) {
    if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix))
        return std::nullopt;
    name.remove_prefix(kTempPrefix.size());
    name.remove_suffix(kTempSuffix.size());
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    const std::string_view salt(end, static_cast<std::size_t>(name.data() + name.size() - end));
    if (ec != std::errc() || pid <= 0 || salt.size() != 9 || salt.front() != '-' ||
        !std::all_of(salt.begin() + 1, salt.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
        return std::nullopt;
    return pid;
}

// Removes the temporary files in the folder whose writer is gone. Only regular files of our
// own user: in a shared folder, another user's file is theirs to keep, whatever its name.
void removeAbandonedTemporaries(int folder) {
    const int scan = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0)
        return;
    DIR* dir = ::fdopendir(scan);
    if (!dir) {
        ::close(scan);
        return;
    }
    const pid_t self = ::getpid();
    const uid_t owner = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const auto pid = writerOf(entry->d_name);
        // A pid that is in use may be the writer still at work: its file stays.
        if (!pid || *pid == self || ::kill(*pid, 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == owner)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

void setWriteStageHook(void (*hook)(WriteStage)) {
    stageHook = hook;
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                         std::optional<mode_t> mode) {
    writeFileAtomically(
        target,
        [content](const PieceWriter& put) {
            const std::size_t half = content.size() / 2;
            if (put(content.substr(0, half)))
                reached(WriteStage::HalfWritten);
            put(content.substr(half));
        },
        mode);
}

void writeFileAtomically(const std::filesystem::path& target,
                         const std::function<void(const PieceWriter& put)>& produce,
                         std::optional<mode_t> mode) {
    const std::filesystem::path name = target.filename();
    if (name.empty() || name == "." || name == "..")
        fail("Cannot write", target, EISDIR);
    std::filesystem::path folderPath = target.parent_path();
    if (folderPath.empty())
        folderPath = ".";
    // Everything below happens in this one folder, whatever its path comes to name meanwhile.
    const Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        fail("Cannot write", target, errno);
    removeAbandonedTemporaries(folder.get());

    // Only a file of the writer's own lends its mode: root replacing a file another user left
    // world-writable must not hand on that mode to a file that is now root's.
    if (!mode) {
        struct stat st {};
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            mode = st.st_mode & 0777;
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = temporaryName();
        fd = ::openat(folder.get(), temp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode.value_or(0644));
        // A name taken already is tried again with another salt, a few times.
        if (fd < 0 && (errno != EEXIST || attempt == 8))
            fail("Cannot write", target, errno);
    }
    auto abandon = [&](const char* what) {
        const int err = errno;
        ::close(fd);
        ::unlinkat(folder.get(), temp.c_str(), 0);
        fail(what, target, err);
    };
    // The umask may have narrowed the mode asked for (0644: the settings folder is
    // machine-wide), or the one of the file replaced.
    if (mode && ::fchmod(fd, *mode) != 0)
        abandon("Cannot set the mode of");
    reached(WriteStage::Created);
    int writeError = 0;
    const PieceWriter put = [&](std::string_view piece) {
        if (writeError == 0 && !writeAll(fd, piece))
            writeError = errno != 0 ? errno : EIO;
        return writeError == 0;
    };
    try {
        produce(put);
    } catch (...) {
        ::close(fd);
        ::unlinkat(folder.get(), temp.c_str(), 0);
        throw;
    }
    if (writeError != 0) {
        errno = writeError;
        abandon("Cannot write");
    }
    if (::fsync(fd) != 0)
        abandon("Cannot flush");
    reached(WriteStage::Flushed);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlinkat(folder.get(), temp.c_str(), 0);
        fail("Cannot write", target, err);
    }
    if (::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) != 0) {
        const int err = errno;
        ::unlinkat(folder.get(), temp.c_str(), 0);
        fail("Cannot replace", target, err);
    }
    reached(WriteStage::Renamed);
    // The rename itself lives in the folder: flush it too, or a power cut may undo it.
    if (::fsync(folder.get()) != 0)
        fail("Cannot flush the folder of", target, errno);
}

std::optional<FileContent> readWholeFile(const std::filesystem::path& file, std::size_t maxSize,
                                         Links links) {
    // Without O_NONBLOCK a pipe in the file's place would hold the open for ever.
    const int noFollow = links == Links::Refuse ? O_NOFOLLOW : 0;
    Descriptor fd(::open(file.c_str(), O_RDONLY | noFollow | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return std::nullopt;
        failOpen("Cannot open", file, errno);
    }
    FileContent out;
    if (::fstat(fd.get(), &out.status) != 0)
        fail("Cannot read", file, errno);
    if (!S_ISREG(out.status.st_mode))
        fail("Cannot read", file, std::string("it is not a regular file"));
    std::string& text = out.text;
    // One byte more than the file claims, so that the read that sees its end needs no growth.
    text.resize(std::min(static_cast<std::size_t>(out.status.st_size), maxSize) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used > maxSize)
                fail("Cannot read", file,
                     "it is larger than " + std::to_string(maxSize >> 20) + " MiB");
            text.resize(std::min(std::max(used * 2, std::size_t{65536}), maxSize + 1));
        }
        const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot read", file, errno);
        }
        used += static_cast<std::size_t>(n);
    }
    text.resize(used);
    out.fd = std::move(fd);
    return out;
}

FileLock::FileLock(const std::filesystem::path& lockFile) {
    // Only its owner may open it: anyone who can open a lock file can hold it.
    Descriptor fd(
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (!fd)
        failOpen("Cannot open the lock file", lockFile, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        fail("Cannot open the lock file", lockFile, errno);
    if (!S_ISREG(st.st_mode))
        fail("Cannot open the lock file", lockFile, std::string("it is not a regular file"));
    // One made by an earlier version was open to everyone.
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(fd.get(), 0600);
    // A holder that never lets go must not freeze the window or the helper.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            fail("Cannot lock", lockFile, errno);
        if (std::chrono::steady_clock::now() >= deadline)
            fail("Cannot lock", lockFile,
                 std::string("another process has held it for ") +
                     std::to_string(kLockWait.count()) + " seconds");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Closing the descriptor releases the lock.
    fd_ = std::move(fd);
}

} // namespace corvane::reg
