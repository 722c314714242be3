#include "journal.h"

#include <cstdio>
#include <ctime>

namespace corvane::helper {
namespace {

void escape(std::string& out, unsigned char byte) {
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 0xF];
}

// The length of the UTF-8 sequence at text[i], or 0 where it is not one (a stray or missing
// continuation byte, an overlong form, a surrogate, past U+10FFFF); *code gets its value.
std::size_t sequence(std::string_view text, std::size_t i, uint32_t* code) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    uint32_t c = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *code = c;
    return length;
}

// Shown as bytes: what ends, starts or reorders a line on a terminal or in a viewer.
bool hidden(uint32_t c) {
    return c < 0x20 || c == 0x7F || c == '\\' || (c >= 0x80 && c <= 0x9F) ||
           (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

uint64_t monotonicUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

RefusalLimit refusals;

} // namespace

std::string printable(std::string_view text, std::size_t limit) {
    const std::string_view shown = text.substr(0, limit);
    std::string out;
    out.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size();) {
        uint32_t code = 0;
        const std::size_t length = sequence(shown, i, &code);
        if (length == 0 || hidden(code)) {
            for (std::size_t k = 0; k < (length ? length : 1); ++k)
                escape(out, static_cast<unsigned char>(shown[i + k]));
            i += length ? length : 1;
        } else {
            out.append(shown.substr(i, length));
            i += length;
        }
    }
    if (text.size() > shown.size())
        out += "...";
    return out;
}

RefusalLimit::Say RefusalLimit::refusal(uid_t uid, uint64_t now, unsigned* suppressedBefore) {
    *suppressedBefore = 0;
    auto found = windows_.find(uid);
    if (found == windows_.end()) {
        // Only as many uids as a machine has users; past that, windows that ended go.
        if (windows_.size() >= kTrackedUids)
            std::erase_if(windows_, [&](const auto& w) {
                return now - w.second.start >= kWindowUsec && w.second.suppressed == 0;
            });
        if (windows_.size() >= kTrackedUids)
            windows_.clear();
        found = windows_.emplace(uid, Window{now, 0, 0}).first;
    }
    Window& w = found->second;
    if (now - w.start >= kWindowUsec) {
        *suppressedBefore = w.suppressed;
        w = Window{now, 0, 0};
    }
    if (w.written < kRefusalLines) {
        ++w.written;
        return Say::Line;
    }
    return w.suppressed++ == 0 ? Say::Suppressed : Say::Nothing;
}

void logChange(uid_t uid, const std::string& what, DWORD result) {
    std::fprintf(stderr, "uid %u: %s: result %u\n", static_cast<unsigned>(uid), what.c_str(),
                 static_cast<unsigned>(result));
}

void logRefusal(uid_t uid, const std::string& what, const char* why, DWORD result) {
    unsigned before = 0;
    const RefusalLimit::Say say = refusals.refusal(uid, monotonicUsec(), &before);
    if (before > 0)
        std::fprintf(stderr, "uid %u: %u more refusals were not logged\n",
                     static_cast<unsigned>(uid), before);
    if (say == RefusalLimit::Say::Line)
        std::fprintf(stderr, "uid %u: %s (%s): result %u\n", static_cast<unsigned>(uid),
                     what.c_str(), why, static_cast<unsigned>(result));
    else if (say == RefusalLimit::Say::Suppressed)
        std::fprintf(stderr, "uid %u: more refusals suppressed for %llu s\n",
                     static_cast<unsigned>(uid),
                     static_cast<unsigned long long>(RefusalLimit::kWindowUsec / 1000000));
}

void logFault(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace corvane::helper
