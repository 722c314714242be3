// dhcpcd: its lease files, and release and renewal through its command line.
#pragma once

#include "clients.h"
#include "corvane_types.h"
#include "lease.h"
#include "process.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::dhcp::dhcpcd {

// A lease file holds the server's DHCP message as received; written is the file's mtime,
// when the lease was obtained.
std::optional<Lease> parseLeaseMessage(std::string_view message, int64_t written);
// The variables `dhcpcd -U` prints, for when the lease file is not readable to us.
std::optional<Lease> parseDump(std::string_view text, int64_t written);

// The interface's lease file in dir ("eth0.lease", or "wlan0-SSID.lease" for a wireless
// one); empty when there is none.
std::string leaseFile(const std::string& dir, const std::string& ifName);
std::optional<Lease> readLease(const std::string& dir, const Invocation& client,
                               const std::string& ifName);

std::vector<std::string> command(const std::string& program, const Invocation& client,
                                 const char* action, const std::string& ifName);

// A daemon serving one interface releases and exits. A manager cannot release one
// interface from its command line without releasing them all: not supported.
DWORD release(const Invocation& client, const std::string& ifName, Clock::time_point deadline);
// Rebinds through a running daemon and waits for the new lease (ERROR_DHCP_NO_ANSWER when
// none comes, the daemon left asking), or starts one, which mayStart must allow.
DWORD renew(const Invocation& client, const std::string& ifName, const std::string& dir,
            Clock::time_point deadline, bool mayStart = true);

} // namespace corvane::sys::dhcp::dhcpcd
