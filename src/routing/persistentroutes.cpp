#include "routing/persistentroutes.h"

#include "routing/route_rows.h"
#include "shell/machinestore.h"

namespace corvane {

const char* const persistentRoutesKey =
    R"(SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\PersistentRoutes)";

std::vector<std::string> ReadPersistentRouteNames(std::string* failure) {
    std::vector<std::string> names;
    try {
        // One snapshot: the store file is read once, however many names it holds.
        const auto data = machineStore().snapshot();
        if (const reg::KeyData* key = data->findKey(persistentRoutesKey)) {
            names.reserve(key->values.size());
            for (const auto& value : key->values)
                names.push_back(value.first);
        }
    } catch (const reg::StoreError& error) {
        names.clear();
        if (failure)
            *failure = error.what();
    }
    return names;
}

bool IsPersistent(const std::string& name) {
    const std::optional<reg::Key> key = machineStore().open(persistentRoutesKey, false);
    return key && key->valueExists(name);
}

bool SetPersistent(const std::string& name, bool persistent) {
    if (persistent) {
        const std::optional<PersistentRoute> route = parsePersistentRouteName(name);
        if (!route || !restorableRoute(*route))
            return false;
    }
    try {
        std::optional<reg::Key> key = machineStore().open(persistentRoutesKey, true);
        if (!key)
            return false;
        if (persistent) {
            if (!key->valueExists(name))
                key->writeString(name, "");
        } else {
            key->deleteValue(name);
        }
        return true;
    } catch (const reg::StoreError& error) {
        // The route itself has changed; a store left behind would bring it back at start-up.
        reportStoreError(error);
        return false;
    }
}

} // namespace corvane
