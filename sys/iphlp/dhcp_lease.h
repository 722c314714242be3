// What the adapter list says about DHCP. The lease comes from the DHCP client that manages
// the interface; until that client is found and read, no interface has a lease and every
// adapter reports DHCP off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::sys {

struct DhcpLease {
    uint32_t server = 0;  // network byte order, 0 when unknown
    int64_t obtained = 0; // seconds since the epoch
    int64_t expires = 0;
};

std::optional<DhcpLease> dhcpLeaseFor(const std::string& ifName);

} // namespace corvane::sys
