// The Netstat page: the TCP and UDP endpoints in lvConnections with their owner processes,
// the filters and name resolution of the run-time options, the column-click sort, the
// colours and the popup menu's toggles.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <functional>

namespace corvane {

class TfrmMain;

// Registers the page's refresh step and connects its handlers; called once by the window.
void installConnectionsPage(TfrmMain& w);
// What the toggles run after refilling the page: the report's rebuild, once it exists.
void setConnectionsReportBuilder(std::function<void()> buildReport);

// The extended listing in the XP family when every entry point it needs is bound, the
// plain one otherwise.
void FillConnectionTable(TfrmMain& w);
void ListConnectionsExtended(TfrmMain& w);
void ListConnectionsPlain(TfrmMain& w);

// Address in network byte order; loopback and 0.0.0.0 are named without a lookup.
QString ResolveAddressName(DWORD netAddr, bool isLocal);
// Port in network byte order; protocol "tcp" or "udp". The number when no service is listed.
QString ResolveServiceName(DWORD netPort, const char* protocol);

void ResolveProtocolName1Click(TfrmMain& w, bool checked);
void ResolveIPAddresses1Click(TfrmMain& w, bool checked);
void EstablishedOnly1Click(TfrmMain& w, bool checked);

} // namespace corvane
