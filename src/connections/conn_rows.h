// Pure logic of the Netstat page: the rows' texts, the filters, the owner-process lookup and
// the column-click comparison. No platform calls and no widgets.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstddef>
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

// An IPv6 endpoint address as the tables give it: 16 bytes in network order and the zone
// (the interface index of a link-local address, else 0).
struct Ip6Address {
    std::array<unsigned char, 16> bytes{};
    DWORD zone = 0;
    static Ip6Address of(const UCHAR (&field)[16], DWORD zone);
    bool unspecified() const;
    // ::ffff:a.b.c.d, the IPv4 peer of a socket that serves both families.
    bool mapped4() const;
    DWORD mapped4Address() const; // network order; meaningful only when mapped4()
    // ::1, and the IPv4 loopback net seen through a dual-stack socket (::ffff:127.0.0.0/104).
    bool loopback() const;
    bool operator==(const Ip6Address&) const = default;
};

// The compressed text (2001:db8::1, ::ffff:127.0.0.1), a zone as "%" and the interface's
// name, or its number without a name. No brackets: the port has a column of its own.
QString ipv6Text(const Ip6Address& a, const QString& zoneName = {});

// The family in the Protocol column: "TCPv6" / "UDPv6", and "TCPv4v6" / "UDPv4v6" for a socket
// on the unspecified address that also serves IPv4 (not IPv6-only).
QString ipv6Protocol(bool tcp, bool v6only, const Ip6Address& local);

bool skipTcp6Row(const ConnFilter& f, DWORD state, const Ip6Address& local);
bool skipUdp6Row(const ConnFilter& f, const Ip6Address& local);

// Network-order address as dotted decimal; network-order port (low 16 bits) as decimal.
QString dottedAddress(DWORD netAddr);
QString portNumber(DWORD netPort);
quint16 hostPort(DWORD netPort);

// Rows a table says it holds but its buffer cannot: a short table is read as far as it goes.
template <typename Table> DWORD rowsWithin(const Table& t, std::size_t bytes) {
    const std::size_t header = offsetof(Table, table);
    const std::size_t fit = bytes < header ? 0 : (bytes - header) / sizeof(t.table[0]);
    return static_cast<DWORD>(std::min<std::size_t>(t.dwNumEntries, fit));
}

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
// Order of the column click: empty cells first, then numbers (decimal, or hexadecimal after
// "0x") by their value, then every other text in text order; addresses are texts. Negative,
// zero or positive.
int compareConnCells(const QString& a, const QString& b);
// Sorts by one column's cells; rows that compare equal keep their order.
void sortConnRows(std::vector<ConnRow>& rows, int column, bool ascending);

} // namespace corvane
