// One process-wide link listener decides whether the sysfs facts read before still hold: any
// link announcement (a link added, removed, renamed, its carrier or state changed) or a lost
// one empties the cache.
#include "interfaces.h"
#include "netlink/socket.h"
#include "roots.h"

#include <linux/rtnetlink.h>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

namespace corvane::sys {
namespace {

// Far more links than a host has; a cache that outgrows it starts again.
constexpr size_t kMaxKept = 4096;

class SysfsCache {
public:
    SysfsInfo get(const std::string& ifName) {
        const std::lock_guard lock(mutex_);
        if (owner_ != ::getpid()) {
            // A forked child shares the parent's socket: reading it would steal the parent's
            // announcements. Closing our copy leaves the parent's open.
            listener_.reset();
            kept_.clear();
            owner_ = ::getpid();
        }
        if (!listener_ || !hearNothing()) {
            kept_.clear();
            if (!listener_)
                open();
        }
        // Keyed by the whole path: the sysfs root may be another one for tests.
        const std::string key = sysfsRoot() + '\n' + ifName;
        if (const auto it = kept_.find(key); it != kept_.end())
            return it->second;
        SysfsInfo info = readSysfsNow(ifName);
        if (listener_) {
            if (kept_.size() >= kMaxKept)
                kept_.clear();
            kept_.emplace(key, info);
        }
        return info;
    }

private:
    void open() {
        listener_ =
            std::make_unique<nl::Socket>(NETLINK_ROUTE, std::vector<unsigned>{RTNLGRP_LINK});
        if (!listener_->ok())
            listener_.reset();
    }
    // Empties the queue; false when something was announced or announcements were lost.
    bool hearNothing() {
        bool heard = false;
        if (listener_->drain([&](const nlmsghdr*) { heard = true; }) != 0) {
            listener_.reset(); // overflowed: opened afresh on the way out
            return false;
        }
        return !heard;
    }

    std::mutex mutex_;
    pid_t owner_ = 0;
    std::unique_ptr<nl::Socket> listener_;
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
