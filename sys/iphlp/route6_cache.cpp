// One process-wide listener for IPv6 route, IPv6 address, link and next hop object
// announcements decides whether the last read still holds; a lost announcement counts as a
// change. A read is also never older than kMaxAge: the bound keeps a mistaken reuse short.
#include "route6_cache.h"

#include "dual_rows.h"
#include "netlink/dual.h"
#include "netlink/socket.h"

#include <chrono>
#include <linux/rtnetlink.h>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::sys {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMaxAge = std::chrono::seconds(2);

class Route6Cache {
public:
    int append(std::vector<CORVANE_ROUTE_ROW>& rows, const std::function<bool(uint32_t)>& keep);
    Route6CacheStats stats() {
        const std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    int current();
    int read();
    void listen();
    bool heardNothing(); // drains; false when anything came, or was lost

    std::mutex mutex_;
    pid_t owner_ = 0;
    std::unique_ptr<nl::Socket> listener_;
    bool valid_ = false;
    Clock::time_point readAt_;
    std::vector<CORVANE_ROUTE_ROW> rows_;
    Route6CacheStats stats_;
};

void Route6Cache::listen() {
    listener_ = std::make_unique<nl::Socket>(
        NETLINK_ROUTE,
        std::vector<unsigned>{RTNLGRP_LINK, RTNLGRP_IPV6_IFADDR, RTNLGRP_IPV6_ROUTE});
    if (!listener_->ok()) {
        listener_.reset();
        return;
    }
    // Older kernels have no such group, and then no next hop objects either.
    const int group = RTNLGRP_NEXTHOP;
    ::setsockopt(listener_->fd(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
}

bool Route6Cache::heardNothing() {
    if (!listener_)
        return false;
    bool any = false;
    if (listener_->drain([&](const nlmsghdr*) { any = true; }) != 0) {
        listener_.reset();
        return false;
    }
    return !any;
}

int Route6Cache::read() {
    ++stats_.reads;
    valid_ = false;
    rows_.clear();
    if (!listener_)
        listen();
    if (const int e = nl::dumpAnyRoutes(
            AF_INET6, 0, [this] { rows_.clear(); },
            [this](const nl::AnyRoute& r) { appendRouteRows(r, rows_); }))
        return e;
    readAt_ = Clock::now();
    // Announced while dumping: this read answers once and is not kept.
    valid_ = heardNothing();
    return 0;
}

int Route6Cache::current() {
    if (owner_ != ::getpid()) {
        // A forked child shares the parent's socket: draining it would steal the parent's
        // announcements. Closing our copy leaves the parent's open.
        listener_.reset();
        valid_ = false;
        owner_ = ::getpid();
    }
    if (valid_ && heardNothing() && Clock::now() - readAt_ < kMaxAge) {
        ++stats_.reuses;
        return 0;
    }
    return read();
}

int Route6Cache::append(std::vector<CORVANE_ROUTE_ROW>& rows,
                        const std::function<bool(uint32_t)>& keep) {
    const std::lock_guard lock(mutex_);
    if (const int e = current())
        return e;
    const auto elapsed = static_cast<ULONG>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - readAt_).count());
    for (const CORVANE_ROUTE_ROW& r : rows_) {
        if (!keep(r.Table))
            continue;
        CORVANE_ROUTE_ROW& row = rows.emplace_back(r);
        if (!row.Route.Immortal && elapsed > 0) {
            // An expiry already passed still counts as one second, as the kernel says it.
            const ULONG left =
                row.Route.ValidLifetime > elapsed ? row.Route.ValidLifetime - elapsed : 1;
            row.Route.ValidLifetime = row.Route.PreferredLifetime = left;
        }
    }
    return 0;
}

Route6Cache& cache() {
    static auto* instance = new Route6Cache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

int appendRoutes6(std::vector<CORVANE_ROUTE_ROW>& rows,
                  const std::function<bool(uint32_t table)>& keep) {
    return cache().append(rows, keep);
}

Route6CacheStats route6CacheStats() {
    return cache().stats();
}

} // namespace corvane::sys
