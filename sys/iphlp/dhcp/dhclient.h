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

// Release sends DHCPRELEASE and stops the client; renewal starts it again for one attempt
// (stopping a running one first, so that two never serve the same interface).
DWORD release(const Invocation& client, const std::string& ifName, Clock::time_point deadline);
DWORD renew(const Invocation& client, const std::string& ifName, Clock::time_point deadline);

} // namespace corvane::sys::dhcp::dhclient
