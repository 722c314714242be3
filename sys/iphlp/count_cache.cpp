// The process-wide counts: one event socket, joined before the full reads it completes, and
// drained at every call. The first call costs the full reads; later ones a non-blocking
// read of an empty queue, unless something changed.
#include "change_counts.h"
#include "forward_cache.h"
#include "netlink/read.h"
#include "netlink/socket.h"

#include <algorithm>
#include <cerrno>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::sys {
namespace {

// Room for thousands of announcements between two calls; a larger burst overflows the
// queue, which the kernel reports (ENOBUFS) and which costs one full re-read.
constexpr int kEventQueueBytes = 4 << 20;

void tune(int fd) {
    // Beyond the system's limit only with CAP_NET_ADMIN; otherwise as far as the limit.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kEventQueueBytes, sizeof kEventQueueBytes))
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kEventQueueBytes, sizeof kEventQueueBytes);
    // Removing a next hop object removes its routes unannounced; its own announcement is
    // the sign. Older kernels have no such group, which is no loss there.
    const int group = RTNLGRP_NEXTHOP;
    ::setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
}

nl::DumpStatus dumpInto(CountModel& model, uint16_t type, uint8_t family, size_t headerSize) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return {sock.openError(), false};
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = type;
    // Every rtnetlink request header starts with its address family.
    *static_cast<uint8_t*>(mnl_nlmsg_put_extra_header(nlh, headerSize)) = family;
    return sock.dump(nlh, [&](const nlmsghdr* m) { model.apply(m, CountModel::Source::Dump); });
}

// The counts from one reading that keeps nothing: the links and addresses, which are few,
// through a model of their own; the route rows are the forward table's, which a report has
// read already.
int readCountsOnce(ChangeCounts& out) {
    for (int attempt = 0;; ++attempt) {
        CountModel model;
        bool interrupted = false;
        for (const auto& [type, size] : {std::pair{RTM_GETLINK, sizeof(ifinfomsg)},
                                         std::pair{RTM_GETADDR, sizeof(ifaddrmsg)}}) {
            const nl::DumpStatus st =
                dumpInto(model, type, type == RTM_GETLINK ? AF_UNSPEC : AF_INET, size);
            if (st.error)
                return st.error;
            interrupted = interrupted || st.interrupted;
        }
        if (interrupted && attempt < nl::kMaxRereads)
            continue;
        std::shared_ptr<const ForwardRows> rows;
        std::shared_ptr<const RowOrder> order;
        if (const int e = currentForwardRows(false, rows, order))
            return e;
        out = model.counts();
        out.routeRows = static_cast<uint32_t>(std::min<size_t>(rows->size(), UINT32_MAX));
        return 0;
    }
}

class CountCache {
public:
    int current(ChangeCounts& out);
    // As current, except that a process without the kept model reads once without building
    // it the first time it asks: a report asks once. Asked again, it builds the model.
    int once(ChangeCounts& out) {
        {
            const std::lock_guard lock(mutex_);
            const pid_t self = ::getpid();
            if (owner_ == self || askedOnce_ == self)
                return updateAndCount(out);
            askedOnce_ = self;
        }
        return readCountsOnce(out);
    }
    int routesTo(uint32_t destination, uint8_t prefixLength, std::vector<nl::Route>& out,
                 bool& known);
    CountCacheStats stats() {
        const std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    // Brings model_ up to date with the kernel as far as announcements allow.
    int update();
    int updateAndCount(ChangeCounts& out); // with mutex_ held
    int rebuild();
    int rereadRoutes();
    int drain() {
        return events_->drain(
            [&](const nlmsghdr* m) { model_.apply(m, CountModel::Source::Event); });
    }

    std::mutex mutex_;
    std::unique_ptr<nl::Socket> events_;
    pid_t owner_ = 0;
    pid_t askedOnce_ = 0; // the process that has had its one reading without the model
    bool valid_ = false;  // model_ plus the queue of events_ describe the kernel
    CountModel model_;
    CountCacheStats stats_;
};

int CountCache::rebuild() {
    for (int attempt = 0; attempt <= nl::kMaxRereads; ++attempt) {
        valid_ = false;
        owner_ = ::getpid();
        events_ = std::make_unique<nl::Socket>(
            NETLINK_ROUTE, std::vector<unsigned>{RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR,
                                                 RTNLGRP_IPV4_ROUTE, RTNLGRP_IPV6_ROUTE});
        if (events_->ok())
            tune(events_->fd());
        else
            events_.reset();
        model_.clear();
        bool interrupted = false;
        for (const auto& [type, size] :
             {std::pair{RTM_GETLINK, sizeof(ifinfomsg)}, std::pair{RTM_GETADDR, sizeof(ifaddrmsg)},
              std::pair{RTM_GETROUTE, sizeof(rtmsg)}}) {
            const uint8_t family = type == RTM_GETLINK ? AF_UNSPEC : AF_INET;
            const nl::DumpStatus st = dumpInto(model_, type, family, size);
            if (st.error)
                return st.error;
            // A dump that the kernel marks as changing may have skipped records that did not
            // change, which no announcement brings back.
            interrupted = interrupted || st.interrupted;
        }
        if (interrupted && attempt < nl::kMaxRereads)
            continue;
        ++stats_.rebuilds;
        if (!events_)
            return 0; // no announcements to be had: every call reads everything
        if (drain() == 0) {
            valid_ = true;
            return 0;
        }
    }
    return 0; // still overflowing: these counts for now, another full read next time
}

int CountCache::rereadRoutes() {
    ++stats_.routeRereads;
    model_.clearRoutes();
    model_.noteReread();
    // Everything announced so far is applied, so the replay after the dump starts from it.
    const nl::DumpStatus st = dumpInto(model_, RTM_GETROUTE, AF_INET, sizeof(rtmsg));
    if (st.error) {
        valid_ = false;
        return st.error;
    }
    if (drain() != 0)
        valid_ = false;
    return 0;
}

int CountCache::update() {
    if (owner_ != ::getpid()) {
        // A forked child shares the parent's socket: reading it would steal the parent's
        // announcements. Closing our copy leaves the parent's open.
        events_.reset();
        valid_ = false;
    }
    for (int attempt = 0; attempt <= nl::kMaxRereads; ++attempt) {
        if (!valid_) {
            if (const int e = rebuild())
                return e;
            if (!valid_)
                break; // no announcements, or more than the queue holds: these counts for now
        } else if (drain() != 0) {
            valid_ = false; // announcements were lost: read everything again
            continue;
        }
        if (!model_.takeRouteRereadNeed())
            break;
        if (const int e = rereadRoutes())
            return e;
    }
    return 0;
}

int CountCache::current(ChangeCounts& out) {
    const std::lock_guard lock(mutex_);
    return updateAndCount(out);
}

int CountCache::updateAndCount(ChangeCounts& out) {
    if (const int e = update())
        return e;
    out = model_.counts();
    return 0;
}

int CountCache::routesTo(uint32_t destination, uint8_t prefixLength, std::vector<nl::Route>& out,
                         bool& known) {
    const std::lock_guard lock(mutex_);
    known = false;
    if (const int e = update())
        return e;
    if (!valid_)
        return 0;
    out = model_.routesTo(destination, prefixLength);
    known = true;
    return 0;
}

CountCache& cache() {
    static auto* instance = new CountCache; // never destroyed: callers may outlive statics
    return *instance;
}

} // namespace

int currentCounts(ChangeCounts& out) {
    return cache().current(out);
}

int countsOnce(ChangeCounts& out) {
    return cache().once(out);
}

int currentRoutesTo(uint32_t destination, uint8_t prefixLength, std::vector<nl::Route>& out,
                    bool& known) {
    return cache().routesTo(destination, prefixLength, out, known);
}

CountCacheStats countCacheStats() {
    return cache().stats();
}

} // namespace corvane::sys
