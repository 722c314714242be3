// What the fuzz targets share: the input as text, checks that stop with a reason, and a guard
// that reports an exception as a crash of its own instead of letting it leave the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <vector>

namespace corvane::fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The lines of a text, without their '\n'; at most limit of them, so that one input cannot
// make a target quadratic in its own size.
inline std::vector<std::string_view> lines(std::string_view s, size_t limit) {
    std::vector<std::string_view> out;
    while (!s.empty() && out.size() < limit) {
        const size_t end = s.find('\n');
        out.push_back(s.substr(0, end));
        s.remove_prefix(end == std::string_view::npos ? s.size() : end + 1);
    }
    return out;
}

[[noreturn]] inline void broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// The parsers promise not to throw: their callers sit behind the C boundary.
template <typename Body> int guarded(Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception left the parser: %s\n", e.what());
        std::abort();
    } catch (...) {
        std::fprintf(stderr, "exception left the parser\n");
        std::abort();
    }
    return 0;
}

} // namespace corvane::fuzz

#define FUZZ_CHECK(cond) ((cond) ? void(0) : ::corvane::fuzz::broken(#cond, __FILE__, __LINE__))
