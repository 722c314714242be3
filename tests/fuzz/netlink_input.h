// One netlink datagram as a socket hands it to the decoders: walked message by message, with
// the control messages (done, error, no-op) left out as the socket leaves them out.
#pragma once

#include "netlink/socket.h"

#include <cstddef>
#include <cstdint>
#include <linux/netlink.h>

namespace corvane::fuzz {

template <typename Each> void eachRecordMessage(const uint8_t* data, size_t size, Each each) {
    sys::nl::forEachMessage(data, size, [&](const nlmsghdr* m) {
        if (m->nlmsg_type >= NLMSG_MIN_TYPE)
            each(m);
        return true;
    });
}

} // namespace corvane::fuzz
