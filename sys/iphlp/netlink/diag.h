// IPv4 TCP and UDP endpoints from sock_diag (inet_diag) dumps.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

struct nlmsghdr;

namespace corvane::sys::nl {

// The kernel's TCP state numbers (include/net/tcp_states.h); UDP sockets report
// kTcpEstablished when connected and kTcpClose otherwise.
enum KernelTcpState : uint8_t {
    kTcpEstablished = 1,
    kTcpSynSent,
    kTcpSynRecv,
    kTcpFinWait1,
    kTcpFinWait2,
    kTcpTimeWait,
    kTcpClose,
    kTcpCloseWait,
    kTcpLastAck,
    kTcpListen,
    kTcpClosing,
    kTcpNewSynRecv, // a connection request not yet accepted into its listener's queue
};

struct InetSocket {
    uint8_t state = 0;       // KernelTcpState
    uint32_t localAddr = 0;  // network byte order
    uint16_t localPort = 0;  // network byte order
    uint32_t remoteAddr = 0; // network byte order
    uint16_t remotePort = 0; // network byte order
    uint32_t inode = 0;      // 0 for time-wait and request sockets, which no file holds
    uint32_t uid = 0;
    uint64_t cookie = 0; // the kernel's identity of the socket, unique while it lives
};

// One SOCK_DIAG_BY_FAMILY answer; false when the message is not an IPv4 one or is too
// short to hold its record.
bool decodeInetSocket(const nlmsghdr* nlh, InetSocket& out);

// Every IPv4 socket of the protocol (IPPROTO_TCP or IPPROTO_UDP) in the kernel's order, in
// one dump. Returns 0 or an errno.
int readInetSockets(uint8_t protocol, std::vector<InetSocket>& out);

// One SOCK_DIAG_BY_FAMILY dump of the family's sockets of the protocol in the states (a bit
// per KernelTcpState), each answer handed to each. Returns 0 or an errno.
int dumpInetDiag(uint8_t family, uint8_t protocol, uint32_t states,
                 const std::function<void(const nlmsghdr*)>& each);

// Drops the later copies of sockets seen twice, keeping the order: a dump that spans several
// reads walks hash chains that may change in between, and can then meet a socket again.
template <typename Row> void dropRepeats(std::vector<Row>& sockets) {
    std::unordered_set<uint64_t> seen;
    seen.reserve(sockets.size());
    std::erase_if(sockets, [&](const Row& s) {
        // Both halves all ones: the kernel gave no cookie, so nothing tells copies apart.
        return s.cookie != ~uint64_t{0} && !seen.insert(s.cookie).second;
    });
}

} // namespace corvane::sys::nl
