// A listener on the IPv4 address group decides whether the last read still holds: every
// address added, removed or changed is announced there, including those that go with their
// link. A lost announcement (queue overflow) counts as a change.
#include "address_cache.h"

#include "netlink/read.h"
#include "netlink/socket.h"

#include <linux/rtnetlink.h>
#include <mutex>
#include <unistd.h>

namespace corvane::sys {
namespace {

class AddressCache {
public:
    int addresses(std::shared_ptr<const AddressList>& out) {
        const std::lock_guard lock(mutex_);
        if (owner_ != ::getpid()) {
            // A forked child shares the parent's socket: draining it would steal the
            // parent's announcements. Closing our copy leaves the parent's open.
            listener_.reset();
            list_.reset();
            owner_ = ::getpid();
        }
        if (!listener_ || heard()) {
            list_.reset();
            if (!listener_) {
                listener_ = std::make_unique<nl::Socket>(
                    NETLINK_ROUTE, std::vector<unsigned>{RTNLGRP_IPV4_IFADDR});
                if (!listener_->ok())
                    listener_.reset();
            }
        }
        if (list_) {
            ++stats_.reuses;
            out = list_;
            return 0;
        }
        ++stats_.reads;
        auto fresh = std::make_shared<AddressList>();
        if (const int e = nl::readAddresses(*fresh))
            return e;
        out = fresh;
        // Only a read that no announcement overtook may be handed out again; the listener
        // was open before it began.
        if (listener_ && !heard())
            list_ = std::move(fresh);
        return 0;
    }
    AddressCacheStats stats() {
        const std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    // Empties the queue: true when anything was announced or lost (the listener then goes).
    bool heard() {
        bool any = false;
        if (listener_->drain([&](const nlmsghdr*) { any = true; }) != 0) {
            listener_.reset();
            return true;
        }
        return any;
    }

    std::mutex mutex_;
    pid_t owner_ = 0;
    std::unique_ptr<nl::Socket> listener_;
    std::shared_ptr<const AddressList> list_; // null: nothing vouches for the last read
    AddressCacheStats stats_;
};

AddressCache& cache() {
    static auto* instance = new AddressCache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

int currentAddresses(std::shared_ptr<const AddressList>& out) {
    return cache().addresses(out);
}

AddressCacheStats addressCacheStats() {
    return cache().stats();
}

} // namespace corvane::sys
