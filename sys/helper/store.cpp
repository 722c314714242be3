#include "store.h"

#include "corvane_result.h"
#include "netmgr/route_home.h"
#include "registry/location.h"
#include "registry/route_name2.h"
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

namespace {

// Whether adding (or removing) the names would change the key; a key that is missing holds none.
bool changes(const reg::KeyData* key, const std::vector<std::string>& names, bool persistent) {
    std::unordered_set<std::string> present;
    if (key)
        for (const auto& value : key->values)
            present.insert(value.first);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return present.contains(n) != persistent; });
}

} // namespace

DWORD storePersistentRoutes(const std::filesystem::path& folder,
                            const std::vector<std::string>& names, bool persistent,
                            std::string& failure, std::vector<std::string>& placementFailures) {
    try {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        reg::Store store(folder / reg::kMachineStoreFile);
        std::vector<std::string> first;
        std::vector<std::string> wide;
        reg::splitRouteNamesByKey(names, first, wide);
        const auto current = store.snapshot();
        const reg::KeyData* firstKey = current->findKey(reg::kPersistentRoutesKey);
        const reg::KeyData* wideKey = current->findKey(reg::kPersistentRoutes2Key);
        // The first key is there afterwards, as it always was; the second only once it is used.
        const bool firstChanges = !firstKey || changes(firstKey, first, persistent);
        const bool wideChanges = !wide.empty() && changes(wideKey, wide, persistent);
        if (!firstChanges && !wideChanges)
            return NO_ERROR;
        // Placed with the managers while the store is locked: two requests at once place and
        // record each route once.
        std::vector<sys::netmgr::Placed> placed;
        try {
            store.update([&](reg::Data& data) {
                if (firstChanges)
                    sys::netmgr::changeStoredRoutes(data.makeKey(reg::kPersistentRoutesKey), first,
                                                    persistent, placementFailures, &placed);
                if (wideChanges)
                    reg::changeWideRouteNames(data.makeKey(reg::kPersistentRoutes2Key), wide,
                                              persistent);
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
