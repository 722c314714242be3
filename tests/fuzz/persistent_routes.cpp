// The value names of the persistent route store, one a line: read back as routes, matched
// against live rows, and shown as rows of their own.
#include "fuzz_support.h"
#include "registry/route_name.h"
#include "routing/route_rows.h"

#include <algorithm>
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
