// The ISC client: its lease database, and release and renewal through its command line.
#pragma once

#include "clients.h"
#include "corvane_types.h"
#include "lease.h"
#include "process.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::dhcp::dhclient {

inline constexpr const char* kDefaultLeaseFile = "/var/lib/dhcp/dhclient.leases";
inline constexpr size_t kLeaseFileCap = size_t{1} << 20;

// The lease recorded last for the interface in a lease database. No value when there is
// none, or when the last record is the one the client writes on release. readLease reads
// the file as one another process named (see foreign_file.h).
std::optional<Lease> parseLeases(std::string_view text, const std::string& ifName);
std::optional<Lease> readLease(const std::string& leaseFile, const std::string& ifName);

// Command lines, with the options the running client was started with.
std::vector<std::string> releaseCommand(const std::string& program, const Invocation& client,
                                        const std::string& ifName);
std::vector<std::string> stopCommand(const std::string& program, const Invocation& client,
                                     const std::string& ifName);
std::vector<std::string> startCommand(const std::string& program, const Invocation& client);

// Release sends DHCPRELEASE and stops the client. Renewal ends a running client without its
// script (which would remove the interface's addresses) and starts it again in the
// background, where it asks for its lease once more and goes on asking; it waits for the
// new lease until the deadline, then answers ERROR_DHCP_NO_ANSWER with the client running.
// Without mayStart (inside the privileged helper) nothing is started: refused.
DWORD release(const Invocation& client, const std::string& ifName, Clock::time_point deadline,
              bool mayStart = true);
DWORD renew(const Invocation& client, const std::string& ifName, Clock::time_point deadline,
            bool mayStart = true);

} // namespace corvane::sys::dhcp::dhclient
