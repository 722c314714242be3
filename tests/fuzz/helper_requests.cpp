// What the helper accepts from a caller: a route name it would store, an interface name it
// would hand to a DHCP change. Whatever comes in, an accepted name is one the store and the
// DHCP code can take as it is.
#include "corvane_result.h"
#include "fuzz_support.h"
#include "helper/protocol.h"
#include "helper/requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view given = corvane::fuzz::text(data, size);
        if (corvane::helper::canonicalRouteName(given)) {
            FUZZ_CHECK(given.size() <= corvane::helper::kMaxRouteNameLength);
            int commas = 0;
            for (const char c : given) {
                FUZZ_CHECK((c >= '0' && c <= '9') || c == '.' || c == ',' || c == '-');
                commas += c == ',';
            }
            FUZZ_CHECK(commas == 3);
        }
        if (corvane::helper::checkLease(1, given) == NO_ERROR) {
            FUZZ_CHECK(given.size() < 16);
            FUZZ_CHECK(given.find('/') == std::string_view::npos);
            FUZZ_CHECK(given.find('\0') == std::string_view::npos);
        }
    });
}
