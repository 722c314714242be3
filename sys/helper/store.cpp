#include "store.h"

#include "corvane_result.h"
#include "netmgr/route_home.h"
#include "registry/location.h"
#include "registry/store.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

namespace corvane::helper {

std::filesystem::path storeFolder() {
    if (const char* dir = std::getenv(reg::kConfigDirVariable); dir && *dir == '/')
        return dir;
    return reg::kMachineFolder;
}

DWORD storePersistentRoutes(const std::filesystem::path& folder,
                            const std::vector<std::string>& names, bool persistent,
                            std::string& failure, std::vector<std::string>& placementFailures) {
    try {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        reg::Store store(folder / reg::kMachineStoreFile);
        const auto changes = [&](const reg::KeyData& key) {
            std::unordered_set<std::string> present;
            for (const auto& value : key.values)
                present.insert(value.first);
            return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
                return present.contains(n) != persistent;
            });
        };
        const auto current = store.snapshot();
        const reg::KeyData* key = current->findKey(reg::kPersistentRoutesKey);
        if (key && !changes(*key))
            return NO_ERROR;
        // Placed with the managers while the store is locked: two requests at once place and
        // record each route once.
        std::vector<sys::netmgr::Placed> placed;
        try {
            store.update([&](reg::Data& data) {
                sys::netmgr::changeStoredRoutes(data.makeKey(reg::kPersistentRoutesKey), names,
                                                persistent, placementFailures, &placed);
            });
        } catch (const reg::StoreError&) {
            // Not recorded, so not left with a manager either: nothing would take it out.
            sys::netmgr::takeBack(placed);
            throw;
        }
        return NO_ERROR;
    } catch (const reg::StoreError& error) {
        failure = error.what();
        return ERROR_CAN_NOT_COMPLETE;
    }
}

} // namespace corvane::helper
