#include "routing/route_rows.h"

#include "platform/ifindex.h"
#include "platform/systemtext.h"
#include "registry/route_name.h"
#include "values/csv.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <charconv>
#include <cstring>
#include <tuple>
#include <unordered_map>

namespace corvane {
namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Dotted decimal straight into Latin-1: a big table formats three of these a row.
QString quadText(std::uint32_t value) {
    char text[16];
    return QString::fromLatin1(text, reg::writeQuad(text, value) - text);
}

void appendQuad(QString& out, std::uint32_t value) {
    char text[16];
    out += QLatin1StringView(text, reg::writeQuad(text, value) - text);
}

std::uint32_t classfulMask(std::uint32_t address) {
    if (address >= 0x00000001U && address <= 0x7EFFFFFFU)
        return 0xFF000000U;
    if (address >= 0x80000000U && address <= 0xBFFFFFFFU)
        return 0xFFFF0000U;
    return 0xFFFFFF00U;
}

bool isDefault(const RouteRow& row) {
    return !row.inactive() && !row.ipv6() && row.destination == 0 && row.mask == 0;
}

QString address6Text(const std::array<std::uint8_t, 16>& address) {
    char buf[INET6_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET6, address.data(), buf, sizeof buf);
    return QString::fromLatin1(buf);
}

QString nextHopText(const RouteRow& row) {
    if (row.nextHopFamily == familyIpv4) {
        std::uint32_t v4 = 0;
        std::memcpy(&v4, row.nextHop6.data(), sizeof v4);
        return quadText(ntohl(v4));
    }
    return address6Text(row.nextHop6); // "::" on-link
}

bool isMainOrLocal(std::uint32_t table) {
    return table == CORVANE_TABLE_MAIN || table == CORVANE_TABLE_LOCAL;
}

// Where a row stands after the forward table's IPv4 rows: the IPv4 rows of other tables,
// then the IPv6 rows, each family's main and local rows before other tables'.
std::tuple<int, std::uint32_t> groupOf(const RouteRow& row) {
    return {row.ipv6() ? 1 : 0, isMainOrLocal(row.table) ? 0 : row.table};
}

// As the forward table sorts its rows: destination, mask, metric, next hop, interface.
bool kernelRowBefore(const RouteRow& a, const RouteRow& b) {
    const auto ga = groupOf(a), gb = groupOf(b);
    if (ga != gb)
        return ga < gb;
    if (a.ipv6()) {
        if (const int c = std::memcmp(a.destination6.data(), b.destination6.data(), 16); c != 0)
            return c < 0;
        if (a.prefixLength != b.prefixLength)
            return a.prefixLength < b.prefixLength;
        if (a.metric != b.metric)
            return a.metric < b.metric;
        if (const int c = std::memcmp(a.nextHop6.data(), b.nextHop6.data(), 16); c != 0)
            return c < 0;
        return a.ifIndex < b.ifIndex;
    }
    return std::tie(a.destination, a.mask, a.metric, a.nextHop, a.ifIndex) <
           std::tie(b.destination, b.mask, b.metric, b.nextHop, b.ifIndex);
}

std::uint32_t maskOf(std::uint8_t prefixLength) {
    return prefixLength == 0 ? 0 : 0xFFFFFFFFU << (32 - std::min<unsigned>(prefixLength, 32));
}

struct ForwardKey {
    std::uint32_t destination, mask, ifIndex, metric;
    bool operator==(const ForwardKey&) const = default;
};
struct ForwardKeyHash {
    std::size_t operator()(const ForwardKey& k) const {
        const std::uint64_t a = (std::uint64_t{k.destination} << 32) | k.mask;
        const std::uint64_t b = (std::uint64_t{k.ifIndex} << 32) | k.metric;
        return std::hash<std::uint64_t>{}(a * 0x9E3779B97F4A7C15ULL ^ b);
    }
};

RouteKey keyOf(const RouteRow& row) {
    return {row.destination, row.mask, row.nextHop, row.metric};
}

std::string liveRouteName(const RouteKey& key) {
    return reg::routeNameText({key.destination, key.mask, key.nextHop, key.metric});
}

} // namespace

RouteRow::Wide RouteRow::wide() const {
    Wide w;
    if (!fromKernelTable)
        return w;
    w.table = table;
    w.prefixLength = prefixLength;
    w.nextHopFamily = nextHopFamily;
    w.nextHop = nextHop6;
    if (ipv6()) {
        w.family = AF_INET6;
        w.destination = destination6;
    } else {
        w.family = AF_INET;
        const std::uint32_t network = htonl(destination);
        std::memcpy(w.destination.data(), &network, sizeof network);
    }
    return w;
}

const QStringList& RouteRow::storedFields() const {
    static const QStringList none;
    return stored ? stored->fields : none;
}

const std::string& RouteRow::storedName() const {
    static const std::string none;
    return stored ? stored->name : none;
}

void RouteRow::setStored(QStringList fields, std::string name) {
    stored = std::make_shared<const Stored>(Stored{std::move(fields), std::move(name)});
}

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
            return row.storedFields().value(0);
        case fwcol::Mask:
            return row.storedFields().value(1);
        case fwcol::NextHop:
            return row.storedFields().value(2);
        case fwcol::Index:
            return QStringLiteral("n.a.");
        case fwcol::Metric:
            return row.storedFields().value(3);
        case fwcol::Persistent:
            return QStringLiteral("yes");
        case fwcol::Protocol:
            return QStringLiteral("n.a.");
        default:
            return {};
        }
    }
    if (row.ipv6()) {
        switch (column) {
        case fwcol::Destination:
            return address6Text(row.destination6);
        case fwcol::Mask:
            return QStringLiteral("/%1").arg(row.prefixLength);
        case fwcol::NextHop:
            return nextHopText(row);
        default:
            break; // the rest as for IPv4
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
    case fwcol::Table:
        return row.table == routeTableMerged ? QString() : QString::number(row.table);
    default:
        return {};
    }
}

void appendRouteCellText(QString& out, const RouteRow& row, int column) {
    if (!row.inactive() && !row.ipv6()) {
        switch (column) {
        case fwcol::Destination:
            return appendQuad(out, row.destination);
        case fwcol::Mask:
            return appendQuad(out, row.mask);
        case fwcol::NextHop:
            return appendQuad(out, row.nextHop);
        case fwcol::Index: {
            // As interfaceIndexText writes it, without its three temporary strings.
            char text[16] = "0x";
            char* end = std::to_chars(text + 2, text + sizeof text, row.ifIndex, 16).ptr;
            std::transform(text + 2, end, text + 2, [](char c) {
                return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
            });
            out += QLatin1StringView(text, end - text);
            return;
        }
        case fwcol::Metric: {
            char text[16];
            const auto end =
                std::to_chars(text, text + sizeof text, static_cast<std::int32_t>(row.metric)).ptr;
            out += QLatin1StringView(text, end - text);
            return;
        }
        case fwcol::Persistent:
            if (row.persistent)
                out += QLatin1StringView("yes");
            return;
        default:
            break;
        }
    }
    out += routeCellText(row, column);
}

std::string persistentRouteName(const RouteRow& row) {
    // Rebuilt from its four columns, a name of three or five fields would name nothing stored.
    if (row.inactive())
        return row.storedName();
    return liveRouteName(keyOf(row));
}

bool hasPersistentName(const RouteRow& row) {
    // Stored names are IPv4 routes of the main table.
    return row.inactive() || (!row.fromKernelTable && row.nextHop != 0);
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
                        RouteFilters filters, std::size_t extraRows,
                        const std::function<void(std::size_t bytes)>& doneWith) {
    constexpr std::size_t kTold = 4096; // rows between two reports to doneWith
    RouteFill fill;
    const std::size_t header = offsetof(MIB_IPFORWARDTABLE, table);
    if (bufferSize < header)
        return fill;
    const std::size_t room = (bufferSize - header) / sizeof(MIB_IPFORWARDROW);
    const std::size_t count = std::min<std::size_t>(table.dwNumEntries, room);
    fill.rows.reserve(count + extraRows);
    for (std::size_t i = 0; i < count; ++i) {
        if (doneWith && i % kTold == 0 && i != 0)
            doneWith(header + i * sizeof(MIB_IPFORWARDROW));
        const MIB_IPFORWARDROW& r = table.table[i];
        if (filters.ignoreLocalhost && r.dwForwardIfIndex == 1)
            continue;
        const std::uint32_t destination = ntohl(r.dwForwardDest);
        if (filters.ignoreBroadcasts && isBroadcastRoute(destination))
            continue;
        RouteRow& row = fill.rows.emplace_back(); // made in place: a copy is a second pass
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
    }
    if (doneWith)
        doneWith(header + count * sizeof(MIB_IPFORWARDROW));
    return fill;
}

RouteRow kernelRouteRow(const CORVANE_ROUTE_ROW& route) {
    const MIB_IPFORWARD_ROW2& r = route.Route;
    RouteRow row;
    row.ifIndex = r.InterfaceIndex;
    row.metric = r.Metric;
    row.protocol = r.Protocol;
    row.table = route.Table;
    row.kernelType = route.Type;
    row.kernelProtocol = route.KernelProtocol;
    row.tos = route.Tos;
    row.scope = route.Scope;
    row.prefixLength = r.DestinationPrefix.PrefixLength;
    row.nextHopFamily = 0;
    if (r.NextHop.si_family == AF_INET && r.NextHop.Ipv4.sin_addr.s_addr != 0) {
        row.nextHopFamily = familyIpv4;
        std::memcpy(row.nextHop6.data(), &r.NextHop.Ipv4.sin_addr, 4);
    } else if (r.NextHop.si_family == AF_INET6 &&
               !IN6_IS_ADDR_UNSPECIFIED(&r.NextHop.Ipv6.sin6_addr)) {
        row.nextHopFamily = familyIpv6;
        std::memcpy(row.nextHop6.data(), &r.NextHop.Ipv6.sin6_addr, 16);
        row.nextHopZone = r.NextHop.Ipv6.sin6_scope_id;
    }
    // What the route changes read: every row of a kernel table is a "wide" one.
    row.fromKernelTable = true;
    if (r.DestinationPrefix.Prefix.si_family == AF_INET6) {
        row.family = familyIpv6;
        row.prefixLength = std::min<std::uint8_t>(row.prefixLength, 128);
        std::memcpy(row.destination6.data(), &r.DestinationPrefix.Prefix.Ipv6.sin6_addr, 16);
        const bool isDefaultRoute = row.prefixLength == 0;
        row.tag = routeTag(isDefaultRoute ? 0 : 1, 0, row.protocol);
        return row;
    }
    row.destination = ntohl(r.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr);
    row.mask = maskOf(row.prefixLength);
    // As the forward table shows it: an IPv6 gateway is no IPv4 next hop.
    if (row.nextHopFamily == familyIpv4)
        row.nextHop = ntohl(r.NextHop.Ipv4.sin_addr.s_addr);
    row.type =
        row.nextHopFamily == familyIpv4 ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    row.tag = routeTag(row.destination, row.mask, row.protocol);
    return row;
}

bool filteredOut(const RouteRow& row, RouteFilters filters) {
    if (filters.ignoreLocalhost) {
        if (row.ifIndex == 1)
            return true;
        if (row.ipv6() && row.prefixLength == 128 &&
            IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr*>(row.destination6.data())))
            return true;
    }
    if (filters.ignoreBroadcasts) {
        if (!row.ipv6())
            return isBroadcastRoute(row.destination);
        return row.destination6[0] == 0xFF || row.kernelType == CORVANE_ROUTE_MULTICAST ||
               row.kernelType == CORVANE_ROUTE_ANYCAST;
    }
    return false;
}

namespace {

// Whether appendKernelRows lists a row of the kernel's tables (before the filters).
bool listedKernelRow(const CORVANE_ROUTE_ROW& r, RouteFilters filters) {
    const ADDRESS_FAMILY family = r.Route.DestinationPrefix.Prefix.si_family;
    if (family == AF_INET) // the forward table lists main and local already
        return filters.allTables && !isMainOrLocal(r.Table);
    if (family == AF_INET6)
        return filters.showIpv6 && (filters.allTables || isMainOrLocal(r.Table));
    return false;
}

} // namespace

std::size_t kernelRowRoom(const CORVANE_ROUTE_ROW* routes, std::size_t count,
                          RouteFilters filters) {
    if (!routes || (!filters.showIpv6 && !filters.allTables))
        return 0;
    return static_cast<std::size_t>(std::count_if(
        routes, routes + count, [filters](const auto& r) { return listedKernelRow(r, filters); }));
}

void appendKernelRows(const CORVANE_ROUTE_ROW* routes, std::size_t count, RouteFilters filters,
                      std::vector<RouteRow>& rows) {
    if (!routes || (!filters.showIpv6 && !filters.allTables))
        return;
    const std::size_t start = rows.size();
    // Counted first: a table of a hundred thousand rows that grows by a few would otherwise
    // be copied whole into one of twice its size.
    rows.reserve(start + kernelRowRoom(routes, count, filters));
    for (std::size_t i = 0; i < count; ++i) {
        const CORVANE_ROUTE_ROW& r = routes[i];
        if (!listedKernelRow(r, filters))
            continue;
        RouteRow row = kernelRouteRow(r);
        if (!filteredOut(row, filters))
            rows.push_back(std::move(row));
    }
    // The kernel hands each table over in address order: a few sorted runs, merged in turn
    // into what comes before them; many are sorted.
    const auto first = rows.begin() + static_cast<std::ptrdiff_t>(start);
    auto sorted = std::is_sorted_until(first, rows.end(), kernelRowBefore);
    for (int runs = 1; sorted != rows.end(); ++runs) {
        if (runs == 8) {
            std::stable_sort(first, rows.end(), kernelRowBefore);
            return;
        }
        const auto next = std::is_sorted_until(sorted, rows.end(), kernelRowBefore);
        std::inplace_merge(first, sorted, next, kernelRowBefore);
        sorted = next;
    }
}

namespace {

ForwardKey forwardKeyOf(const CORVANE_ROUTE_ROW& r) {
    return {ntohl(r.Route.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr),
            maskOf(r.Route.DestinationPrefix.PrefixLength), r.Route.InterfaceIndex, r.Route.Metric};
}

// A row of the forward table whose kernel table is still to be told.
bool tableUntold(const RouteRow& row) {
    return !row.inactive() && !row.ipv6() && row.table == routeTableMerged;
}

} // namespace

void assignForwardTables(std::vector<RouteRow>& rows, const CORVANE_ROUTE_ROW* routes,
                         std::size_t count, bool mainListed) {
    if (!routes)
        return;
    if (mainListed) {
        std::unordered_map<ForwardKey, std::uint32_t, ForwardKeyHash> tableOf;
        tableOf.reserve(rows.size());
        for (std::size_t i = 0; i < count; ++i) {
            const CORVANE_ROUTE_ROW& r = routes[i];
            if (r.Route.DestinationPrefix.Prefix.si_family != AF_INET || !isMainOrLocal(r.Table))
                continue;
            const auto [it, added] = tableOf.emplace(forwardKeyOf(r), r.Table);
            if (!added && it->second != r.Table)
                it->second = routeTableMerged; // in both: no telling which
        }
        for (RouteRow& row : rows) {
            if (!tableUntold(row))
                continue;
            const auto it = tableOf.find({row.destination, row.mask, row.ifIndex, row.metric});
            if (it != tableOf.end())
                row.table = it->second;
        }
        return;
    }
    // Only the local table is listed: a row it does not hold is the main table's, and a key
    // with more rows than the local table has is in both.
    struct Seen {
        std::uint32_t local = 0, rows = 0;
    };
    std::unordered_map<ForwardKey, Seen, ForwardKeyHash> localOf;
    for (std::size_t i = 0; i < count; ++i) {
        const CORVANE_ROUTE_ROW& r = routes[i];
        if (r.Route.DestinationPrefix.Prefix.si_family == AF_INET && r.Table == CORVANE_TABLE_LOCAL)
            ++localOf[forwardKeyOf(r)].local;
    }
    for (const RouteRow& row : rows)
        if (tableUntold(row))
            if (const auto it = localOf.find({row.destination, row.mask, row.ifIndex, row.metric});
                it != localOf.end())
                ++it->second.rows;
    for (RouteRow& row : rows) {
        if (!tableUntold(row))
            continue;
        const auto it = localOf.find({row.destination, row.mask, row.ifIndex, row.metric});
        if (it == localOf.end())
            row.table = CORVANE_TABLE_MAIN;
        else if (it->second.rows <= it->second.local)
            row.table = CORVANE_TABLE_LOCAL;
    }
}

MIB_IPFORWARD_ROW2 routeRecord2(const RouteRow& row) {
    MIB_IPFORWARD_ROW2 r{};
    r.InterfaceIndex = row.ifIndex;
    r.InterfaceLuid.Info.NetLuidIndex = row.ifIndex & 0xFFFFFFU;
    r.Metric = row.metric;
    r.Protocol = row.protocol;
    r.DestinationPrefix.PrefixLength = row.prefixLength;
    if (row.ipv6()) {
        r.DestinationPrefix.Prefix.Ipv6.sin6_family = AF_INET6;
        std::memcpy(&r.DestinationPrefix.Prefix.Ipv6.sin6_addr, row.destination6.data(), 16);
    } else {
        r.DestinationPrefix.Prefix.Ipv4.sin_family = AF_INET;
        r.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr = htonl(row.destination);
        // A row of the forward table has its mask, not a length.
        if (row.table == routeTableMerged)
            r.DestinationPrefix.PrefixLength = static_cast<UINT8>(__builtin_popcount(row.mask));
    }
    if (row.nextHopFamily == familyIpv6) {
        r.NextHop.Ipv6.sin6_family = AF_INET6;
        std::memcpy(&r.NextHop.Ipv6.sin6_addr, row.nextHop6.data(), 16);
        r.NextHop.Ipv6.sin6_scope_id = row.nextHopZone;
    } else if (row.nextHopFamily == familyIpv4) {
        r.NextHop.Ipv4.sin_family = AF_INET;
        std::memcpy(&r.NextHop.Ipv4.sin_addr, row.nextHop6.data(), 4);
    } else if (row.ipv6()) {
        r.NextHop.Ipv6.sin6_family = AF_INET6;
    } else {
        r.NextHop.Ipv4.sin_family = AF_INET;
        r.NextHop.Ipv4.sin_addr.s_addr = htonl(row.nextHop);
    }
    return r;
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
    // The store's names are IPv4 routes of the main table.
    for (RouteRow& row : rows)
        if (!row.inactive())
            row.persistent = !row.ipv6() &&
                             (row.table == routeTableMerged || isMainOrLocal(row.table)) &&
                             names.contains(row);
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
        QStringList texts;
        for (int f = 1; f <= 4; ++f)
            texts.append(systemText(fields.field(f)));
        row.setStored(std::move(texts), name);
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
           a.tag == b.tag && a.storeOnly == b.storeOnly && a.storedName() == b.storedName() &&
           a.family == b.family && a.table == b.table && a.prefixLength == b.prefixLength &&
           a.destination6 == b.destination6 && a.nextHopFamily == b.nextHopFamily &&
           a.nextHop6 == b.nextHop6 && a.kernelType == b.kernelType && a.tos == b.tos &&
           a.fromKernelTable == b.fromKernelTable;
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
    // This record names an IPv4 route of the main table. For any other route it would name a
    // different one (an IPv6 row reads as 0.0.0.0/0), so it names none: the platform refuses
    // interface 0 and the deletion fails as it should.
    if (row.ipv6() || (row.table != routeTableMerged && !isMainOrLocal(row.table)))
        return record;
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
