// Lines of KEY=value, the form of networkd's lease files and dhcpcd's lease dumps.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::sys::dhcp {

// each(key, value) for every line that has an '='; a value holding a NUL is no text and is
// passed over.
template <typename Each> void forEachKeyValue(std::string_view text, Each&& each) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string value(line.substr(eq + 1));
        if (value.find('\0') == std::string::npos)
            each(line.substr(0, eq), std::move(value));
    }
}

// A decimal number of at most 32 bits and nothing else.
inline std::optional<uint32_t> parseU32(const std::string& text) {
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    char* stop = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &stop, 10);
    if (*stop != '\0' || v > 0xFFFFFFFFULL)
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

} // namespace corvane::sys::dhcp
