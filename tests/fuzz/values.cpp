// Address texts as the pages take them from the user and the store: ip, iphost and
// ipnetwork, each checked against the numbers it claims.
#include "fuzz_support.h"
#include "values/ip.h"
#include "values/iphost.h"

namespace {

void checkAddress(std::string_view text) {
    const corvane::ip a(text);
    if (!a.valid()) {
        FUZZ_CHECK(a.value() == 0 && a.text() == "0.0.0.0");
        return;
    }
    FUZZ_CHECK(a.text() == text);
    FUZZ_CHECK(corvane::ip(corvane::format_quad(a.value())).value() == a.value());
    FUZZ_CHECK(a.is_mask_like() == (!a.is_address_like() && !a.is_zero()));
}

// A valid pair describes one network, and writing it out again gives the same one.
void checkHost(const corvane::iphost& h) {
    if (!h.valid())
        return;
    const std::uint32_t mask = h.mask().value();
    FUZZ_CHECK(h.is_address_like() && h.mask().is_mask_like());
    FUZZ_CHECK(h.network().value() == (h.value() & mask));
    FUZZ_CHECK(h.last_value() == (h.network().value() | ~mask));
    corvane::iphost again;
    again.parse(h.text() + " " + h.mask().text());
    FUZZ_CHECK(again.valid() && again.network().value() == h.network().value() &&
               again.mask().value() == mask);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view text = corvane::fuzz::text(data, size);
        checkAddress(text);

        corvane::iphost host;
        host.parse(text);
        checkHost(host);
        corvane::ipnetwork network;
        network.set_allow_slash31(true);
        network.parse(text);
        checkHost(network);
        FUZZ_CHECK(network.valid() == host.valid());

        // The constructor pair takes the mask as given, checked or not.
        const std::string_view address = text.substr(0, text.find(' '));
        const std::string_view mask =
            address.size() < text.size() ? text.substr(address.size() + 1) : std::string_view{};
        const corvane::iphost pair(address, mask);
        FUZZ_CHECK(pair.valid() == (corvane::ip(address).valid() && corvane::ip(mask).valid()));
    });
}
