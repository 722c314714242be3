// A key/value store with the shape of the platform registry: keys named by paths, typed
// values (32-bit integer, string) with case-blind names. One Store is one root, kept in one
// text file (format.h).
//
// Every change is a locked read-modify-write of the whole file, replaced atomically, so two
// processes never lose each other's writes and a crash leaves the old or the new content.
// A file that cannot be parsed is renamed aside, never overwritten, and the event kept for
// the program to report; the store then starts empty.
//
// What was parsed is kept, and the file read and parsed again only when it is no longer the
// same: another device, inode, size or modification time.
#pragma once

#include "registry/atomicfile.h"
#include "registry/format.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::reg {

struct StoreEvent {
    std::filesystem::path file;   // the store file that could not be parsed
    std::filesystem::path keptAs; // where it now is
    std::string reason;           // "line 3: ..."
};

class Key;

class Store {
public:
    // The lock file sits beside the store file, named after it.
    explicit Store(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // The current content (empty when there is no file yet). Throws StoreError when the file
    // exists but cannot be read.
    std::shared_ptr<const Data> snapshot();
    // Lets change edit the current content and writes the result, all under the lock.
    // Throws StoreError when the file cannot be read or written; nothing changes then.
    void update(const std::function<void(Data&)>& change);

    // The key, created when asked. Nothing when it does not exist (and create is false) or
    // when the store cannot be read; a failure to create it throws StoreError.
    std::optional<Key> open(std::string_view path, bool create);
    // The key and everything below it; false when it did not exist.
    bool deleteKey(std::string_view path);

    // The files set aside since the last call.
    std::vector<StoreEvent> takeEvents();

private:
    struct Parsed {
        std::shared_ptr<const Data> data; // null when there is no file
        mode_t mode = 0644;               // the file's permissions, kept when it is replaced
    };
    // The current content, from the cache when the file is still the one parsed. Nothing
    // when the file does not parse; with setAside (the caller holds the lock) such a file is
    // set aside and the content is empty.
    std::optional<Parsed> load(bool setAside);

    std::filesystem::path file_;
    std::filesystem::path lockFile_;
    std::vector<StoreEvent> events_;

    // The last file parsed. Its descriptor stays open, so that its inode number cannot pass
    // to a file that replaces it.
    struct Cache {
        FileContent file; // without its text
        Parsed parsed;
        bool trusted = false; // false while the file may still change within its timestamp
    };
    std::optional<Cache> cache_;
};

// An opened key: a path in a store. Reads see the file as it is now.
class Key {
public:
    Key(Store& store, std::string path) : store_(&store), path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Nothing when the value is missing, of another type, or the store cannot be read.
    std::optional<std::int32_t> readInteger(std::string_view name) const;
    std::optional<std::string> readString(std::string_view name) const;
    bool valueExists(std::string_view name) const;
    std::vector<std::string> valueNames() const;
    std::vector<std::string> subkeys() const;

    // Throw StoreError on failure. A key deleted meanwhile is created again.
    void writeInteger(std::string_view name, std::int32_t value);
    void writeString(std::string_view name, std::string_view value);
    bool deleteValue(std::string_view name);

private:
    // The value, and the content it lives in; no value when it is missing or unreadable.
    struct Found {
        std::shared_ptr<const Data> data;
        const Value* value = nullptr;
    };
    Found find(std::string_view name) const;
    Store* store_;
    std::string path_;
};

} // namespace corvane::reg
