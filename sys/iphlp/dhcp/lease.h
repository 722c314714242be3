// A DHCP lease as the adapter list shows it, whichever client holds it.
#pragma once

#include <cstdint>
#include <limits>

namespace corvane::sys::dhcp {

struct Lease {
    // An infinite lease never expires.
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    uint32_t address = 0; // network byte order; 0 when unknown
    uint32_t server = 0;  // the server identifier, network byte order; 0 when unknown
    int64_t obtained = 0; // seconds since the epoch; 0 when unknown
    int64_t expires = 0;  // seconds since the epoch, kNever, or 0 when unknown
};

} // namespace corvane::sys::dhcp
