// The settings store's text: whatever parses must come back unchanged through its own
// serialization, and a refusal must name a line of the text.
#include "fuzz_support.h"
#include "registry/format.h"

#include <algorithm>

namespace {

bool same(const corvane::reg::Data& a, const corvane::reg::Data& b) {
    return std::equal(a.keys().begin(), a.keys().end(), b.keys().begin(), b.keys().end(),
                      [](const corvane::reg::KeyData& x, const corvane::reg::KeyData& y) {
                          return x.path == y.path && x.values == y.values;
                      });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        namespace reg = corvane::reg;
        const std::string_view text = corvane::fuzz::text(data, size);
        reg::ParseError error;
        const std::optional<reg::Data> parsed = reg::parse(text, &error);
        if (!parsed) {
            const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
            FUZZ_CHECK(error.line >= 1 && error.line <= lines && !error.message.empty());
            return;
        }
        for (const reg::KeyData& key : parsed->keys())
            FUZZ_CHECK(parsed->findKey(key.path) == &key);
        const std::string written = reg::serialize(*parsed);
        const std::optional<reg::Data> again = reg::parse(written);
        FUZZ_CHECK(again && same(*parsed, *again));
        FUZZ_CHECK(reg::serialize(*again) == written);
    });
}
