// Building netlink requests.
#pragma once

#include <cstdint>
#include <libmnl/libmnl.h>

namespace corvane::sys::nl {

// Starts a request of the given type in buf (MNL_SOCKET_BUFFER_SIZE bytes) and returns its
// zeroed fixed header in *header; attributes follow with mnl_attr_put_*.
template <typename Header>
nlmsghdr* putRequest(char* buf, uint16_t type, Header** header, uint16_t flags = 0) {
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = flags;
    *header = static_cast<Header*>(mnl_nlmsg_put_extra_header(nlh, sizeof(Header)));
    return nlh;
}

} // namespace corvane::sys::nl
