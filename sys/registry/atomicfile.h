// Whole-file replacement that a crash cannot tear, and an exclusive lock between processes.
//
// Nothing here follows a symbolic link to create or replace a file: a link in the way is
// replaced (or, for the lock file, refused), its target never touched.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

namespace corvane::reg {

class StoreError : public std::runtime_error {
public:
    // what: the whole message, naming the file; reason: the system's part of it alone.
    explicit StoreError(const std::string& what, const std::string& reason = {})
        : std::runtime_error(what), reason_(reason.empty() ? what : reason) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// An open descriptor, closed with its owner.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Writes content to a new file beside target, flushes it to disk, renames it over target
// and flushes the folder, so that target holds either its old or its new content whatever
// happens. The new file gets mode exactly; without one, the permissions of the regular file
// it replaces when that file is the writer's own, or else 0644 under the umask. Temporary
// files that writers killed on the way left in the folder are removed. Throws StoreError naming
// target and the system's reason.
void writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                         std::optional<mode_t> mode = 0644);

// The same with content made while it is written, so that a big one is never held whole:
// produce is given put, which appends bytes to the new file and answers false once a write
// has failed (the rest is then dropped). The file replaces target only when every piece was
// written; otherwise, or when produce throws, target stays as it was and the new file goes.
using PieceWriter = std::function<bool(std::string_view piece)>;
void writeFileAtomically(const std::filesystem::path& target,
                         const std::function<void(const PieceWriter& put)>& produce,
                         std::optional<mode_t> mode = 0644);

// The points of writeFileAtomically at which a crash is most telling; a test installs a hook
// that kills the writer at one of them.
enum class WriteStage { Created, HalfWritten, Flushed, Renamed };
void setWriteStageHook(void (*hook)(WriteStage));

// Far beyond any settings store, yet short of what would exhaust memory.
inline constexpr std::size_t kMaxStoreFileSize = std::size_t{256} << 20;

struct FileContent {
    std::string text;
    struct stat status {};
    // Still open: while it is, no other file can be given the same inode number.
    Descriptor fd;
};

// Whether the last path component may be a symbolic link: a store is never read through one;
// configuration that only informs (another tool's profiles) may be.
enum class Links { Refuse, Follow };

// Reads a whole regular file without waiting on a pipe or device in its place. Nothing when
// it does not exist; throws StoreError when it exists but is a refused link, not a regular
// file, larger than maxSize, or cannot be read.
std::optional<FileContent> readWholeFile(const std::filesystem::path& file,
                                         std::size_t maxSize = kMaxStoreFileSize,
                                         Links links = Links::Refuse);

// How long a lock is waited for before the change fails.
inline constexpr std::chrono::seconds kLockWait{5};

// flock() on a lock file held for the object's lifetime; the file is created, readable by its
// owner only, but never through a symbolic link.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& lockFile); // throws StoreError

private:
    Descriptor fd_;
};

} // namespace corvane::reg
