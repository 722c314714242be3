// The IPv4 counters of /proc/net/snmp.
#pragma once

#include "iphlpapi.h"

#include <string_view>

namespace corvane::sys {

// Fills the counter fields of stats from the text of /proc/net/snmp: its "Ip:" header line
// names the columns of the "Ip:" value line that follows, so fields are found by name.
// Counters wider than 32 bits are kept modulo 2^32; fields the kernel does not count (or a
// kernel of another era leaves out) stay 0. False when the text holds no such line pair.
bool parseIpCounters(std::string_view snmp, MIB_IPSTATS& stats);

} // namespace corvane::sys
