// The Routes page's rows and the persistent routes of the second key (IPv6 routes, routes of
// tables other than main; registry/route_name2.h): which live rows are stored, the name a
// row is stored under, and rows for stored routes the kernel does not hold. No widgets.
#pragma once

#include "registry/route_name2.h"
#include "routing/route_rows.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane {

// The name of an interface by its index; empty when none has it.
using InterfaceNameOf = std::function<std::string(DWORD ifIndex)>;
// if_indextoname, each index asked once per lookup that uses it.
InterfaceNameOf systemInterfaceNames();

// Whether a row is one the second key stores: a unicast route of a kernel table, IPv6 in any
// table but local, IPv4 in a table other than main and local.
bool hasWidePersistentName(const RouteRow& row);
// Its route as the second key names it; nothing for any other row.
std::optional<reg::WideRouteName> wideRouteOf(const RouteRow& row, const std::string& ifName);
// The name a row is stored under (for a store-only row the name as stored); empty when it has
// none, or its interface no name.
std::string widePersistentRouteName(const RouteRow& row, const InterfaceNameOf& nameOf);

// The second key's names, looked up without regard to letter case as the store compares them.
class WidePersistentNames {
public:
    WidePersistentNames() = default;
    explicit WidePersistentNames(const std::vector<std::string>& names);
    bool empty() const { return byRoute_.empty(); }
    // Whether a live row's route is stored; the interface's name is asked only for a row
    // whose other fields match a stored name.
    bool contains(const RouteRow& row, const InterfaceNameOf& nameOf) const;

private:
    // The lowered name without its interface, and the lowered interface names it is stored
    // with.
    std::unordered_map<std::string, std::vector<std::string>> byRoute_;
};

// Marks the rows hasWidePersistentName takes; others are left as they are.
void markWidePersistent(std::vector<RouteRow>& rows, const WidePersistentNames& names,
                        const InterfaceNameOf& nameOf);

// Whether the list shows routes of this family and table at all: IPv6 with showIpv6, any
// table but main only with allTables.
bool wideRouteListed(const reg::WideRouteName& route, RouteFilters filters);
// One store-only row per stored name of a route the list would show (wideRouteListed) that no
// live row bears, in store order. Destination, "/length", next hop and metric as its texts,
// the table kept; a name that does not read as a route is left out.
std::vector<RouteRow> inactiveWidePersistentRows(const std::vector<RouteRow>& rows,
                                                 const std::vector<std::string>& names,
                                                 RouteFilters filters,
                                                 const InterfaceNameOf& nameOf);

} // namespace corvane
