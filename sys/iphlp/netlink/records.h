// What the kernel's rtnetlink dumps say, decoded into plain records. Addresses stay in
// network byte order, as the platform records carry them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct nlmsghdr;

namespace corvane::sys::nl {

struct LinkStats {
    uint64_t rxBytes = 0, rxPackets = 0, rxErrors = 0, rxDropped = 0, rxMulticast = 0;
    uint64_t txBytes = 0, txPackets = 0, txErrors = 0, txDropped = 0;
    uint64_t rxUnknownProto = 0; // rx_nohandler: frames no protocol took
};

struct Link {
    uint32_t index = 0;
    std::string name;
    uint16_t arpType = 0; // ARPHRD_*
    uint32_t flags = 0;   // IFF_*
    uint32_t mtu = 0;
    uint8_t operState = 0; // IF_OPER_*
    uint32_t txQueueLen = 0;
    std::vector<uint8_t> mac;
    std::string kind; // "veth", "bridge", "tun" ... from IFLA_INFO_KIND; empty for hardware
    bool hasStats = false;
    LinkStats stats;
};

struct Address {
    uint32_t index = 0;
    uint32_t address = 0; // IFA_LOCAL: this host's address (IFA_ADDRESS is the peer's)
    uint8_t prefixLength = 0;
    uint32_t flags = 0; // IFA_F_*
    uint8_t scope = 0;
    std::string label;
};

struct NextHop {
    uint32_t ifIndex = 0;
    uint32_t gateway = 0; // 0 when on-link, or when the gateway is no IPv4 address
    // The gateway is an address of another family (RTA_VIA, e.g. an IPv6 router for an IPv4
    // route): not on-link, yet without an IPv4 address to show.
    bool viaOtherFamily = false;
};

struct Route {
    uint32_t table = 0; // RTA_TABLE wins over rtm_table, which cannot hold ids above 255
    uint32_t destination = 0;
    uint8_t prefixLength = 0;
    uint8_t tos = 0;
    uint8_t protocol = 0; // RTPROT_*
    uint8_t scope = 0;
    uint8_t type = 0; // RTN_*
    uint32_t priority = 0;
    uint32_t preferredSource = 0;
    std::vector<NextHop> nextHops; // one for plain routes, several for multipath
};

// Decoders of single messages; false when the message is not one of theirs or is malformed.
bool decodeLink(const nlmsghdr* nlh, Link& out);
bool decodeAddress(const nlmsghdr* nlh, Address& out);
bool decodeRoute(const nlmsghdr* nlh, Route& out);
// A route announcement: an added route (RTM_NEWROUTE) or a removed one (RTM_DELROUTE), which
// share the layout.
bool decodeRouteChange(const nlmsghdr* nlh, Route& out);

} // namespace corvane::sys::nl
