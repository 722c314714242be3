#include "report/json_writer.h"

#include <charconv>

namespace corvane {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

void appendEscapedCode(std::string& out, unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hexDigits[(code >> shift) & 0xF];
}

// The length of the valid UTF-8 sequence at the start of s, 0 when there is none. Overlong
// forms and surrogates are invalid: a decoder that accepted them could be led past a check.
std::size_t validSequence(std::string_view s, unsigned& code) {
    const auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto continuation = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned lead = b(0);
    std::size_t length = 0;
    unsigned min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!continuation(i))
            return 0;
        code = (code << 6) | (b(i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

void appendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Runs of plain printable ASCII are copied at once: almost every report text is one.
        std::size_t run = i;
        while (run < bytes.size()) {
            const auto c = static_cast<unsigned char>(bytes[run]);
            if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
                break;
            ++run;
        }
        out.append(bytes.data() + i, run - i);
        i = run;
        if (i == bytes.size())
            break;
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                appendEscapedCode(out, c);
                break; // the other C0 controls and DEL
            }
            ++i;
            continue;
        }
        unsigned code = 0;
        const std::size_t length = validSequence(bytes.substr(i), code);
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD for the one byte; the next starts afresh
            ++i;
        } else if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
            appendEscapedCode(out, code);
            i += length;
        } else {
            out.append(bytes.data() + i, length);
            i += length;
        }
    }
    out += '"';
}

void JsonWriter::separate() {
    started_ = true;
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (open_.empty())
        return;
    if (open_.back())
        out_ += ',';
    open_.back() = 1;
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    out_ += '{';
    open_.push_back(0);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    out_ += '}';
    if (!open_.empty())
        open_.pop_back();
    if (spill_ && out_.size() >= threshold_)
        flush();
    return *this;
}

void JsonWriter::flush() {
    if (!spill_ || out_.empty())
        return;
    spill_(out_);
    out_.clear(); // keeps its capacity: the next piece is written into the same memory
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    out_ += '[';
    open_.push_back(0);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    out_ += ']';
    if (!open_.empty())
        open_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    // Keys are the writer's own fixed names: nothing in them to escape.
    out_ += '"';
    out_ += name;
    out_ += "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view bytes) {
    separate();
    appendJsonString(out_, bytes);
    return *this;
}

JsonWriter& JsonWriter::number(std::int64_t value) {
    separate();
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, r.ptr);
    return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t value) {
    separate();
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, r.ptr);
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    separate();
    out_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::elements(std::string_view part) {
    if (part.empty())
        return *this;
    separate();
    // A run as big as a piece goes on as it is, behind what is held, rather than copied.
    if (spill_ && part.size() >= threshold_) {
        flush();
        spill_(part);
        return *this;
    }
    out_ += part;
    if (spill_ && out_.size() >= threshold_)
        flush();
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    out_ += "null";
    return *this;
}

} // namespace corvane
