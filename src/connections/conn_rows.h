// Pure logic of the Netstat page: the rows' texts, the filters, the owner-process lookup and
// the column-click comparison. No platform calls and no widgets.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <QStringList>
#include <unordered_map>
#include <vector>

namespace corvane {

namespace conncol {
inline constexpr int Protocol = 0;
inline constexpr int LocalAddress = 1;
inline constexpr int LocalPort = 2;
inline constexpr int RemoteAddress = 3;
inline constexpr int RemotePort = 4;
inline constexpr int Status = 5;
inline constexpr int ViaInterface = 6;
inline constexpr int OwnerProcess = 7;
} // namespace conncol

// One row of lvConnections: the caption and its sub-items, as many as the listing set
// (a plain UDP row has three texts, a TCP row without owner seven).
struct ConnRow {
    QStringList texts;
    int dataWord = 0; // 1 for TCP, 0 for UDP
    QString text(int column) const { return texts.value(column); }
};

// The state's name; a value the platform does not define shows as "???".
QString tcpStateName(DWORD state);

struct ConnFilter {
    bool ignoreLocalhost = false;
    bool establishedOnly = false;
};
// Addresses in network byte order; only the local address decides the loopback test.
bool skipTcpRow(const ConnFilter& f, DWORD state, DWORD localAddr);
bool skipUdpRow(const ConnFilter& f, DWORD localAddr);

// Network-order address as dotted decimal; network-order port (low 16 bits) as decimal.
QString dottedAddress(DWORD netAddr);
QString portNumber(DWORD netPort);
quint16 hostPort(DWORD netPort);

// Names of the processes of one snapshot. The first entry with a process id wins, as a
// walk from the start would find it.
class OwnerNames {
public:
    void add(DWORD pid, const QString& name) { names_.emplace(pid, name); }
    QString name(DWORD pid) const;
    bool empty() const { return names_.empty(); }

private:
    std::unordered_map<DWORD, QString> names_;
};

// Text order of the column click: code unit by code unit, a-z folded to upper case only,
// a prefix before the longer text. Negative, zero or positive.
int compareConnTexts(const QString& a, const QString& b);
// Sorts by one column's texts; rows that compare equal keep their order.
void sortConnRows(std::vector<ConnRow>& rows, int column, bool ascending);

} // namespace corvane
