// NetworkManager as the manager of an interface: its device object on the bus, the lease
// its DHCP client holds, and a new DHCP exchange through Device.Reapply.
#pragma once

#include "bus.h"
#include "corvane_types.h"
#include "lease.h"
#include "process.h"

#include <map>
#include <optional>
#include <string>

namespace corvane::sys::dhcp::networkmanager {

inline constexpr const char* kService = "org.freedesktop.NetworkManager";

// The device object of an interface, when NetworkManager knows it.
std::optional<std::string> device(sd_bus* bus, const std::string& ifName);
// The device's DHCPv4 configuration object; no value when no DHCP client of its runs.
std::optional<std::string> dhcp4Config(sd_bus* bus, const std::string& device);

// The lease in a DHCP4Config's options (ip_address, dhcp_server_identifier,
// dhcp_lease_time, expiry).
Lease leaseFromOptions(const std::map<std::string, std::string>& options);
std::optional<Lease> readLease(sd_bus* bus, const std::string& device);

// The dhcp-timeout to reapply with: a changed DHCP setting is what makes NetworkManager
// start a new exchange on Reapply; of them, this one alters nothing while a lease is held,
// and made endless it keeps the device asking (and its address while the lease lasts)
// however long the server is silent, as a DHCP client on its own does. Only the applied
// connection changes: the stored one, and with it the next activation, keep their own.
int32_t toggledDhcpTimeout(int32_t current);

// Reapplies the device's applied connection with its dhcp-timeout toggled, keeping the
// addresses and routes NetworkManager did not make where it can, then waits for a new
// lease. No answer by the deadline: ERROR_DHCP_NO_ANSWER, the device left to NetworkManager.
DWORD renew(sd_bus* bus, const std::string& device, Clock::time_point deadline);

} // namespace corvane::sys::dhcp::networkmanager
