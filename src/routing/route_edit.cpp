#include "routing/route_edit.h"

#include "platform/ifindex.h"
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
        if (r.inactive() || r.ifIndex != ifIndex)
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
        if (!r.inactive() && r.ifIndex == ifIndex && r.destination == 0)
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
    MIB_IPFORWARDROW record = newRouteRecord(
        row.destination, row.mask, row.nextHop, row.ifIndex,
        row.nextHop == 0 ? MIB_IPROUTE_TYPE_DIRECT : MIB_IPROUTE_TYPE_INDIRECT, row.metric);
    record.dwForwardProto = row.protocol;
    return record;
}

std::string typedRouteName(const QString& network, const QString& mask, const QString& nextHop,
                           int metric) {
    return QStringLiteral("%1,%2,%3,%4").arg(network, mask, nextHop).arg(metric).toStdString();
}

} // namespace corvane
