#include "listener.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::sys::nl {

void ChangeListener::open() {
    socket_ = std::make_unique<Socket>(NETLINK_ROUTE, groups_);
    if (!socket_->ok()) {
        socket_.reset();
        return;
    }
    if (nexthops_) {
        // Older kernels have no such group, and then no next hop objects either.
        const int group = RTNLGRP_NEXTHOP;
        ::setsockopt(socket_->fd(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
    }
}

bool ChangeListener::changed() {
    bool complete = false;
    return changed({}, complete);
}

bool ChangeListener::changed(const MessageFn& each, bool& complete) {
    complete = false;
    if (owner_ != ::getpid()) {
        // A forked child shares the parent's socket: reading it would steal the parent's
        // announcements. Closing our copy leaves the parent's open.
        socket_.reset();
        owner_ = ::getpid();
    }
    if (socket_) {
        bool any = false;
        if (socket_->drain([&](const nlmsghdr* m) {
                any = true;
                if (each)
                    each(m);
            }) == 0) {
            complete = true;
            return any;
        }
        socket_.reset(); // overflowed: whatever was lost is unknown
    }
    open();
    return true;
}

} // namespace corvane::sys::nl
