// Whole-file replacement that a crash cannot tear, and an exclusive lock between processes.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvane::reg {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes content to a new file beside target, flushes it to disk, renames it over target
// and flushes the folder, so that target holds either its old or its new content whatever
// happens. Throws StoreError naming the file and the system's reason.
void writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                         mode_t mode = 0644);

// The points of writeFileAtomically at which a crash is most telling; a test installs a hook
// that kills the writer at one of them.
enum class WriteStage { Created, HalfWritten, Flushed, Renamed };
void setWriteStageHook(void (*hook)(WriteStage));

// Reads a whole file. Nothing when it does not exist; throws StoreError when it exists but
// cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);

// flock() on a lock file held for the object's lifetime.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& lockFile); // throws StoreError
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace corvane::reg
