// A JSON text written as it goes, without a document tree: the report of a host with a
// hundred thousand routes is one pass over its rows, appended to one buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The bytes as a JSON string, quotes included, appended to out. Read as UTF-8: every valid
// character but the ones below is kept as it is; the quote and the backslash are escaped,
// control characters (C0, DEL, C1) and the line and paragraph separators become \u00XX or
// their short escapes, and every byte that starts no valid character (a stray continuation,
// a truncated or overlong sequence, a surrogate, beyond U+10FFFF) becomes U+FFFD. The result
// is valid UTF-8 with no raw control character, whatever the input.
void appendJsonString(std::string& out, std::string_view bytes);

// Commas and nesting are kept by the writer; keys and values are given in order. Misuse (a
// value where a key is due) is a program fault the writer does not guard against beyond
// keeping the text well formed for correct use.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}
    // A run of an array's elements, written as if the array were open and empty: the text
    // another writer hands on with elements().
    struct ArrayPart {};
    JsonWriter(std::string& out, ArrayPart) : out_(out), open_{0}, started_(true) {}

    // Hands out's text to spill and empties it whenever an object ends with at least
    // threshold bytes held, so that a big text streams instead of being held whole; flush
    // hands over the rest. Without a spill, out keeps everything. A piece may end anywhere.
    using Spill = std::function<void(std::string_view text)>;
    void spillTo(Spill spill, std::size_t threshold) {
        spill_ = std::move(spill);
        threshold_ = threshold;
    }
    void flush();

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // A fixed key of the program's own, written as it is: snake_case ASCII, nothing to escape.
    JsonWriter& key(std::string_view name);

    JsonWriter& string(std::string_view bytes);
    JsonWriter& number(std::int64_t value);
    JsonWriter& number(std::uint64_t value);
    JsonWriter& number(std::uint32_t value) { return number(static_cast<std::uint64_t>(value)); }
    JsonWriter& number(int value) { return number(static_cast<std::int64_t>(value)); }
    JsonWriter& boolean(bool value);
    JsonWriter& null();
    // Elements an ArrayPart writer wrote, as the next ones of the open array; nothing when
    // empty. With a spill, a part of at least threshold bytes is handed to it directly.
    JsonWriter& elements(std::string_view part);

    // key(name) followed by the value.
    template <typename T> JsonWriter& field(std::string_view name, const T& value) {
        key(name);
        return put(value);
    }
    JsonWriter& nullField(std::string_view name) { return key(name).null(); }

    // Whether every object and array begun has ended.
    bool complete() const { return open_.empty() && started_; }

private:
    JsonWriter& put(std::string_view v) { return string(v); }
    JsonWriter& put(const std::string& v) { return string(v); }
    JsonWriter& put(const char* v) { return string(v); }
    JsonWriter& put(bool v) { return boolean(v); }
    template <typename N> JsonWriter& put(N v) { return number(v); }

    void separate(); // the comma before a value or key that is not its container's first
    std::string& out_;
    Spill spill_;
    std::size_t threshold_ = 0;
    std::vector<char> open_; // per open container: whether it holds something yet
    bool afterKey_ = false;
    bool started_ = false;
};

} // namespace corvane
