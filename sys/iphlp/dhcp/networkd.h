// systemd-networkd as the manager of an interface: its link object on the bus, the lease it
// keeps under /run, and renewal through the link's Renew method.
#pragma once

#include "bus.h"
#include "corvane_types.h"
#include "lease.h"
#include "process.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::dhcp::networkd {

inline constexpr const char* kService = "org.freedesktop.network1";
inline constexpr const char* kLeaseDir = "/run/systemd/netif/leases";

// Where networkd keeps its state and reads its configuration; tests point them elsewhere.
struct Places {
    std::string leases = kLeaseDir;
    std::string links = "/run/systemd/netif/links"; // <index>: ADMIN_STATE=, NETWORK_FILE=
    // Drop-in folders (<name>.network.d) in networkd's order: a name in an earlier folder
    // hides the same name in a later one.
    std::vector<std::string> configDirs{"/etc/systemd/network", "/run/systemd/network",
                                        "/usr/local/lib/systemd/network",
                                        "/usr/lib/systemd/network"};
};

// Whether a .network file and its drop-ins, in the order networkd reads them, leave DHCPv4
// on: the last DHCP= of a [Network] section wins, an empty one resets it to off.
bool asksForDhcp4(const std::vector<std::string_view>& texts);
// Whether networkd runs DHCPv4 on the link: it holds a lease for it, or it is configuring or
// has configured the link from a .network file that asks for DHCPv4 (a lease not had yet, a
// server not answering).
bool runsDhcp4(uint32_t ifIndex, const Places& places = {});

// The link object of an interface, when networkd knows it by that index and name.
std::optional<std::string> link(sd_bus* bus, uint32_t ifIndex, const std::string& ifName);

// The lease file's text: ADDRESS=, SERVER_ADDRESS=, LIFETIME=; written is its mtime.
std::optional<Lease> parseLeaseFile(std::string_view text, int64_t written);
// The lease networkd holds for the interface; no value when it holds none.
std::optional<Lease> readLease(uint32_t ifIndex, const std::string& dir = kLeaseDir);

// Asks for a new exchange with the server and waits until networkd writes the new lease.
// No answer by the deadline: ERROR_DHCP_NO_ANSWER, the link left to networkd, which keeps
// its lease while it lasts and goes on asking.
DWORD renew(sd_bus* bus, const std::string& link, uint32_t ifIndex, Clock::time_point deadline,
            const std::string& dir = kLeaseDir);

} // namespace corvane::sys::dhcp::networkd
