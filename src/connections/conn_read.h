// The TCP and UDP endpoints read from the platform as the Netstat page's rows, with the
// filters and name resolution of the run-time options.
#pragma once

#include "connections/conn_rows.h"
#include "iphlpapi.h"

#include <QString>
#include <functional>
#include <vector>

namespace corvane {

struct ConnListing {
    bool resolvePorts = false;
    bool resolveAddresses = false;
    bool establishedOnly = false;
    bool ignoreLocalhost = false;
    bool xpFamily = false;
    bool showIpv6 = false; // the IPv6 endpoints after the IPv4 ones
    // Called now and then during long listings so a window can breathe; may be empty.
    std::function<void()> yield;
};

struct RuntimeOptions;
// A listing under the run-time options as they stand.
ConnListing connListing(const RuntimeOptions& options, bool xpFamily);

// The extended listing (with owner processes) in the XP family when every entry point it
// needs is bound, the plain one otherwise. Failures are reported.
std::vector<ConnRow> readConnections(const ConnListing& listing);
std::vector<ConnRow> ListConnectionsExtended(const ConnListing& listing);
std::vector<ConnRow> ListConnectionsPlain(const ConnListing& listing);

// Whether the library can list IPv6 endpoints; an older one cannot.
bool ipv6EntriesBound();
// The IPv6 TCP rows, then the UDP rows, under the listing's filters. Owner texts as the IPv4
// rows of the same listing have them: none without names (the plain listing).
void appendIpv6Connections(const ConnListing& listing, const OwnerNames* tcpOwners,
                           const OwnerNames* udpOwners, std::vector<ConnRow>& rows);
// The unspecified and loopback addresses are named without a lookup, as for IPv4.
QString ResolveAddressName6(const Ip6Address& address, bool isLocal);

// Address in network byte order; loopback and 0.0.0.0 are named without a lookup.
QString ResolveAddressName(DWORD netAddr, bool isLocal);
// Port in network byte order; protocol "tcp" or "udp". The number when no service is listed.
QString ResolveServiceName(DWORD netPort, const char* protocol);

} // namespace corvane
