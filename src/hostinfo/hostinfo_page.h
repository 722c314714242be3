// The Host Info page: host parameters, active addresses, DNS servers, status panel 1, the
// application title and the tray hint. Filled by the adapter pass.
#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

class TfrmMain;

// Start of a pass: empties status panel 1 and the DNS list and reads the host parameters.
// Returns panel 1's text from before, which the address log compares with the new one.
QString hostInfoStart(TfrmMain& w);
// The adapter list was read: the address list is rebuilt from the pass.
void hostInfoLists(TfrmMain& w, const QStringList& addresses, const QStringList& dnsServers);
// End of a pass with an adapter list: title and tray hint.
void hostInfoFinish(TfrmMain& w);

// "<caption> @ <host>" followed by "\n<address>" per listed address; empty before a pass.
QString applicationTitle(const TfrmMain& w);

void installHostInfoPage(TfrmMain& w);

} // namespace corvane
