// The persistent-route values of the machine-wide store, as the helper writes them.
#pragma once

#include "corvane_types.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::helper {

// The store folder: CORVANE_CONFIG_DIR of the helper's own environment (set by whoever
// starts it, never by a caller), else the machine folder.
std::filesystem::path storeFolder();

// Adds the names the key lacks (in the order given) or removes those it has, in one locked
// write; no write when nothing would change. Each route added is also put where the manager
// of its interface keeps routes, each removed taken out of there (netmgr/route_home.h).
// NO_ERROR or ERROR_CAN_NOT_COMPLETE with failure saying why; what a manager refused is in
// placementFailures (printable), the store written all the same. Names to store have been
// checked (namesToStore).
DWORD storePersistentRoutes(const std::filesystem::path& folder,
                            const std::vector<std::string>& names, bool persistent,
                            std::string& failure, std::vector<std::string>& placementFailures);

} // namespace corvane::helper
