// One process-wide link listener decides whether the sysfs facts read before still hold: any
// link announcement (a link added, removed, renamed, its carrier or state changed) or a lost
// one empties the cache.
#include "interfaces.h"
#include "netlink/listener.h"
#include "roots.h"

#include <linux/rtnetlink.h>
#include <mutex>
#include <unordered_map>

namespace corvane::sys {
namespace {

// Far more links than a host has; a cache that outgrows it starts again.
constexpr size_t kMaxKept = 4096;

class SysfsCache {
public:
    SysfsInfo get(const std::string& ifName) {
        const std::lock_guard lock(mutex_);
        if (listener_.changed())
            kept_.clear();
        // Keyed by the whole path: the sysfs root may be another one for tests.
        const std::string key = sysfsRoot() + '\n' + ifName;
        if (const auto it = kept_.find(key); it != kept_.end())
            return it->second;
        SysfsInfo info = readSysfsNow(ifName);
        if (listener_.listening()) {
            if (kept_.size() >= kMaxKept)
                kept_.clear();
            kept_.emplace(key, info);
        }
        return info;
    }

private:
    std::mutex mutex_;
    nl::ChangeListener listener_{{RTNLGRP_LINK}};
    std::unordered_map<std::string, SysfsInfo> kept_;
};

SysfsCache& cache() {
    static auto* instance = new SysfsCache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

SysfsInfo readSysfs(const std::string& ifName) {
    return cache().get(ifName);
}

} // namespace corvane::sys
