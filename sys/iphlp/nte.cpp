#include "nte.h"

#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace corvane::sys {
namespace {

struct Registry {
    std::mutex lock;
    std::map<std::tuple<uint32_t, uint32_t, uint8_t>, uint32_t> byKey;
    std::vector<NteKey> byContext; // context n lives at n - 1
};

Registry& registry() {
    static Registry r; // one per process, built on first use
    return r;
}

} // namespace

uint32_t nteContext(const NteKey& key) {
    Registry& r = registry();
    const std::lock_guard guard(r.lock);
    const auto [it, inserted] =
        r.byKey.try_emplace(std::make_tuple(key.ifIndex, key.address, key.prefixLength), 0);
    if (inserted) {
        r.byContext.push_back(key);
        it->second = static_cast<uint32_t>(r.byContext.size());
    }
    return it->second;
}

std::optional<NteKey> nteLookup(uint32_t context) {
    Registry& r = registry();
    const std::lock_guard guard(r.lock);
    if (context == 0 || context > r.byContext.size())
        return std::nullopt;
    return r.byContext[context - 1];
}

} // namespace corvane::sys
