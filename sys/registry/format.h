// The store's content in memory and its text form on disk.
//
// One file holds one root. Each key is a section named by its full path; each value is one
// line with its name quoted and its type spelled out:
//
//   [Software\halvern\zorvent]
//   "Auto update" = int:1
//   "Corvane" = str:"/usr/bin/corvane -a"
//
// Names and strings use the escapes \\ \" \n \r \t and \xHH (control bytes); other bytes,
// UTF-8 included, stand as they are. Blank lines and lines starting with ';' or '#' are
// comments. A section with no values is a key that exists but is empty.
//
// A damaged file is read line by line: what can be read is kept, and each line that cannot is
// named with its reason.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane::reg {

enum class ValueType { Integer, String };

struct Value {
    ValueType type = ValueType::Integer;
    std::int32_t integer = 0;
    std::string text;

    static Value ofInteger(std::int32_t v) { return {ValueType::Integer, v, {}}; }
    static Value ofString(std::string s) { return {ValueType::String, 0, std::move(s)}; }
    bool operator==(const Value&) const = default;
};

// Key paths and value names compare without regard to ASCII case, as the program expects.
bool sameName(std::string_view a, std::string_view b);

struct KeyData {
    std::string path;                                  // as first created
    std::vector<std::pair<std::string, Value>> values; // in the order first written

    const Value* find(std::string_view name) const;
    // Replaces the value under a case-blind match, keeping the name's first spelling.
    void set(std::string_view name, Value value);
    bool erase(std::string_view name);
};

class Data {
public:
    // The key itself, not one below it.
    const KeyData* findKey(std::string_view path) const;
    // Throws std::invalid_argument for a path that cannot be a key (empty component, control
    // character).
    KeyData& makeKey(std::string_view path);
    // A key exists when it has a section or something below it has one.
    bool keyExists(std::string_view path) const;
    // Names of the keys directly below, in first-seen spelling and order.
    std::vector<std::string> subkeys(std::string_view path) const;
    // Removes the key and everything below it; the number of sections removed.
    std::size_t eraseKey(std::string_view path);
    const std::deque<KeyData>& keys() const { return keys_; }

private:
    std::deque<KeyData> keys_; // a deque: a key returned by makeKey stays valid as others are added
    std::unordered_map<std::string, std::size_t> index_; // folded path -> place in keys_
};

// Strips separators at either end; nothing when the path is empty or not valid.
std::optional<std::string> normaliseKeyPath(std::string_view path);

struct ParseError {
    int line = 0;
    std::string message;
};

struct TolerantParse {
    Data data;                          // every line that could be read
    std::vector<ParseError> unreadable; // the others, in file order
};

// Skips what cannot be read: a broken value line, a value outside any section, every value of
// a section whose name cannot be read, and a second spelling of a value name (the first one
// stays).
TolerantParse parseTolerantly(std::string_view text);
// The content, or the first line that cannot be read.
std::optional<Data> parse(std::string_view text, ParseError* error = nullptr);
// "line 3: why; line 9: why", at most the first shown lines, then how many more there are.
std::string unreadableLinesText(const std::vector<ParseError>& lines, std::size_t shown = 10);
std::string serialize(const Data& data);

} // namespace corvane::reg
