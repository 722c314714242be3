#include "dhcp_lease.h"

namespace corvane::sys {

std::optional<DhcpLease> dhcpLeaseFor(const std::string& /*ifName*/) {
    return std::nullopt;
}

} // namespace corvane::sys
