// A key/value store with the shape of the platform registry: keys named by paths, typed
// values (32-bit integer, string) with case-blind names. One Store is one root, kept in one
// text file (format.h).
//
// Every change is a locked read-modify-write of the whole file, replaced atomically, so two
// processes never lose each other's writes and a crash leaves the old or the new content.
//
// A damaged file is read for what it still holds: its well-formed values are used, and a
// byte-for-byte copy is kept beside it before anything is written, since the next write keeps
// only what could be read. The file itself stays until that write: a program that only reads
// (the boot-time route restore) then finds the same values. The event is kept for the program
// to report, once per damaged content.
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
    std::filesystem::path file;         // the damaged store file
    std::filesystem::path keptAs;       // its copy; empty when none could be made
    std::vector<ParseError> unreadable; // the lines left out
    std::string copyFailure;            // why there is no copy; the store then refuses writes
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
    // The same, but nothing is written when change answers false: one read of the file
    // where a snapshot first and an update after would read it twice.
    void updateIf(const std::function<bool(Data&)>& change);

    // The key, created when asked. Nothing when it does not exist (and create is false) or
    // when the store cannot be read; a failure to create it throws StoreError.
    std::optional<Key> open(std::string_view path, bool create);
    // The key and everything below it; false when it did not exist.
    bool deleteKey(std::string_view path);

    // The damaged files met since the last call.
    std::vector<StoreEvent> takeEvents();

private:
    struct Parsed {
        std::shared_ptr<const Data> data; // null when there is no file
        mode_t mode = 0644;               // the file's permissions, kept when it is replaced
        bool damaged = false;
        bool keptAside = false; // a damaged file's copy exists: it may be written over
    };
    // The current content, from the cache when the file is still the one parsed. Nothing
    // when the file is damaged, unless keepAside (the caller holds the lock): then a copy is
    // made, or found, and the event recorded.
    std::optional<Parsed> load(bool keepAside);
    // A copy of the damaged text beside the file: one made earlier with the same bytes, or a
    // new one. Throws StoreError.
    std::filesystem::path keepAside(const FileContent& content);
    // Records the event unless this content was reported already; true when a copy exists.
    bool noteDamage(const FileContent& content, std::vector<ParseError> unreadable);

    std::filesystem::path file_;
    std::filesystem::path lockFile_;
    std::vector<StoreEvent> events_;
    // The damaged content last reported, so that it is reported once however often it is read.
    struct Damage {
        std::size_t size = 0;
        std::size_t hash = 0;
        std::filesystem::path keptAs;
    };
    std::optional<Damage> damage_;

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
