#include "socket_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <tuple>

namespace corvane::sys {
namespace {

// Addresses and ports travel in network byte order; numeric order is host order.
uint32_t addrKey(DWORD a) {
    return ntohl(a);
}
uint16_t portKey(DWORD p) {
    return ntohs(static_cast<uint16_t>(p));
}

template <typename Row> void sortTcp(std::vector<Row>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::make_tuple(addrKey(a.dwLocalAddr), portKey(a.dwLocalPort),
                               addrKey(a.dwRemoteAddr), portKey(a.dwRemotePort)) <
               std::make_tuple(addrKey(b.dwLocalAddr), portKey(b.dwLocalPort),
                               addrKey(b.dwRemoteAddr), portKey(b.dwRemotePort));
    });
}

template <typename Row> void sortUdp(std::vector<Row>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::make_pair(addrKey(a.dwLocalAddr), portKey(a.dwLocalPort)) <
               std::make_pair(addrKey(b.dwLocalAddr), portKey(b.dwLocalPort));
    });
}

} // namespace

DWORD tcpTableState(uint8_t kernelState) {
    switch (kernelState) {
    case nl::kTcpEstablished:
        return MIB_TCP_STATE_ESTAB;
    case nl::kTcpSynSent:
        return MIB_TCP_STATE_SYN_SENT;
    case nl::kTcpSynRecv:
    case nl::kTcpNewSynRecv:
        return MIB_TCP_STATE_SYN_RCVD;
    case nl::kTcpFinWait1:
        return MIB_TCP_STATE_FIN_WAIT1;
    case nl::kTcpFinWait2:
        return MIB_TCP_STATE_FIN_WAIT2;
    case nl::kTcpTimeWait:
        return MIB_TCP_STATE_TIME_WAIT;
    case nl::kTcpClose:
        return MIB_TCP_STATE_CLOSED;
    case nl::kTcpCloseWait:
        return MIB_TCP_STATE_CLOSE_WAIT;
    case nl::kTcpLastAck:
        return MIB_TCP_STATE_LAST_ACK;
    case nl::kTcpListen:
        return MIB_TCP_STATE_LISTEN;
    case nl::kTcpClosing:
        return MIB_TCP_STATE_CLOSING;
    default:
        return 0;
    }
}

MIB_TCPROW tcpRow(const nl::InetSocket& s) {
    MIB_TCPROW r{};
    r.dwState = tcpTableState(s.state);
    r.dwLocalAddr = s.localAddr;
    r.dwLocalPort = s.localPort;
    // A listener has no peer, whatever the kernel left in the fields.
    if (r.dwState != MIB_TCP_STATE_LISTEN) {
        r.dwRemoteAddr = s.remoteAddr;
        r.dwRemotePort = s.remotePort;
    }
    return r;
}

MIB_UDPROW udpRow(const nl::InetSocket& s) {
    return MIB_UDPROW{s.localAddr, s.localPort};
}

MIB_TCPEXROW tcpExRow(const nl::InetSocket& s, DWORD pid) {
    const MIB_TCPROW r = tcpRow(s);
    return MIB_TCPEXROW{r.dwState,      r.dwLocalAddr,  r.dwLocalPort,
                        r.dwRemoteAddr, r.dwRemotePort, pid};
}

MIB_UDPEXROW udpExRow(const nl::InetSocket& s, DWORD pid) {
    return MIB_UDPEXROW{s.localAddr, s.localPort, pid};
}

void sortRows(std::vector<MIB_TCPROW>& rows) {
    sortTcp(rows);
}
void sortRows(std::vector<MIB_TCPEXROW>& rows) {
    sortTcp(rows);
}
void sortRows(std::vector<MIB_UDPROW>& rows) {
    sortUdp(rows);
}
void sortRows(std::vector<MIB_UDPEXROW>& rows) {
    sortUdp(rows);
}

} // namespace corvane::sys
