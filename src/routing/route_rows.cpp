#include "routing/route_rows.h"

#include "platform/ifindex.h"
#include "platform/systemtext.h"
#include "registry/route_name.h"
#include "values/csv.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>

namespace corvane {
namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

QString quadText(std::uint32_t value) {
    return QString::fromStdString(format_quad(value));
}

std::uint32_t classfulMask(std::uint32_t address) {
    if (address >= 0x00000001U && address <= 0x7EFFFFFFU)
        return 0xFF000000U;
    if (address >= 0x80000000U && address <= 0xBFFFFFFFU)
        return 0xFFFF0000U;
    return 0xFFFFFF00U;
}

bool isDefault(const RouteRow& row) {
    return !row.inactive() && row.destination == 0 && row.mask == 0;
}

RouteKey keyOf(const RouteRow& row) {
    return {row.destination, row.mask, row.nextHop, row.metric};
}

std::string liveRouteName(const RouteKey& key) {
    return reg::routeNameText({key.destination, key.mask, key.nextHop, key.metric});
}

} // namespace

QString protocolName(DWORD protocol) {
    switch (protocol) {
    case 2:
        return QStringLiteral("PROTO_IP_LOCAL");
    case 3:
        return QStringLiteral("PROTO_IP_NETMGMT");
    case 4:
        return QStringLiteral("PROTO_IP_ICMP");
    case 5:
        return QStringLiteral("PROTO_IP_EGP");
    case 7:
        return QStringLiteral("PROTO_IP_HELLO");
    case 8:
        return QStringLiteral("PROTO_IP_RIP");
    case 13:
        return QStringLiteral("PROTO_IP_OSPF");
    case 14:
        return QStringLiteral("PROTO_IP_BGP");
    case 9999:
        return QStringLiteral("PROTO_IP_BOOTP");
    case 10002:
        return QStringLiteral("PROTO_IP_NT_AUTOSTATIC");
    case 10006:
        return QStringLiteral("PROTO_IP_NT_STATIC");
    case 10007:
        return QStringLiteral("PROTO_IP_NT_STATIC_NON_DOD");
    default:
        return QStringLiteral("PROTO_IP_OTHER");
    }
}

int routeTag(std::uint32_t destination, std::uint32_t mask, DWORD protocol) {
    // Protocol numbers above the tag bits would pose as other tags; they show as "other".
    const int proto = protocol <= 0xFFFF ? static_cast<int>(protocol) : 1;
    if (destination == 0 && mask == 0)
        return proto | routeTagDefaultBit;
    return proto;
}

bool isBroadcastRoute(std::uint32_t destination) {
    const std::uint32_t last = destination | ~classfulMask(destination);
    return destination == last || destination == 0xFFFFFFFFU;
}

QString routeCellText(const RouteRow& row, int column) {
    if (row.inactive()) {
        switch (column) {
        case fwcol::Destination:
            return row.storedFields.value(0);
        case fwcol::Mask:
            return row.storedFields.value(1);
        case fwcol::NextHop:
            return row.storedFields.value(2);
        case fwcol::Index:
            return QStringLiteral("n.a.");
        case fwcol::Metric:
            return row.storedFields.value(3);
        case fwcol::Persistent:
            return QStringLiteral("yes");
        case fwcol::Protocol:
            return QStringLiteral("n.a.");
        default:
            return {};
        }
    }
    switch (column) {
    case fwcol::Destination:
        return quadText(row.destination);
    case fwcol::Mask:
        return quadText(row.mask);
    case fwcol::NextHop:
        return quadText(row.nextHop);
    case fwcol::Index:
        return interfaceIndexText(row.ifIndex);
    case fwcol::Metric:
        return QString::number(static_cast<std::int32_t>(row.metric));
    case fwcol::Persistent:
        return row.persistent ? QStringLiteral("yes") : QString();
    case fwcol::Protocol:
        return protocolName(row.protocol);
    default:
        return {};
    }
}

std::string persistentRouteName(const RouteRow& row) {
    // Rebuilt from its four columns, a name of three or five fields would name nothing stored.
    if (row.inactive())
        return row.storedName;
    return liveRouteName(keyOf(row));
}

bool hasPersistentName(const RouteRow& row) {
    // Stored names are IPv4 routes of the main table.
    return row.inactive() || (row.wide.family == 0 && row.nextHop != 0);
}

std::size_t RouteKeyHash::operator()(const RouteKey& k) const {
    const std::uint64_t a = (std::uint64_t{k.destination} << 32) | k.mask;
    const std::uint64_t b = (std::uint64_t{k.nextHop} << 32) | k.metric;
    return std::hash<std::uint64_t>{}(a * 0x9E3779B97F4A7C15ULL ^ b);
}

std::optional<RouteKey> liveRouteKey(const std::string& name) {
    const std::optional<PersistentRoute> route = parsePersistentRouteName(name);
    if (!route)
        return std::nullopt;
    const RouteKey key{route->destination, route->mask, route->nextHop, route->metric};
    if (!restorableRoute(*route) || liveRouteName(key) != name)
        return std::nullopt;
    return key;
}

RouteFill makeRouteRows(const MIB_IPFORWARDTABLE& table, std::size_t bufferSize,
                        RouteFilters filters) {
    RouteFill fill;
    const std::size_t header = offsetof(MIB_IPFORWARDTABLE, table);
    if (bufferSize < header)
        return fill;
    const std::size_t room = (bufferSize - header) / sizeof(MIB_IPFORWARDROW);
    const std::size_t count = std::min<std::size_t>(table.dwNumEntries, room);
    fill.rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const MIB_IPFORWARDROW& r = table.table[i];
        if (filters.ignoreLocalhost && r.dwForwardIfIndex == 1)
            continue;
        const std::uint32_t destination = ntohl(r.dwForwardDest);
        if (filters.ignoreBroadcasts && isBroadcastRoute(destination))
            continue;
        RouteRow row;
        row.destination = destination;
        row.mask = ntohl(r.dwForwardMask);
        row.nextHop = ntohl(r.dwForwardNextHop);
        row.ifIndex = r.dwForwardIfIndex;
        row.metric = r.dwForwardMetric1;
        row.protocol = r.dwForwardProto;
        row.type = r.dwForwardType;
        row.tag = routeTag(row.destination, row.mask, row.protocol);
        if ((row.tag & routeTagDefaultBit) == 0 && row.tag != routeTagLocal)
            fill.delListEnabled = true;
        fill.rows.push_back(std::move(row));
    }
    return fill;
}

int activeDefaultRoute(const std::vector<RouteRow>& rows) {
    int best = -1;
    std::int32_t bestMetric = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!isDefault(rows[i]))
            continue;
        const auto metric = static_cast<std::int32_t>(rows[i].metric);
        if (best < 0 || metric < bestMetric) {
            best = static_cast<int>(i);
            bestMetric = metric;
        }
    }
    return best;
}

PersistentNames::PersistentNames(const std::vector<std::string>& names) {
    lowered_.reserve(names.size());
    for (const std::string& name : names) {
        std::string low = lowered(name);
        // A live row's name has no letters, so lowering it changes nothing: the lowered
        // stored name is its name exactly when it is the key's own text.
        if (const std::optional<RouteKey> key = liveRouteKey(low))
            live_.insert(*key);
        lowered_.insert(std::move(low));
    }
}

bool PersistentNames::contains(const std::string& name) const {
    return !lowered_.empty() && lowered_.count(lowered(name)) != 0;
}

bool PersistentNames::contains(const RouteRow& row) const {
    if (row.inactive())
        return contains(persistentRouteName(row));
    return !live_.empty() && live_.count(keyOf(row)) != 0;
}

void markPersistent(std::vector<RouteRow>& rows, const PersistentNames& names) {
    for (RouteRow& row : rows)
        if (!row.inactive())
            row.persistent = names.contains(row);
}

std::vector<RouteRow> inactivePersistentRows(const std::vector<RouteRow>& rows,
                                             const std::vector<std::string>& names) {
    if (names.empty())
        return {};
    // Compared with exact texts. Live rows are matched by number, through the one text each
    // key has, so that a big table needs no names built.
    std::unordered_set<RouteKey, RouteKeyHash> wanted;
    for (const std::string& name : names)
        if (const std::optional<RouteKey> key = liveRouteKey(name))
            wanted.insert(*key);
    std::unordered_set<RouteKey, RouteKeyHash> live;
    std::unordered_set<std::string> present;
    for (const RouteRow& row : rows) {
        if (row.inactive())
            present.insert(persistentRouteName(row));
        else if (wanted.count(keyOf(row)) != 0)
            live.insert(keyOf(row));
    }
    std::vector<RouteRow> extra;
    for (const std::string& name : names) {
        if (present.count(name) != 0)
            continue;
        if (const std::optional<RouteKey> key = liveRouteKey(name); key && live.count(*key) != 0)
            continue;
        const Csv fields(name, ',');
        RouteRow row;
        row.tag = routeTagInactive;
        row.storeOnly = true;
        row.persistent = true;
        for (int f = 1; f <= 4; ++f)
            row.storedFields.append(systemText(fields.field(f)));
        row.storedName = name;
        extra.push_back(std::move(row));
    }
    return extra;
}

quint32 routeTextColour(const RouteRow& row) {
    if (row.storeOnly)
        return 0xffc0c0c0; // silver
    switch (row.tag) {
    case routeTagLocal:
        return 0xffff0000;
    case 3 | routeTagDefaultBit:
        return 0xff0000ff;
    default:
        return 0xff000000;
    }
}

bool sameRoute(const RouteRow& a, const RouteRow& b) {
    return a.destination == b.destination && a.mask == b.mask && a.nextHop == b.nextHop &&
           a.ifIndex == b.ifIndex && a.metric == b.metric && a.protocol == b.protocol &&
           a.tag == b.tag && a.storeOnly == b.storeOnly && a.storedName == b.storedName &&
           a.wide == b.wide;
}

QString deleteRouteQuestion(int selectedCount, const RouteRow& first) {
    if (selectedCount == 1)
        return QStringLiteral("Delete routing entry for %1 mask %2 via %3?")
            .arg(routeCellText(first, fwcol::Destination), routeCellText(first, fwcol::Mask),
                 routeCellText(first, fwcol::NextHop));
    return QStringLiteral("Delete %1 selected routing entries?").arg(selectedCount);
}

MIB_IPFORWARDROW routeDeletionRecord(const RouteRow& row) {
    MIB_IPFORWARDROW record{};
    record.dwForwardDest = htonl(row.destination);
    record.dwForwardMask = htonl(row.mask);
    record.dwForwardNextHop = htonl(row.nextHop);
    record.dwForwardIfIndex = row.ifIndex;
    record.dwForwardMetric1 = row.metric;
    return record;
}

std::optional<PersistentRoute> parsePersistentRouteName(const std::string& name) {
    const std::optional<reg::RouteName> route = reg::readRouteName(name);
    if (!route)
        return std::nullopt;
    return PersistentRoute{route->destination, route->mask, route->nextHop, route->metric};
}

bool restorableRoute(const PersistentRoute& route) {
    return route.nextHop != 0;
}

} // namespace corvane
