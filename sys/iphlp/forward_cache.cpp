// One process-wide listener for route, address, link and next-hop object announcements
// decides whether the last rows still hold. Everything that changes a row is announced on
// those groups: routes the kernel removes without a word go with a link or an address
// change, or with a next hop object. A lost announcement (queue overflow) counts as a change.
#include "forward_cache.h"

#include "dual_rows.h"
#include "netlink/dual.h"
#include "netlink/listener.h"
#include "netlink/read.h"
#include "route_rows.h"

#include <algorithm>
#include <linux/rtnetlink.h>
#include <mutex>
#include <set>
#include <tuple>
#include <unordered_map>

namespace corvane::sys {
namespace {

// Reads the interfaces' addresses only when an on-link route names no source, which the
// kernel's own routes always do.
int resolveSources(ForwardRows& rows, const std::vector<size_t>& needSource) {
    if (needSource.empty())
        return 0;
    std::vector<nl::Address> addrs;
    if (const int e = nl::readAddresses(addrs))
        return e;
    const std::unordered_map<uint32_t, uint32_t> first = firstAddresses(addrs);
    fillSources(rows, needSource, [&](uint32_t ifIndex) {
        const auto it = first.find(ifIndex);
        return it == first.end() ? 0 : it->second;
    });
    return 0;
}

// Straight from one dump, keeping only the default routes whole, and the routes of other
// tables as Corvane's rows; others: the tables but main and local that hold routes.
int dumpedRows(ForwardRows& rows, std::vector<nl::Route>& defaults,
               std::vector<CORVANE_ROUTE_ROW>& beyondMain, std::set<uint32_t>& others) {
    rows.clear();
    defaults.clear();
    beyondMain.clear();
    others.clear();
    std::vector<size_t> needSource;
    nl::AnyRoute any;
    if (const int e = nl::dumpRouteMessages({}, [&](const nlmsghdr* m, const nl::Route& r) {
            appendForwardRows(r, rows, needSource);
            if (nl::isMainDefault(r))
                defaults.push_back(r);
            else if (r.table != RT_TABLE_MAIN && nl::decodeAnyRoute(m, any))
                appendRouteRows(any, beyondMain);
            if (r.table != RT_TABLE_MAIN && r.table != RT_TABLE_LOCAL)
                others.insert(r.table);
        }))
        return e;
    return resolveSources(rows, needSource);
}

// The other tables in the order a dump of every table hands them over: by the kernel's
// hash of their number, the local table last of its bucket.
std::vector<uint32_t> dumpOrder(const std::set<uint32_t>& others) {
    std::vector<uint32_t> order(others.begin(), others.end());
    order.push_back(RT_TABLE_LOCAL);
    std::sort(order.begin(), order.end(), [](uint32_t a, uint32_t b) {
        return std::tuple(a & 0xFF, a == RT_TABLE_LOCAL, a) <
               std::tuple(b & 0xFF, b == RT_TABLE_LOCAL, b);
    });
    return order;
}

// The same rows as dumpedRows, from the main table dumped by the kernel on a thread of its
// own while this one dumps the other tables one by one, then decodes it. Without policy rules the
// kernel keeps the local table inside the main table's trie, and a dump of every table walks that
// trie twice: the second walk, for a few hundred local routes, then runs beside the first. others:
// every table but main and local that may hold routes.
int splitRows(ForwardRows& rows, std::vector<nl::Route>& defaults,
              std::vector<CORVANE_ROUTE_ROW>& beyondMain, const std::set<uint32_t>& others) {
    rows.clear();
    defaults.clear();
    beyondMain.clear();
    std::vector<size_t> needSource;
    std::vector<MIB_IPFORWARDROW> local;
    std::vector<size_t> localNeedSource;
    int othersError = 0;
    const int mainError = nl::dumpTableMessages(
        RT_TABLE_MAIN,
        [&](const nlmsghdr*, const nl::Route& r) {
            appendForwardRows(r, rows, needSource);
            if (nl::isMainDefault(r))
                defaults.push_back(r);
        },
        [&] {
            nl::AnyRoute any;
            for (const uint32_t table : dumpOrder(others)) {
                othersError =
                    nl::dumpTableMessages(table, [&](const nlmsghdr* m, const nl::Route& r) {
                        appendForwardRows(r, local, localNeedSource);
                        if (nl::decodeAnyRoute(m, any))
                            appendRouteRows(any, beyondMain);
                    });
                if (othersError)
                    break;
            }
        });
    if (mainError || othersError)
        return mainError ? mainError : othersError;
    const size_t offset = rows.size();
    for (const MIB_IPFORWARDROW& row : local)
        rows.push_back(row);
    for (const size_t i : localNeedSource)
        needSource.push_back(offset + i);
    return resolveSources(rows, needSource);
}

// Through the reader that replays changes made while it dumps.
int replayedRows(ForwardRows& rows, std::vector<nl::Route>& defaults) {
    std::vector<nl::Route> routes;
    if (const int e = nl::readRoutes(routes))
        return e;
    rows.clear();
    defaults.clear();
    std::vector<size_t> needSource;
    for (const nl::Route& r : routes) {
        appendForwardRows(r, rows, needSource);
        if (nl::isMainDefault(r))
            defaults.push_back(r);
    }
    return resolveSources(rows, needSource);
}

// Storage a previous answer used, unless a caller still holds it.
template <typename T> void recycle(std::shared_ptr<T>& rows) {
    if (rows && rows.use_count() == 1)
        rows->clear();
    else
        rows = std::make_shared<T>();
}

class ForwardCache {
public:
    int rows(bool sorted, std::shared_ptr<const ForwardRows>& out,
             std::shared_ptr<const RowOrder>& order);
    int defaultRoutes(std::vector<nl::Route>& out);
    int beyondMain(std::vector<CORVANE_ROUTE_ROW>& out, bool& known);
    ForwardCacheStats stats() {
        const std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    // Brings the rows up to date: reused when nothing was heard, read again otherwise.
    int current();
    int read();
    // Asks the listener, noting the tables the announcements name.
    bool changed();

    std::mutex mutex_;
    // Asked at every call: whatever changed since then is queued there. The rows describe
    // the kernel as it stood at or after the last question.
    nl::ChangeListener listener_{{RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV4_ROUTE}, true};
    bool valid_ = false;       // kernelOrder_ holds the rows of the last read
    bool sortedValid_ = false; // order_ holds their sorted order
    // Kept, with their storage, between reads: a big table then costs no page faults. Sorted
    // only as positions, so that the table is held once.
    std::shared_ptr<ForwardRows> kernelOrder_;
    std::shared_ptr<RowOrder> order_;
    std::vector<nl::Route> defaults_; // of the same read
    std::vector<CORVANE_ROUTE_ROW> beyondMain_;
    bool beyondMainKnown_ = false; // beyondMain_ is of the last read
    // Every table but main and local that holds routes or held them since a dump of every
    // table: routes reach a table only announced, so while nothing announced was lost the
    // tables can be read one by one.
    std::set<uint32_t> others_;
    bool othersKnown_ = false;
    ForwardRowSorter sorter_;
    ForwardCacheStats stats_;
};

bool ForwardCache::changed() {
    bool complete = false;
    const bool any = listener_.changed(
        [this](const nlmsghdr* m) {
            if (const uint32_t table = nl::routeTableOf(m);
                table != 0 && table != RT_TABLE_MAIN && table != RT_TABLE_LOCAL)
                others_.insert(table);
        },
        complete);
    othersKnown_ = othersKnown_ && complete;
    return any;
}

int ForwardCache::read() {
    ++stats_.reads;
    valid_ = sortedValid_ = false;
    recycle(kernelOrder_);
    beyondMainKnown_ = false;
    if (listener_.listening()) {
        const bool split = othersKnown_;
        if (split) {
            ++stats_.splits;
            if (const int e = splitRows(*kernelOrder_, defaults_, beyondMain_, others_))
                return e;
        } else if (const int e = dumpedRows(*kernelOrder_, defaults_, beyondMain_, others_)) {
            return e;
        }
        beyondMainKnown_ = true;
        // The tables the dump saw; those that gain routes from now on are announced.
        othersKnown_ = true;
        if (!changed()) {
            valid_ = true;
            return 0;
        }
    }
    // Changes while dumping: the replaying reader gives a table that existed, no older than
    // the drain just made. Its routes are not kept as messages, so the other tables' rows
    // are not vouched for.
    beyondMainKnown_ = false;
    beyondMain_.clear();
    if (const int e = replayedRows(*kernelOrder_, defaults_))
        return e;
    valid_ = true;
    return 0;
}

int ForwardCache::current() {
    // Asked first, whatever is kept: the socket is then open before a read it vouches for.
    const bool any = changed();
    if (valid_ && !any) {
        ++stats_.reuses;
        return 0;
    }
    if (const int e = read())
        return e;
    // Without a listener nothing vouches for these rows later.
    valid_ = valid_ && listener_.listening();
    return 0;
}

int ForwardCache::rows(bool sorted, std::shared_ptr<const ForwardRows>& out,
                       std::shared_ptr<const RowOrder>& order) {
    const std::lock_guard lock(mutex_);
    if (const int e = current())
        return e;
    if (sorted && !sortedValid_) {
        recycle(order_);
        sorter_.order(*kernelOrder_, *order_);
        sortedValid_ = true;
    }
    out = kernelOrder_;
    if (sorted)
        order = order_;
    else
        order.reset();
    return 0;
}

int ForwardCache::defaultRoutes(std::vector<nl::Route>& out) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // Another thread is reading the whole table, which takes long on a big one: the
        // head of a dump of its own answers now, as fresh as that read.
        return nl::readMainDefaultRoutes(out);
    }
    if (const int e = current())
        return e;
    out = defaults_;
    return 0;
}

int ForwardCache::beyondMain(std::vector<CORVANE_ROUTE_ROW>& out, bool& known) {
    const std::lock_guard lock(mutex_);
    known = false;
    if (const int e = current())
        return e;
    if (beyondMainKnown_) {
        out = beyondMain_;
        known = true;
    }
    return 0;
}

ForwardCache& cache() {
    static auto* instance = new ForwardCache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

int currentForwardRows(bool sorted, std::shared_ptr<const ForwardRows>& out,
                       std::shared_ptr<const RowOrder>& order) {
    return cache().rows(sorted, out, order);
}

int currentDefaultRoutes(std::vector<nl::Route>& out) {
    return cache().defaultRoutes(out);
}

int currentRowsBeyondMain(std::vector<CORVANE_ROUTE_ROW>& out, bool& known) {
    return cache().beyondMain(out, known);
}

ForwardCacheStats forwardCacheStats() {
    return cache().stats();
}

} // namespace corvane::sys
