#include "connections/conn_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <netinet/in.h>
#include <utility>

namespace corvane {
namespace {

const std::array<const char*, 13> tcpStateNames = {
    "???",       "CLOSED",     "LISTENING", "SYN_SENT", "SYN_RCVD",  "ESTABLISHED", "FIN_WAIT1",
    "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",   "LAST_ACK", "TIME_WAIT", "DELETE_TCB"};

bool loopback(DWORD netAddr) {
    // The first octet is the lowest-addressed byte of the network-order value.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&netAddr);
    return bytes[0] == 127;
}

char16_t folded(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

} // namespace

QString tcpStateName(DWORD state) {
    // Indexing the table with an unchecked value would read past it.
    if (state >= tcpStateNames.size())
        return QStringLiteral("???");
    return QString::fromLatin1(tcpStateNames[state]);
}

bool skipTcpRow(const ConnFilter& f, DWORD state, DWORD localAddr) {
    return (f.ignoreLocalhost && loopback(localAddr)) ||
           (f.establishedOnly && state != MIB_TCP_STATE_ESTAB);
}

bool skipUdpRow(const ConnFilter& f, DWORD localAddr) {
    return f.establishedOnly || (f.ignoreLocalhost && loopback(localAddr));
}

Ip6Address Ip6Address::of(const UCHAR (&field)[16], DWORD zone) {
    Ip6Address a;
    std::memcpy(a.bytes.data(), field, a.bytes.size());
    a.zone = zone;
    return a;
}

bool Ip6Address::unspecified() const {
    return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; });
}

bool Ip6Address::mapped4() const {
    return std::all_of(bytes.begin(), bytes.begin() + 10, [](unsigned char b) { return b == 0; }) &&
           bytes[10] == 0xff && bytes[11] == 0xff;
}

DWORD Ip6Address::mapped4Address() const {
    DWORD v4 = 0;
    std::memcpy(&v4, bytes.data() + 12, sizeof v4);
    return v4;
}

bool Ip6Address::loopback() const {
    if (mapped4())
        return bytes[12] == 127;
    return std::all_of(bytes.begin(), bytes.end() - 1, [](unsigned char b) { return b == 0; }) &&
           bytes[15] == 1;
}

QString ipv6Text(const Ip6Address& a, const QString& zoneName) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (::inet_ntop(AF_INET6, a.bytes.data(), text.data(), text.size()) == nullptr)
        return QStringLiteral("???");
    QString out = QString::fromLatin1(text.data());
    if (a.zone != 0)
        out += QLatin1Char('%') + (zoneName.isEmpty() ? QString::number(a.zone) : zoneName);
    return out;
}

QString ipv6Protocol(bool tcp, bool v6only, const Ip6Address& local) {
    const bool both = !v6only && local.unspecified();
    if (tcp)
        return both ? QStringLiteral("TCPv4v6") : QStringLiteral("TCPv6");
    return both ? QStringLiteral("UDPv4v6") : QStringLiteral("UDPv6");
}

bool skipTcp6Row(const ConnFilter& f, DWORD state, const Ip6Address& local) {
    return (f.ignoreLocalhost && local.loopback()) ||
           (f.establishedOnly && state != MIB_TCP_STATE_ESTAB);
}

bool skipUdp6Row(const ConnFilter& f, const Ip6Address& local) {
    return f.establishedOnly || (f.ignoreLocalhost && local.loopback());
}

QString dottedAddress(DWORD netAddr) {
    const auto* b = reinterpret_cast<const unsigned char*>(&netAddr);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

quint16 hostPort(DWORD netPort) {
    const auto* b = reinterpret_cast<const unsigned char*>(&netPort);
    return static_cast<quint16>((b[0] << 8) | b[1]);
}

QString portNumber(DWORD netPort) {
    return QString::number(hostPort(netPort));
}

QString OwnerNames::name(DWORD pid) const {
    const auto it = names_.find(pid);
    return it == names_.end() ? QStringLiteral("???") : it->second;
}

int compareConnTexts(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    const auto* pa = reinterpret_cast<const char16_t*>(a.utf16());
    const auto* pb = reinterpret_cast<const char16_t*>(b.utf16());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = folded(pa[i]);
        const char16_t cb = folded(pb[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

namespace {

// A cell as the column click compares it, worked out once per row rather than per comparison.
struct CellKey {
    enum Kind { Empty, Number, Text } kind = Empty;
    quint64 number = 0;
    QString text;
};

int digitValue(char16_t c, int base) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (base == 16 && c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (base == 16 && c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Digits only, few enough to fit: ports, indexes, counters and process ids.
bool numberOf(const QString& t, quint64& value) {
    const bool hex = t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X');
    const int base = hex ? 16 : 10;
    const qsizetype first = hex ? 2 : 0;
    if (t.size() - first > (hex ? 15 : 18))
        return false;
    quint64 v = 0;
    for (qsizetype i = first; i < t.size(); ++i) {
        const int d = digitValue(t[i].unicode(), base);
        if (d < 0)
            return false;
        v = v * static_cast<quint64>(base) + static_cast<quint64>(d);
    }
    value = v;
    return true;
}

CellKey cellKey(const QString& t) {
    CellKey k;
    if (t.isEmpty())
        return k;
    if (numberOf(t, k.number)) {
        k.kind = CellKey::Number;
        return k;
    }
    k.kind = CellKey::Text;
    k.text = t;
    return k;
}

int compareKeys(const CellKey& a, const CellKey& b) {
    if (a.kind != b.kind)
        return a.kind < b.kind ? -1 : 1;
    if (a.kind == CellKey::Number)
        return a.number == b.number ? 0 : (a.number < b.number ? -1 : 1);
    return a.kind == CellKey::Text ? compareConnTexts(a.text, b.text) : 0;
}

} // namespace

int compareConnCells(const QString& a, const QString& b) {
    return compareKeys(cellKey(a), cellKey(b));
}

void sortConnRows(std::vector<ConnRow>& rows, int column, bool ascending) {
    std::vector<std::pair<CellKey, std::size_t>> keys;
    keys.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        keys.emplace_back(cellKey(rows[i].text(column)), i);
    std::stable_sort(keys.begin(), keys.end(), [ascending](const auto& x, const auto& y) {
        return ascending ? compareKeys(x.first, y.first) < 0 : compareKeys(y.first, x.first) < 0;
    });
    std::vector<ConnRow> sorted;
    sorted.reserve(rows.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(rows[key.second]));
    rows = std::move(sorted);
}

} // namespace corvane
