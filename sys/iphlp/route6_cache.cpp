// One process-wide listener for IPv6 route, IPv6 address, link and next hop object
// announcements decides whether the last read still holds; a lost announcement counts as a
// change. A read is also never older than kMaxAge: the bound keeps a mistaken reuse short.
#include "route6_cache.h"

#include "dual_rows.h"
#include "netlink/dual.h"
#include "netlink/listener.h"

#include <algorithm>
#include <chrono>
#include <linux/rtnetlink.h>
#include <mutex>

namespace corvane::sys {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMaxAge = std::chrono::seconds(2);

class Route6Cache {
public:
    int visit(const std::function<void(const std::vector<CORVANE_ROUTE_ROW>&, ULONG)>& use);
    Route6CacheStats stats() {
        const std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    int current();
    int read();

    std::mutex mutex_;
    nl::ChangeListener listener_{{RTNLGRP_LINK, RTNLGRP_IPV6_IFADDR, RTNLGRP_IPV6_ROUTE}, true};
    bool valid_ = false;
    Clock::time_point readAt_;
    std::vector<CORVANE_ROUTE_ROW> rows_;
    Route6CacheStats stats_;
};

int Route6Cache::read() {
    ++stats_.reads;
    valid_ = false;
    rows_.clear();
    if (const int e = nl::dumpAnyRoutes(
            AF_INET6, 0, [this] { rows_.clear(); },
            [this](const nl::AnyRoute& r) { appendRouteRows(r, rows_); }))
        return e;
    readAt_ = Clock::now();
    // Announced while dumping: this read answers once and is not kept.
    valid_ = !listener_.changed();
    return 0;
}

int Route6Cache::current() {
    // Asked first, whatever is kept: the socket is then open before a read.
    const bool changed = listener_.changed();
    if (valid_ && !changed && Clock::now() - readAt_ < kMaxAge) {
        ++stats_.reuses;
        return 0;
    }
    return read();
}

int Route6Cache::visit(
    const std::function<void(const std::vector<CORVANE_ROUTE_ROW>&, ULONG)>& use) {
    const std::lock_guard lock(mutex_);
    if (const int e = current())
        return e;
    use(rows_,
        static_cast<ULONG>(
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - readAt_).count()));
    return 0;
}

Route6Cache& cache() {
    static auto* instance = new Route6Cache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

int visitRoutes6(
    const std::function<void(const std::vector<CORVANE_ROUTE_ROW>& rows, ULONG elapsed)>& use) {
    return cache().visit(use);
}

void ageRow(CORVANE_ROUTE_ROW& row, ULONG elapsedSeconds) {
    if (row.Route.Immortal || elapsedSeconds == 0)
        return;
    // An expiry already passed still counts as one second, as the kernel says it.
    const ULONG valid = row.Route.ValidLifetime;
    row.Route.ValidLifetime = row.Route.PreferredLifetime =
        valid > elapsedSeconds ? valid - elapsedSeconds : 1;
}

int appendRoutes6(std::vector<CORVANE_ROUTE_ROW>& rows,
                  const std::function<bool(uint32_t table)>& keep) {
    return visitRoutes6([&](const std::vector<CORVANE_ROUTE_ROW>& all, ULONG elapsed) {
        // Counted first: a table grown by doubling would hold up to twice its rows meanwhile.
        rows.reserve(rows.size() + static_cast<size_t>(std::count_if(
                                       all.begin(), all.end(),
                                       [&keep](const auto& r) { return keep(r.Table); })));
        for (const CORVANE_ROUTE_ROW& r : all)
            if (keep(r.Table))
                ageRow(rows.emplace_back(r), elapsed);
    });
}

Route6CacheStats route6CacheStats() {
    return cache().stats();
}

} // namespace corvane::sys
