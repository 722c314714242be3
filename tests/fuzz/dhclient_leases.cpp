// The ISC client's lease database.
#include "dhcp/dhclient.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using corvane::sys::dhcp::Lease;
        const std::string_view text = corvane::fuzz::text(data, size);
        for (const char* ifName : {"eth0", ""}) {
            const std::optional<Lease> lease =
                corvane::sys::dhcp::dhclient::parseLeases(text, ifName);
            // An infinite lease has no start to tell.
            if (lease && lease->expires == Lease::kNever)
                FUZZ_CHECK(lease->obtained == 0);
        }
    });
}
