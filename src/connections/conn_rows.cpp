#include "connections/conn_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <netinet/in.h>

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

void sortConnRows(std::vector<ConnRow>& rows, int column, bool ascending) {
    std::stable_sort(
        rows.begin(), rows.end(), [column, ascending](const ConnRow& x, const ConnRow& y) {
            const QString tx = x.text(column);
            const QString ty = y.text(column);
            return ascending ? compareConnTexts(tx, ty) < 0 : compareConnTexts(ty, tx) < 0;
        });
}

} // namespace corvane
