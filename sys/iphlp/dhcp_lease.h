// What the adapter list says about DHCP: the lease of the client that manages an interface.
#pragma once

#include "dhcp/lease.h"

#include <functional>
#include <optional>
#include <string>

namespace corvane::sys {

using DhcpLease = dhcp::Lease;
// Nothing when no DHCP client manages the interface.
using LeaseLookup = std::function<std::optional<DhcpLease>(const std::string& ifName)>;

} // namespace corvane::sys
