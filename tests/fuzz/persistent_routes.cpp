// The value names of the persistent route store, one a line: read back as routes, matched
// against live rows, and shown as rows of their own.
#include "fuzz_support.h"
#include "registry/route_name.h"
#include "registry/route_name2.h"
#include "routing/persistent_rows.h"
#include "routing/route_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

corvane::RouteRow liveRow(const corvane::PersistentRoute& r) {
    corvane::RouteRow row;
    row.destination = r.destination;
    row.mask = r.mask;
    row.nextHop = r.nextHop;
    row.metric = r.metric;
    return row;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using namespace corvane;
        std::vector<std::string> names;
        std::vector<RouteRow> live;
        for (const std::string_view line : fuzz::lines(fuzz::text(data, size), 64)) {
            std::string name(line);
            if (const std::optional<PersistentRoute> route = parsePersistentRouteName(name)) {
                // The name a live row of these numbers bears reads back as the same numbers.
                const RouteRow row = liveRow(*route);
                const std::optional<PersistentRoute> again =
                    parsePersistentRouteName(persistentRouteName(row));
                FUZZ_CHECK(again && again->destination == route->destination &&
                           again->mask == route->mask && again->nextHop == route->nextHop &&
                           again->metric == route->metric);
                live.push_back(row);
            }
            if (liveRouteKey(name))
                FUZZ_CHECK(persistentRouteName(live.back()) == name);
            // What the store keeps of a name is the name its route's row bears.
            if (const reg::StorableName kept = reg::storableRouteName(name);
                kept.fault == reg::RouteNameFault::None)
                FUZZ_CHECK(liveRouteKey(kept.name).has_value());
            names.push_back(std::move(name));
        }
        // The second key's names: the one text of a route reads back as that route, is the
        // name its live row bears, and marks that row.
        std::vector<RouteRow> wideLive;
        const InterfaceNameOf nameOf = [](DWORD index) {
            return index == 7 ? std::string("dv0") : std::string();
        };
        for (const std::string& name : names) {
            const reg::StorableWideName kept = reg::storableWideRouteName(name);
            if (kept.fault != reg::WideRouteFault::None)
                continue;
            const std::optional<reg::WideRouteName> route = reg::readWideRouteName(kept.name);
            FUZZ_CHECK(route && reg::wideRouteNameText(*route) == kept.name);
            RouteRow row;
            row.kernelType = CORVANE_ROUTE_UNICAST;
            row.ifIndex = 7;
            row.metric = route->metric;
            row.fromKernelTable = true;
            row.table = route->table;
            row.prefixLength = route->prefixLength;
            row.nextHopFamily = route->onLink() ? 0 : route->family;
            row.nextHop6 = route->nextHop;
            row.family = route->family;
            if (row.ipv6()) {
                row.destination6 = route->destination;
            } else {
                std::uint32_t network = 0;
                std::memcpy(&network, route->destination.data(), sizeof network);
                row.destination = ntohl(network);
            }
            if (route->ifName == "dv0") {
                FUZZ_CHECK(widePersistentRouteName(row, nameOf) == kept.name);
                FUZZ_CHECK(WidePersistentNames({kept.name}).contains(row, nameOf));
                wideLive.push_back(row);
            }
        }
        for (const RouteFilters f : {RouteFilters{}, RouteFilters{false, false, true, true}}) {
            const std::vector<RouteRow> wideExtra =
                inactiveWidePersistentRows(wideLive, names, f, nameOf);
            FUZZ_CHECK(wideExtra.size() <= names.size());
            for (const RouteRow& row : wideExtra)
                FUZZ_CHECK(row.inactive() && row.storedFields().size() == 4 &&
                           std::find(names.begin(), names.end(), row.storedName()) != names.end());
        }
        const PersistentNames stored(names);
        for (const std::string& name : names)
            FUZZ_CHECK(stored.contains(name));
        const std::vector<RouteRow> extra = inactivePersistentRows(live, names);
        FUZZ_CHECK(extra.size() <= names.size());
        // A store-only row is deleted by its name: it must be one of the stored ones.
        for (const RouteRow& row : extra)
            FUZZ_CHECK(row.inactive() && row.storedFields().size() == 4 &&
                       std::find(names.begin(), names.end(), persistentRouteName(row)) !=
                           names.end());
    });
}
