// dhcpcd's lease file (the server's DHCP message as received) and the variables its -U
// command prints instead when the file is not readable.
#include "dhcp/dhcpcd.h"
#include "fuzz_support.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using corvane::sys::dhcp::Lease;
        namespace dhcpcd = corvane::sys::dhcp::dhcpcd;
        const std::string_view bytes = corvane::fuzz::text(data, size);
        // No mtime, a present one, and the latest ext4 can store.
        for (const int64_t written : {int64_t{0}, int64_t{1765188000}, int64_t{17179869183}}) {
            for (const std::optional<Lease>& lease :
                 {dhcpcd::parseLeaseMessage(bytes, written), dhcpcd::parseDump(bytes, written)}) {
                if (!lease)
                    continue;
                FUZZ_CHECK(lease->obtained == written);
                FUZZ_CHECK(lease->expires == 0 || lease->expires == Lease::kNever ||
                           lease->expires >= written);
            }
        }
    });
}
