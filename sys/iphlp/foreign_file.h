// Files whose names come from another process (a lease file named on a client's command
// line, a file in a client's state folder). Whoever could plant a link, a FIFO or a device
// there must not make us read something else, wait for ever or fill memory.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

namespace corvane::sys {

struct ForeignFile {
    std::string content;
    timespec modified{};
};

// The file's content when the last path component is no link, it is a regular file owned by
// root (or by this process's own user, or by owner: a daemon's own user) that neither group
// nor others may write, and it holds at most cap bytes; otherwise no value. Never blocks.
std::optional<ForeignFile> readForeignFile(const std::string& path, size_t cap,
                                           std::optional<uid_t> owner = std::nullopt);

// The same checks without reading: the file's modification time, or no value.
std::optional<timespec> foreignFileTime(const std::string& path,
                                        std::optional<uid_t> owner = std::nullopt);

} // namespace corvane::sys
