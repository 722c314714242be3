// The interface table read from the platform as the Interfaces page's rows.
#pragma once

#include "interfaces/iftable_rows.h"

#include <optional>
#include <vector>

namespace corvane {

// Nothing when GetIfTable failed; the failure has been reported.
std::optional<std::vector<IfTableRow>> readInterfaceRows(bool ignoreLocalhost,
                                                         bool ignoreOperStatus);

} // namespace corvane
