#include "foreign_file.h"

#include "roots.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sys {
namespace {

bool acceptable(const struct stat& st, std::optional<uid_t> owner) {
    return S_ISREG(st.st_mode) &&
           (st.st_uid == 0 || st.st_uid == ::geteuid() || (owner && st.st_uid == *owner)) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

std::optional<ForeignFile> readForeignFile(const std::string& path, size_t cap,
                                           std::optional<uid_t> owner) {
    if (path.empty())
        return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<ForeignFile> file;
    struct stat st = {};
    // Checked on the open descriptor: the name may point elsewhere by now.
    if (::fstat(fd, &st) == 0 && acceptable(st, owner) && st.st_size >= 0 &&
        static_cast<size_t>(st.st_size) <= cap) {
        file.emplace();
        file->modified = st.st_mtim;
        if (!readAll(fd, file->content, cap))
            file.reset();
    }
    ::close(fd);
    return file;
}

std::optional<timespec> foreignFileTime(const std::string& path, std::optional<uid_t> owner) {
    struct stat st = {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !acceptable(st, owner))
        return std::nullopt;
    return st.st_mtim;
}

} // namespace corvane::sys
