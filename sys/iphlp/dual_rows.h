// Records of both families -> the rows of the later-generation tables and of Corvane's own.
#pragma once

#include "iphlpapi.h"
#include "netlink/dual.h"

#include <string>
#include <vector>

namespace corvane::sys {

// zone: the sin6_scope_id of an IPv6 address; ignored for IPv4.
SOCKADDR_INET sockaddrInet(uint8_t family, const nl::Ip& address, uint32_t zone = 0);
bool isLinkLocal6(const nl::Ip& address); // fe80::/10

MIB_UNICASTIPADDRESS_ROW unicastRow(const nl::AnyAddress& a);

// One row per next hop.
void appendRouteRows(const nl::AnyRoute& r, std::vector<CORVANE_ROUTE_ROW>& rows);

CORVANE_RULE_ROW ruleRow(const nl::Rule& r);

// Socket rows; pid 0 when no process is known.
MIB_TCP6ROW_OWNER_PID tcp6Row(const nl::AnySocket& s, DWORD pid);
MIB_UDP6ROW_OWNER_PID udp6Row(const nl::AnySocket& s, DWORD pid);
MIB_TCPROW_OWNER_PID tcp4Row(const nl::AnySocket& s, DWORD pid);
MIB_UDPROW_OWNER_PID udp4Row(const nl::AnySocket& s, DWORD pid);
DWORD socketFlags(const nl::AnySocket& s);

// By local address (bytes), local port, remote address, remote port as numbers; ties keep
// their order.
void sortRows(std::vector<MIB_TCP6ROW_OWNER_PID>& rows);
void sortRows(std::vector<MIB_UDP6ROW_OWNER_PID>& rows);
void sortRows(std::vector<CORVANE_TCP6ROW_OWNER_PID_FLAGS>& rows);
void sortRows(std::vector<CORVANE_UDP6ROW_OWNER_PID_FLAGS>& rows);
void sortRows(std::vector<MIB_TCPROW_OWNER_PID>& rows);
void sortRows(std::vector<MIB_UDPROW_OWNER_PID>& rows);

// A name server as the resolver files write it: "192.0.2.1", "192.0.2.1:53", "2001:db8::1",
// "[2001:db8::1]:53", "fe80::1%eth0", "fe80::1%3", each maybe followed by "#server name".
// False for anything else.
bool parseDnsServer(const std::string& text, SOCKADDR_INET& out);

} // namespace corvane::sys
