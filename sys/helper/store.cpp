#include "store.h"

#include "corvane_result.h"
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
                            std::string& failure) {
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
        store.update([&](reg::Data& data) {
            reg::KeyData& k = data.makeKey(reg::kPersistentRoutesKey);
            std::unordered_set<std::string> present;
            for (const auto& value : k.values)
                present.insert(value.first);
            if (persistent) {
                for (const std::string& n : names)
                    if (present.insert(n).second)
                        k.values.emplace_back(n, reg::Value::ofString({}));
            } else {
                const std::unordered_set<std::string> gone(names.begin(), names.end());
                std::erase_if(k.values, [&](const auto& v) { return gone.contains(v.first); });
            }
        });
        return NO_ERROR;
    } catch (const reg::StoreError& error) {
        failure = error.what();
        return ERROR_CAN_NOT_COMPLETE;
    }
}

} // namespace corvane::helper
