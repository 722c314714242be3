// Whether anything was announced on some rtnetlink groups since the last question: what the
// caches that keep a read while nothing changes ask before handing it out again.
#pragma once

#include "socket.h"

#include <memory>
#include <sys/types.h>
#include <vector>

namespace corvane::sys::nl {

class ChangeListener {
public:
    // nexthops: next hop objects' group too, where the kernel has it (their removal takes
    // routes with it unannounced).
    explicit ChangeListener(std::vector<unsigned> groups, bool nexthops = false)
        : groups_(std::move(groups)), nexthops_(nexthops) {}

    // Empties the queue. True when what was read before cannot be vouched for: something was
    // announced, announcements were lost, or the socket was only now opened (the first
    // question, after a loss, in a forked child, or when none can be had). Opened before it
    // answers, so that whatever the caller reads next is listened to.
    bool changed();
    // The same, handing each announcement to each; complete is false when some may be
    // missing (lost, or nobody listened before).
    bool changed(const MessageFn& each, bool& complete);
    // Without a socket nothing vouches for a read.
    bool listening() const { return socket_ != nullptr; }

private:
    void open();

    std::vector<unsigned> groups_;
    bool nexthops_;
    pid_t owner_ = 0;
    std::unique_ptr<Socket> socket_;
};

} // namespace corvane::sys::nl
