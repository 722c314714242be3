#include "routing/route_edit.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/systemtext.h"
#include "routing/persistentroutes.h"
#include "values/ip.h"

#include <arpa/inet.h>

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
