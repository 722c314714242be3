#include "platform/routetables.h"

#include <cstring>

namespace corvane {

void RouteTableNames::load(IpHelper& table) {
    names_.clear();
    CORVANE_TABLE_NAME_TABLE* t = nullptr;
    if (!table.CorvaneGetRouteTableNames || !table.FreeMibTable ||
        table.CorvaneGetRouteTableNames(&t) != NO_ERROR || !t)
        return;
    for (ULONG i = 0; i < t->NumEntries; ++i) {
        const CORVANE_TABLE_NAME_ROW& row = t->Table[i];
        // The library terminates the names; a foreign one might not.
        names_.emplace(row.Id, std::string(row.Name, strnlen(row.Name, sizeof row.Name)));
    }
    table.FreeMibTable(t);
}

std::string RouteTableNames::name(uint32_t table) const {
    const auto it = names_.find(table);
    return it == names_.end() ? std::to_string(table) : it->second;
}

} // namespace corvane

namespace corvane {

std::vector<uint32_t> RouteTableNames::ids() const {
    std::vector<uint32_t> out;
    out.reserve(names_.size());
    for (const auto& entry : names_)
        out.push_back(entry.first);
    return out;
}

} // namespace corvane
