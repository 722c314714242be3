// Both address families from rtnetlink and sock_diag: addresses, routes of every table,
// policy rules and sockets, decoded into fixed records (no strings, no per-row heap) and
// handed over one at a time as a dump arrives. Addresses stay in network byte order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

struct nlmsghdr;

namespace corvane::sys::nl {

using Ip = std::array<uint8_t, 16>; // an IPv4 address takes the first four bytes

struct AnyAddress {
    uint8_t family = 0;
    uint32_t index = 0;
    Ip address{};
    uint8_t prefixLength = 0;
    uint32_t flags = 0; // IFA_F_*
    uint8_t scope = 0;  // RT_SCOPE_*
    uint8_t proto = 0;  // IFA_PROTO_*, 0 when the kernel names none
    uint32_t preferred = 0xFFFFFFFFu, valid = 0xFFFFFFFFu; // seconds left
    uint32_t created = 0;                                  // hundredths of a second since boot
};

struct AnyHop {
    uint32_t ifIndex = 0;
    uint8_t gatewayFamily = 0; // 0 on-link
    Ip gateway{};
    uint8_t weight = 1;
};

inline constexpr size_t kMaxHops = 32; // further next hops of a multipath route are dropped

struct AnyRoute {
    uint8_t family = 0;
    uint32_t table = 0;
    Ip destination{};
    uint8_t prefixLength = 0;
    uint8_t tos = 0, protocol = 0, scope = 0, type = 0;
    uint32_t priority = 0;
    bool hasSource = false;
    Ip preferredSource{};
    uint32_t expires = 0; // seconds left, 0 for no expiry
    uint8_t hopCount = 0;
    std::array<AnyHop, kMaxHops> hops{};
};

struct Rule {
    uint8_t family = 0;
    uint8_t action = 0, tos = 0, srcLength = 0, dstLength = 0;
    uint32_t flags = 0, priority = 0, table = 0, gotoTarget = 0;
    Ip source{}, destination{};
    bool hasMark = false;
    uint32_t fwmark = 0, fwmask = 0;
    char iif[16] = {}, oif[16] = {};
    uint8_t ipProto = 0, l3mdev = 0;
    uint16_t sportStart = 0, sportEnd = 0, dportStart = 0, dportEnd = 0;
    bool hasUid = false;
    uint32_t uidStart = 0, uidEnd = 0;
    int32_t suppressPrefixLength = -1, suppressIfGroup = -1;
};

struct AnySocket {
    uint8_t family = 0;
    uint8_t state = 0; // KernelTcpState
    Ip local{}, remote{};
    uint16_t localPort = 0, remotePort = 0; // network byte order
    uint32_t boundIf = 0;
    uint32_t inode = 0;
    uint64_t cookie = 0;
    bool v6only = false;
};

// Decoders of single messages; false when the message is not one of theirs or is malformed.
bool decodeAnyAddress(const nlmsghdr* nlh, AnyAddress& out);
bool decodeAnyRoute(const nlmsghdr* nlh, AnyRoute& out);
bool decodeRule(const nlmsghdr* nlh, Rule& out);
bool decodeAnySocket(const nlmsghdr* nlh, AnySocket& out);

// One dump each (family AF_INET or AF_INET6); 0 or an errno. A dump the kernel marks as
// changing underneath is read again, a bounded number of times; each then restarts the
// callbacks, which reset is told about first.
int dumpAnyAddresses(uint8_t family, const std::function<void()>& reset,
                     const std::function<void(const AnyAddress&)>& each);
// table 0: every table.
int dumpAnyRoutes(uint8_t family, uint32_t table, const std::function<void()>& reset,
                  const std::function<void(const AnyRoute&)>& each);
int dumpRules(uint8_t family, const std::function<void()>& reset,
              const std::function<void(const Rule&)>& each);
// states: a bit mask of KernelTcpState numbers. Sockets met twice in the dump are kept once.
int readAnySockets(uint8_t family, uint8_t protocol, uint32_t states, std::vector<AnySocket>& out);

} // namespace corvane::sys::nl
