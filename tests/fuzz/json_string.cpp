// The report's JSON strings: any bytes give one well-formed string of valid UTF-8 without a
// raw control character, and text that was valid UTF-8 reads back as it was.
#include "fuzz_support.h"
#include "report/json_writer.h"

#include <string>

namespace {

// Code points of a strict UTF-8 text, or false for anything else.
bool decodeUtf8(std::string_view s, std::u32string& out) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        const std::size_t n = b0 < 0x80       ? 1
                              : b0 >> 5 == 6  ? 2
                              : b0 >> 4 == 14 ? 3
                              : b0 >> 3 == 30 ? 4
                                              : 0;
        if (n == 0 || i + n > s.size())
            return false;
        char32_t c = n == 1 ? b0 : b0 & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b >> 6 != 2)
                return false;
            c = (c << 6) | (b & 0x3F);
        }
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(c);
        i += n;
    }
    return true;
}

int hexValue(char32_t c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view in = corvane::fuzz::text(data, size);
        std::string out;
        corvane::appendJsonString(out, in);
        std::u32string chars;
        FUZZ_CHECK(decodeUtf8(out, chars));
        FUZZ_CHECK(chars.size() >= 2 && chars.front() == '"' && chars.back() == '"');
        std::u32string read;
        for (std::size_t i = 1; i + 1 < chars.size(); ++i) {
            const char32_t c = chars[i];
            FUZZ_CHECK(c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F) && c != 0x2028 &&
                       c != 0x2029);
            FUZZ_CHECK(c != '"'); // only the closing one, unescaped
            if (c != '\\') {
                read.push_back(c);
                continue;
            }
            FUZZ_CHECK(i + 2 < chars.size());
            const char32_t e = chars[++i];
            switch (e) {
            case '"':
                read.push_back('"');
                break;
            case '\\':
                read.push_back('\\');
                break;
            case 'b':
                read.push_back('\b');
                break;
            case 'f':
                read.push_back('\f');
                break;
            case 'n':
                read.push_back('\n');
                break;
            case 'r':
                read.push_back('\r');
                break;
            case 't':
                read.push_back('\t');
                break;
            case 'u': {
                FUZZ_CHECK(i + 5 < chars.size());
                char32_t v = 0;
                for (int k = 0; k < 4; ++k) {
                    const int h = hexValue(chars[++i]);
                    FUZZ_CHECK(h >= 0);
                    v = v * 16 + static_cast<char32_t>(h);
                }
                read.push_back(v);
                break;
            }
            default:
                FUZZ_CHECK(false && "unknown escape");
            }
        }
        std::u32string original;
        if (decodeUtf8(in, original))
            FUZZ_CHECK(read == original);
        else
            FUZZ_CHECK(read.find(U'\uFFFD') != std::u32string::npos);
    });
}
