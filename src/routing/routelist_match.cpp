#include "routing/routelist_match.h"

#include <QLatin1Char>
#include <cstdint>
#include <unordered_set>

namespace corvane {

std::vector<int> rowsNamedByList(const std::vector<RouteRow>& rows,
                                 const std::vector<ListRoute>& listed, DWORD ifIndex, int metric) {
    std::unordered_set<QString> names;
    names.reserve(listed.size());
    for (const ListRoute& r : listed)
        names.insert(r.network + QLatin1Char(' ') + r.mask);
    std::vector<int> out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const RouteRow& row = rows[r];
        // 4294967295 shows as "-1", and "-1" is what matches it.
        if (row.inactive() || row.ifIndex != ifIndex ||
            static_cast<std::int32_t>(row.metric) != metric)
            continue;
        if (names.count(routeCellText(row, fwcol::Destination) + QLatin1Char(' ') +
                        routeCellText(row, fwcol::Mask)))
            out.push_back(static_cast<int>(r));
    }
    return out;
}

} // namespace corvane
