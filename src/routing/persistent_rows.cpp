#include "routing/persistent_rows.h"

#include "platform/systemtext.h"

#include <algorithm>
#include <arpa/inet.h>
#include <net/if.h>
#include <unordered_set>

namespace corvane {
namespace {

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool mainOrLocal(std::uint32_t table) {
    return table == reg::kMainTable || table == reg::kLocalTable;
}

// The name without its interface: "family,prefix/length,next hop,metric,table,".
std::string routePart(reg::WideRouteName route) {
    route.ifName.clear();
    return wideRouteNameText(route);
}

std::string addressText(std::uint8_t family, const std::array<std::uint8_t, 16>& a) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(family == reg::kFamilyInet ? AF_INET : AF_INET6, a.data(), text, sizeof text);
    return text;
}

} // namespace

InterfaceNameOf systemInterfaceNames() {
    auto cache = std::make_shared<std::unordered_map<DWORD, std::string>>();
    return [cache](DWORD ifIndex) {
        const auto it = cache->find(ifIndex);
        if (it != cache->end())
            return it->second;
        char name[IF_NAMESIZE] = {};
        std::string found = if_indextoname(ifIndex, name) ? std::string(name) : std::string();
        cache->emplace(ifIndex, found);
        return found;
    };
}

bool hasWidePersistentName(const RouteRow& row) {
    const RouteRow::Wide w = row.wide();
    if (row.inactive() || row.kernelType != CORVANE_ROUTE_UNICAST)
        return false;
    if (w.family == reg::kFamilyInet6)
        return w.table != reg::kLocalTable && w.table != 0;
    return w.family == reg::kFamilyInet && w.table != 0 && !mainOrLocal(w.table);
}

std::optional<reg::WideRouteName> wideRouteOf(const RouteRow& row, const std::string& ifName) {
    if (!hasWidePersistentName(row))
        return std::nullopt;
    const RouteRow::Wide w = row.wide();
    reg::WideRouteName r;
    r.family = w.family;
    r.destination = w.destination;
    r.prefixLength = w.prefixLength;
    if (w.nextHopFamily == w.family)
        r.nextHop = w.nextHop;
    r.metric = row.metric;
    r.table = w.table;
    r.ifName = ifName;
    return r;
}

std::string widePersistentRouteName(const RouteRow& row, const InterfaceNameOf& nameOf) {
    if (row.inactive())
        return reg::looksWide(row.storedName()) ? row.storedName() : std::string();
    if (!hasWidePersistentName(row))
        return {};
    const std::string ifName = nameOf(row.ifIndex);
    if (ifName.empty())
        return {};
    return wideRouteNameText(*wideRouteOf(row, ifName));
}

WidePersistentNames::WidePersistentNames(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::optional<reg::WideRouteName> route = reg::readWideRouteName(name);
        if (!route)
            continue;
        byRoute_[lowered(routePart(*route))].push_back(lowered(route->ifName));
    }
}

bool WidePersistentNames::contains(const RouteRow& row, const InterfaceNameOf& nameOf) const {
    if (byRoute_.empty())
        return false;
    const std::optional<reg::WideRouteName> route = wideRouteOf(row, {});
    if (!route)
        return false;
    const auto it = byRoute_.find(routePart(*route));
    if (it == byRoute_.end())
        return false;
    const std::string ifName = lowered(nameOf(row.ifIndex));
    return !ifName.empty() &&
           std::find(it->second.begin(), it->second.end(), ifName) != it->second.end();
}

void markWidePersistent(std::vector<RouteRow>& rows, const WidePersistentNames& names,
                        const InterfaceNameOf& nameOf) {
    for (RouteRow& row : rows)
        if (hasWidePersistentName(row))
            row.persistent = names.contains(row, nameOf);
}

bool wideRouteListed(const reg::WideRouteName& route, RouteFilters filters) {
    if (route.family == reg::kFamilyInet6 && !filters.showIpv6)
        return false;
    return route.table == reg::kMainTable || filters.allTables;
}

std::vector<RouteRow> inactiveWidePersistentRows(const std::vector<RouteRow>& rows,
                                                 const std::vector<std::string>& names,
                                                 RouteFilters filters,
                                                 const InterfaceNameOf& nameOf) {
    std::vector<RouteRow> extra;
    if (names.empty())
        return extra;
    std::unordered_set<std::string> present; // lowered names of the rows listed
    const WidePersistentNames stored(names);
    for (const RouteRow& row : rows) {
        if (row.inactive()) {
            present.insert(lowered(row.storedName()));
        } else if (stored.contains(row, nameOf)) {
            present.insert(lowered(widePersistentRouteName(row, nameOf)));
        }
    }
    for (const std::string& name : names) {
        const std::optional<reg::WideRouteName> route = reg::readWideRouteName(name);
        if (!route || !wideRouteListed(*route, filters))
            continue;
        // The live row's name is the one text of its route; the stored one may be written
        // otherwise (upper case, leading zeros) and still be the same route.
        if (present.count(lowered(name)) != 0 || present.count(lowered(wideRouteNameText(*route))))
            continue;
        RouteRow row;
        row.tag = routeTagInactive;
        row.storeOnly = true;
        row.persistent = true;
        row.table = route->table;
        row.setStored(
            {
                systemText(addressText(route->family, route->destination)),
                QStringLiteral("/%1").arg(route->prefixLength),
                systemText(addressText(route->family, route->nextHop)),
                QString::number(route->metric),
            },
            name);
        present.insert(lowered(name));
        extra.push_back(std::move(row));
    }
    return extra;
}

} // namespace corvane
