// The kernel's neighbour (ARP) table and the route it picks for one destination: what
// SendARP needs to tell a neighbour's hardware address without privilege.
#pragma once

#include "netlink/records.h"

#include <cstdint>
#include <vector>

namespace corvane::sys {

struct Neighbour {
    uint32_t ifIndex = 0;
    uint32_t address = 0; // network byte order
    uint16_t state = 0;   // NUD_*
    std::vector<uint8_t> hardwareAddress;
};

// false when the message is not an IPv4 neighbour or is malformed.
bool decodeNeighbour(const nlmsghdr* nlh, Neighbour& out);
// An entry whose hardware address can be given out now. Links without ARP have only the
// addresses someone set by hand.
bool usableNeighbour(const Neighbour& n, bool linkDoesArp);

// 0 or an errno. Only the entries of one interface.
int readNeighbours(uint32_t ifIndex, std::vector<Neighbour>& out);

} // namespace corvane::sys
