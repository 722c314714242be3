// What the helper accepts from a caller: a route name it would store, an interface name it
// would hand to a DHCP change. Whatever comes in, an accepted name is one the store and the
// DHCP code can take as it is.
#include "corvane_result.h"
#include "fuzz_support.h"
#include "helper/journal.h"
#include "helper/requests.h"
#include "helperclient/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view given = corvane::fuzz::text(data, size);
        const corvane::helper::StoreNames checked =
            corvane::helper::namesToStore({std::string(given)});
        FUZZ_CHECK(checked.accepted.size() + checked.refused.size() == 1);
        if (!checked.accepted.empty() && corvane::reg::looksWide(checked.accepted.front())) {
            // A name of the second key: printable, one interface name after five fields.
            const std::string& stored = checked.accepted.front();
            FUZZ_CHECK(stored.size() <= corvane::helper::kMaxWideRouteNameLength);
            for (const char c : stored)
                FUZZ_CHECK(c > ' ' && c <= '~');
            const std::optional<corvane::reg::WideRouteName> route =
                corvane::reg::readWideRouteName(stored);
            FUZZ_CHECK(route && corvane::reg::storableWideRoute(*route) ==
                                    corvane::reg::WideRouteFault::None);
            FUZZ_CHECK(corvane::reg::wideRouteNameText(*route) == stored);
            FUZZ_CHECK(corvane::helper::namesToStore({stored}).accepted.front() == stored);
        } else if (!checked.accepted.empty()) {
            const std::string& stored = checked.accepted.front();
            FUZZ_CHECK(stored.size() <= corvane::helper::kMaxRouteNameLength);
            int commas = 0;
            for (const char c : stored) {
                FUZZ_CHECK((c >= '0' && c <= '9') || c == '.' || c == ',' || c == '-');
                commas += c == ',';
            }
            FUZZ_CHECK(commas == 3);
            // The one text of a route is its own: stored again, it stays as it is.
            FUZZ_CHECK(corvane::helper::namesToStore({stored}).accepted.front() == stored);
        }
        // Nothing that ends a line or steers a terminal reaches the journal.
        const std::string shown = corvane::helper::printable(given);
        for (size_t i = 0; i < shown.size(); ++i) {
            const auto u = static_cast<unsigned char>(shown[i]);
            FUZZ_CHECK(u >= 0x20 && u != 0x7F);
            FUZZ_CHECK(!(u == 0xC2 && i + 1 < shown.size() &&
                         static_cast<unsigned char>(shown[i + 1]) < 0xA0));
        }
        if (corvane::helper::checkLease(1, given) == NO_ERROR) {
            FUZZ_CHECK(given.size() < 16);
            FUZZ_CHECK(given.find('/') == std::string_view::npos);
            FUZZ_CHECK(given.find('\0') == std::string_view::npos);
        }
    });
}
