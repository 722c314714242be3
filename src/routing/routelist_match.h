// Which rows of the routing list a loaded route list names, for deletion by list.
#pragma once

#include "iphlpapi.h"
#include "routing/route_rows.h"
#include "routing/routelist.h"

#include <vector>

namespace corvane {

// The rows, in list order, whose Dst. Address and Dst. Mask texts are a listed network and
// mask exactly as written, whose interface is ifIndex and whose Metric, read as the signed
// number the column shows, is metric. Rows that exist only in the store never match. One
// pass over each list, whatever their lengths.
std::vector<int> rowsNamedByList(const std::vector<RouteRow>& rows,
                                 const std::vector<ListRoute>& listed, DWORD ifIndex, int metric);

} // namespace corvane
