#include "routing/route_edit.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/systemtext.h"
#include "registry/route_name2.h"
#include "routing/persistentroutes.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>

namespace corvane {

QStringList routeMaskList() {
    QStringList masks;
    for (int prefix = 0; prefix <= 32; ++prefix) {
        if (prefix == 31)
            continue;
        const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t(0) << (32 - prefix);
        masks.append(QString::fromStdString(ip(mask).text()));
    }
    return masks;
}

std::optional<DWORD> interfaceIndexOf(const std::vector<RouteInterface>& faces,
                                      const QString& description) {
    for (const RouteInterface& face : faces)
        if (face.description == description)
            return parseInterfaceIndex(face.indexText);
    return std::nullopt;
}

QString gatewayNodeAddress(const QString& nodeText) {
    if (nodeText.isEmpty())
        return {};
    QString address = nodeText.mid(9);
    const qsizetype bracket = address.indexOf(QLatin1Char('('));
    if (bracket >= 0)
        address.truncate(bracket > 0 ? bracket - 1 : 0);
    return address;
}

QString routeListNextHop(const std::vector<RouteRow>& rows, DWORD ifIndex) {
    QString anyRoute;
    QString defaultRoute;
    for (const RouteRow& r : rows) {
        // The IPv4 dialogs propose IPv4 next hops only.
        if (r.inactive() || r.ipv6() || r.ifIndex != ifIndex)
            continue;
        anyRoute = routeCellText(r, fwcol::NextHop);
        if (r.destination == 0)
            defaultRoute = anyRoute;
    }
    return defaultRoute.isEmpty() ? anyRoute : defaultRoute;
}

QString nextHopProposal(const RouteInterface& face, const std::vector<RouteRow>& rows) {
    QString fromTree = gatewayNodeAddress(face.gatewayNode);
    if (!fromTree.isEmpty())
        return fromTree;
    const std::optional<DWORD> index = parseInterfaceIndex(face.indexText);
    return index ? routeListNextHop(rows, *index) : QString();
}

QString defaultGatewayText(const std::vector<RouteRow>& rows, DWORD ifIndex) {
    QString gateway = QStringLiteral("0.0.0.0");
    for (const RouteRow& r : rows)
        if (!r.inactive() && !r.ipv6() && r.ifIndex == ifIndex && r.destination == 0)
            gateway = routeCellText(r, fwcol::NextHop);
    return gateway;
}

DWORD routeTypeFor(const QString& nextHopText, const QString& gatewayText,
                   const QStringList& ownAddresses) {
    const QString dotted = QString::fromStdString(ip(nextHopText.toStdString()).text());
    if (nextHopText != gatewayText && ownAddresses.contains(dotted))
        return MIB_IPROUTE_TYPE_DIRECT;
    return MIB_IPROUTE_TYPE_INDIRECT;
}

MIB_IPFORWARDROW newRouteRecord(std::uint32_t destination, std::uint32_t mask,
                                std::uint32_t nextHop, DWORD ifIndex, DWORD type, DWORD metric) {
    MIB_IPFORWARDROW record{};
    record.dwForwardDest = htonl(destination);
    record.dwForwardMask = htonl(mask);
    record.dwForwardNextHop = htonl(nextHop);
    record.dwForwardIfIndex = ifIndex;
    record.dwForwardType = type;
    record.dwForwardProto = MIB_IPPROTO_NETMGMT;
    record.dwForwardMetric1 = metric;
    record.dwForwardMetric2 = record.dwForwardMetric3 = record.dwForwardMetric4 =
        record.dwForwardMetric5 = 0xFFFFFFFFU;
    return record;
}

MIB_IPFORWARDROW restoreRecord(const RouteRow& row) {
    DWORD type = row.type;
    if (type != MIB_IPROUTE_TYPE_DIRECT && type != MIB_IPROUTE_TYPE_INDIRECT)
        type = row.nextHop == 0 ? MIB_IPROUTE_TYPE_DIRECT : MIB_IPROUTE_TYPE_INDIRECT;
    MIB_IPFORWARDROW record =
        newRouteRecord(row.destination, row.mask, row.nextHop, row.ifIndex, type, row.metric);
    record.dwForwardProto = row.protocol;
    return record;
}

namespace {

ip typedAddress(const QString& text) {
    return ip(text.toStdString());
}

// What the user typed, quoted, as a message may show it: no control characters, and a text
// pasted by mistake is cut short.
QString quoted(const QString& text) {
    constexpr qsizetype shown = 40;
    QString t = printable(text);
    if (t.size() > shown)
        t = t.left(shown) + QStringLiteral("...");
    return QLatin1Char('"') + t + QLatin1Char('"');
}

bool contiguousMask(std::uint32_t mask) {
    const std::uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

} // namespace

bool onLinkNextHop(const QString& nextHop) {
    return nextHop.isEmpty() || nextHop == QLatin1String("0.0.0.0");
}

std::optional<QString> nextHopProblem(const QString& nextHop) {
    if (onLinkNextHop(nextHop) || typedAddress(nextHop).valid())
        return std::nullopt;
    return QStringLiteral("The next hop address %1 is not a valid IPv4 address. Leave it empty "
                          "for a route on the link.")
        .arg(quoted(nextHop));
}

std::optional<QString> routeInputProblem(const QString& network, const QString& mask,
                                         const QString& nextHop) {
    if (network.isEmpty())
        return QStringLiteral("The network address is missing.");
    if (!typedAddress(network).valid())
        return QStringLiteral("The network address %1 is not a valid IPv4 address.")
            .arg(quoted(network));
    if (mask.isEmpty())
        return QStringLiteral("The network mask is missing.");
    const ip m = typedAddress(mask);
    if (!m.valid())
        return QStringLiteral("The network mask %1 is not a valid IPv4 address.").arg(quoted(mask));
    if (!contiguousMask(m.value()))
        return QStringLiteral("The network mask %1 is not a subnet mask: its one bits must all "
                              "come first, as in 255.255.255.0.")
            .arg(quoted(mask));
    return nextHopProblem(nextHop);
}

std::optional<QString> persistentProblem(const QString& nextHop, bool persistent) {
    if (!persistent || !onLinkNextHop(nextHop))
        return std::nullopt;
    return QStringLiteral("A route without a next hop address cannot be persistent: the stored "
                          "route names no interface to restore it on. Enter the next hop, or "
                          "clear Persistent.");
}

QString alignedNetwork(const QString& network, const QString& mask) {
    return QString::fromStdString(
        ip(typedAddress(network).value() & typedAddress(mask).value()).text());
}

bool TypedIpv6Route::hostBits() const {
    return network() != destination;
}

std::array<std::uint8_t, 16> TypedIpv6Route::network() const {
    std::array<std::uint8_t, 16> out = destination;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t before = i * 8;
        const std::size_t keep = prefixLength >= before + 8 ? 8
                                 : prefixLength > before    ? prefixLength - before
                                                            : 0;
        out[i] &= static_cast<std::uint8_t>(0xFF00U >> keep);
    }
    return out;
}

bool ipv6Network(const QString& network) {
    return network.contains(QLatin1Char(':'));
}

namespace {

bool readIpv6(const QString& text, std::array<std::uint8_t, 16>& out) {
    // inet_pton reads to the terminating zero: a text with one inside is no address.
    if (text.isEmpty() || text.size() > 45 || text.contains(QChar(0)))
        return false;
    const QByteArray bytes = text.toLatin1();
    return QString::fromLatin1(bytes) == text &&
           inet_pton(AF_INET6, bytes.constData(), out.data()) == 1;
}

// "64" or "/64": 0 to 128, decimal digits only.
std::optional<std::uint8_t> readPrefixLength(QString text) {
    if (text.startsWith(QLatin1Char('/')))
        text.remove(0, 1);
    if (text.isEmpty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), [](QChar c) {
            return c.isDigit() && c.unicode() < 128;
        }))
        return std::nullopt;
    const int n = text.toInt();
    return n <= 128 ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(n)) : std::nullopt;
}

bool linkLocal(const std::array<std::uint8_t, 16>& a) {
    return a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
}

} // namespace

QString ipv6Text(const std::array<std::uint8_t, 16>& address) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

Ipv6RouteInput readIpv6Route(const QString& network, const QString& mask, const QString& nextHop) {
    Ipv6RouteInput in;
    TypedIpv6Route r;
    const qsizetype slash = network.indexOf(QLatin1Char('/'));
    const QString address = slash < 0 ? network : network.left(slash);
    if (!readIpv6(address, r.destination)) {
        in.problem = QStringLiteral("The network address %1 is not a valid IPv6 address.")
                         .arg(quoted(address));
        return in;
    }
    const QString length = slash < 0 ? mask : network.mid(slash + 1);
    const std::optional<std::uint8_t> prefix = readPrefixLength(length);
    if (!prefix) {
        in.problem = QStringLiteral("The prefix length %1 is not a number from 0 to 128. Write "
                                    "the network as 2001:db8:5::/64, or the length alone in the "
                                    "mask field.")
                         .arg(quoted(length));
        return in;
    }
    r.prefixLength = *prefix;
    if (!nextHop.isEmpty() && nextHop != QLatin1String("::")) {
        if (!readIpv6(nextHop, r.gateway)) {
            in.problem = QStringLiteral("The next hop address %1 is not a valid IPv6 address. "
                                        "Leave it empty for a route on the link.")
                             .arg(quoted(nextHop));
            return in;
        }
        if (r.gateway[0] == 0xFF) {
            in.problem = QStringLiteral("The next hop address %1 is a multicast address, which "
                                        "no route can lead through.")
                             .arg(quoted(nextHop));
            return in;
        }
        r.hasGateway = true;
    }
    in.route = r;
    return in;
}

MIB_IPFORWARD_ROW2 ipv6RouteRecord(const TypedIpv6Route& route, DWORD ifIndex, DWORD metric) {
    MIB_IPFORWARD_ROW2 row{};
    row.InterfaceIndex = ifIndex;
    row.DestinationPrefix.Prefix.si_family = AF_INET6;
    const std::array<std::uint8_t, 16> net = route.network();
    std::memcpy(&row.DestinationPrefix.Prefix.Ipv6.sin6_addr, net.data(), net.size());
    row.DestinationPrefix.PrefixLength = route.prefixLength;
    if (route.hasGateway) {
        row.NextHop.si_family = AF_INET6;
        std::memcpy(&row.NextHop.Ipv6.sin6_addr, route.gateway.data(), route.gateway.size());
        if (linkLocal(route.gateway))
            row.NextHop.Ipv6.sin6_scope_id = ifIndex;
    }
    row.Metric = metric;
    row.Protocol = MIB_IPPROTO_NETMGMT;
    row.ValidLifetime = row.PreferredLifetime = INFINITE_LIFETIME;
    return row;
}

MIB_IPFORWARD_ROW2 ipv4RouteRecord2(std::uint32_t destination, std::uint32_t mask,
                                    std::uint32_t nextHop, DWORD ifIndex, DWORD metric) {
    MIB_IPFORWARD_ROW2 row{};
    row.InterfaceIndex = ifIndex;
    row.DestinationPrefix.Prefix.si_family = AF_INET;
    row.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr = htonl(destination & mask);
    row.DestinationPrefix.PrefixLength = static_cast<UINT8>(__builtin_popcount(mask));
    if (nextHop != 0) {
        row.NextHop.si_family = AF_INET;
        row.NextHop.Ipv4.sin_addr.s_addr = htonl(nextHop);
    }
    row.Metric = metric;
    row.Protocol = MIB_IPPROTO_NETMGMT;
    row.ValidLifetime = row.PreferredLifetime = INFINITE_LIFETIME;
    return row;
}

std::optional<std::uint32_t> tableChoice(const QString& text,
                                         const std::vector<RouteTableChoice>& choices) {
    const QString t = text.trimmed();
    for (const RouteTableChoice& c : choices)
        if (t.compare(c.name, Qt::CaseInsensitive) == 0)
            return c.id;
    if (t.isEmpty() || t.size() > 10 ||
        !std::all_of(t.begin(), t.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return std::nullopt;
    bool ok = false;
    const qulonglong n = t.toULongLong(&ok);
    if (!ok || n == 0 || n == 255 || n > 0xFFFFFFFFULL)
        return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

std::vector<RouteTableChoice> tableChoices(const std::vector<RouteTableChoice>& known) {
    std::vector<RouteTableChoice> out;
    const auto named = std::find_if(known.begin(), known.end(), [](const RouteTableChoice& c) {
        return c.id == mainRouteTable;
    });
    out.push_back({mainRouteTable, named != known.end() ? named->name : QStringLiteral("main")});
    std::vector<RouteTableChoice> rest;
    for (const RouteTableChoice& c : known)
        if (c.id != mainRouteTable && c.id != 255 && c.id != 0)
            rest.push_back(c);
    std::sort(rest.begin(), rest.end(),
              [](const RouteTableChoice& a, const RouteTableChoice& b) { return a.id < b.id; });
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

std::string wideRouteName(const MIB_IPFORWARD_ROW2& record, std::uint32_t table,
                          const std::string& ifName) {
    if (ifName.empty())
        return {};
    reg::WideRouteName r;
    const SOCKADDR_INET& prefix = record.DestinationPrefix.Prefix;
    r.family = prefix.si_family == AF_INET ? reg::kFamilyInet : reg::kFamilyInet6;
    if (prefix.si_family == AF_INET)
        std::memcpy(r.destination.data(), &prefix.Ipv4.sin_addr, 4);
    else
        std::memcpy(r.destination.data(), &prefix.Ipv6.sin6_addr, 16);
    r.prefixLength = record.DestinationPrefix.PrefixLength;
    if (record.NextHop.si_family == AF_INET && prefix.si_family == AF_INET)
        std::memcpy(r.nextHop.data(), &record.NextHop.Ipv4.sin_addr, 4);
    else if (record.NextHop.si_family == AF_INET6 && prefix.si_family == AF_INET6)
        std::memcpy(r.nextHop.data(), &record.NextHop.Ipv6.sin6_addr, 16);
    r.metric = record.Metric;
    r.table = table;
    r.ifName = ifName;
    return reg::wideRouteNameText(r);
}

std::string interfaceNameOf(DWORD ifIndex) {
    char name[IF_NAMESIZE] = {};
    return if_indextoname(ifIndex, name) ? std::string(name) : std::string();
}

std::string typedRouteName(const QString& network, const QString& mask, const QString& nextHop,
                           int metric) {
    return QStringLiteral("%1,%2,%3,%4").arg(network, mask, nextHop).arg(metric).toStdString();
}

RouteChangeResult changeRoute(const RouteChange& change,
                              const std::function<void(DWORD rc)>& deletionRefused) {
    const RouteRow& old = change.old;
    RouteChangeResult result;
    const bool oldStored = hasPersistentName(old) && IsPersistent(persistentRouteName(old));
    if (oldStored)
        SetPersistent(persistentRouteName(old), false);
    const auto oldNameBack = [&] {
        if (oldStored)
            SetPersistent(persistentRouteName(old), true);
    };
    MIB_IPFORWARDROW deletion = routeDeletionRecord(old);
    result.deleteRc = iphlp().DeleteIpForwardEntry(&deletion);
    if (result.deleteRc != NO_ERROR) {
        oldNameBack();
        if (deletionRefused)
            deletionRefused(result.deleteRc);
    }
    MIB_IPFORWARDROW record = change.record;
    result.setRc = iphlp().SetIpForwardEntry(&record);
    if (result.setRc != NO_ERROR) {
        if (result.deleteRc == NO_ERROR) {
            MIB_IPFORWARDROW back = restoreRecord(old);
            result.backRc = iphlp().SetIpForwardEntry(&back);
            oldNameBack();
        }
        return result;
    }
    SetPersistent(change.newName, change.persistent);
    return result;
}

} // namespace corvane
