// Kernel socket records -> the rows of the TCP and UDP tables, and their sorted order.
#pragma once

#include "iphlpapi.h"
#include "netlink/diag.h"

#include <vector>

namespace corvane::sys {

// The table's state number for a kernel TCP state; 0 for one it does not know.
DWORD tcpTableState(uint8_t kernelState);

MIB_TCPROW tcpRow(const nl::InetSocket& s);
MIB_UDPROW udpRow(const nl::InetSocket& s);
MIB_TCPEXROW tcpExRow(const nl::InetSocket& s, DWORD pid);
MIB_UDPEXROW udpExRow(const nl::InetSocket& s, DWORD pid);

// By local address, local port, remote address, remote port, each compared as a number;
// rows that tie keep their kernel order.
void sortRows(std::vector<MIB_TCPROW>& rows);
void sortRows(std::vector<MIB_TCPEXROW>& rows);
// By local address, then local port.
void sortRows(std::vector<MIB_UDPROW>& rows);
void sortRows(std::vector<MIB_UDPEXROW>& rows);

} // namespace corvane::sys
