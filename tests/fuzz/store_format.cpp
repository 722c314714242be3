// The settings store's text: whatever parses must come back unchanged through its own
// serialization, a refusal must name a line of the text, and what a tolerant read keeps of
// any text must be a store that parses.
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
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        // What a damaged text keeps is a store of its own, written and read back whole.
        const reg::TolerantParse tolerant = reg::parseTolerantly(text);
        for (const reg::ParseError& e : tolerant.unreadable)
            FUZZ_CHECK(e.line >= 1 && e.line <= lines && !e.message.empty());
        const std::optional<reg::Data> kept = reg::parse(reg::serialize(tolerant.data));
        FUZZ_CHECK(kept && same(*kept, tolerant.data));

        reg::ParseError error;
        const std::optional<reg::Data> parsed = reg::parse(text, &error);
        if (!parsed) {
            FUZZ_CHECK(!tolerant.unreadable.empty() && error.line == tolerant.unreadable[0].line);
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
