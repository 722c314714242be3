#include "diag.h"

#include "socket.h"

#include <cerrno>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

namespace corvane::sys::nl {
namespace {

// States 1 to 12. Newer kernels also know bound-but-inactive sockets (13); those sit in no
// lookup table, /proc/net/tcp does not list them, and neither do we.
constexpr uint32_t kAllStates = ((1u << (kTcpNewSynRecv + 1)) - 1) & ~1u;

} // namespace

bool decodeInetSocket(const nlmsghdr* nlh, InetSocket& out) {
    if (nlh->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        nlh->nlmsg_len < mnl_nlmsg_size(sizeof(inet_diag_msg)))
        return false;
    inet_diag_msg msg;
    std::memcpy(&msg, mnl_nlmsg_get_payload(nlh), sizeof msg);
    if (msg.idiag_family != AF_INET)
        return false;
    out.state = msg.idiag_state;
    out.localAddr = msg.id.idiag_src[0];
    out.localPort = msg.id.idiag_sport;
    out.remoteAddr = msg.id.idiag_dst[0];
    out.remotePort = msg.id.idiag_dport;
    out.inode = msg.idiag_inode;
    out.uid = msg.idiag_uid;
    out.cookie = msg.id.idiag_cookie[0] | static_cast<uint64_t>(msg.id.idiag_cookie[1]) << 32;
    return true;
}

int dumpInetDiag(uint8_t family, uint8_t protocol, uint32_t states,
                 const std::function<void(const nlmsghdr*)>& each) {
    Socket sock(NETLINK_SOCK_DIAG);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = SOCK_DIAG_BY_FAMILY;
    auto* req =
        static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req_v2)));
    req->sdiag_family = family;
    req->sdiag_protocol = protocol;
    req->idiag_states = states;
    return sock.dump(nlh, each).error;
}

int readInetSockets(uint8_t protocol, std::vector<InetSocket>& out) {
    out.clear();
    InetSocket s;
    if (const int error = dumpInetDiag(AF_INET, protocol, kAllStates, [&](const nlmsghdr* m) {
            if (decodeInetSocket(m, s))
                out.push_back(s);
        })) {
        out.clear();
        return error;
    }
    dropRepeats(out);
    return 0;
}

} // namespace corvane::sys::nl
