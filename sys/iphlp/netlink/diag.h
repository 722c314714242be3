// IPv4 TCP and UDP endpoints from sock_diag (inet_diag) dumps.
#pragma once

#include <cstdint>
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

// Drops the later copies of sockets seen twice: a dump that spans several reads walks hash
// chains that may change in between, and can then meet a socket again.
void dropRepeats(std::vector<InetSocket>& sockets);

} // namespace corvane::sys::nl
