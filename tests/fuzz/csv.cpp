// The line splitter: the first byte is the separator, the rest the line.
#include "values/csv.h"
#include "fuzz_support.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        if (size == 0)
            return;
        const char separator = static_cast<char>(data[0]);
        const std::string_view given = corvane::fuzz::text(data + 1, size - 1);
        const std::string_view line = given.substr(0, given.find('\0'));
        const corvane::Csv csv(given, separator);
        FUZZ_CHECK(csv.length() == line.size());
        FUZZ_CHECK(*csv.field(0) == '\0' && *csv.field(csv.count() + 1) == '\0');
        // The fields of a line without empty ones, joined again, give the line.
        const bool doubled = line.find(std::string(2, separator)) != std::string_view::npos;
        std::string joined;
        for (int n = 1; n <= csv.count(); ++n) {
            const char* field = csv.field(n);
            FUZZ_CHECK(std::strlen(field) <= line.size());
            joined += (n > 1 ? std::string(1, separator) : std::string()) + field;
        }
        if (!doubled && separator != '\0')
            FUZZ_CHECK(joined == line);
    });
}
