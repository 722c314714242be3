// The kernel's neighbour (ARP) table and the route it picks for one destination: what
// SendARP needs to tell a neighbour's hardware address without privilege.
#pragma once

#include "netlink/records.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::sys {

struct Neighbour {
    uint32_t ifIndex = 0;
    uint32_t address = 0; // network byte order
    uint16_t state = 0;   // NUD_*
    std::vector<uint8_t> hardwareAddress;
    // Since the kernel last changed the entry's state, when it said.
    std::optional<std::chrono::milliseconds> sinceUpdate;
};

// false when the message is not an IPv4 neighbour or is malformed.
bool decodeNeighbour(const nlmsghdr* nlh, Neighbour& out);
// An entry whose hardware address can be given out now. Links without ARP have only the
// addresses someone set by hand.
bool usableNeighbour(const Neighbour& n, bool linkDoesArp);

// How long to wait for a neighbour the table holds no usable entry for. Nothing known: the
// whole budget. A resolution under way: what is left of the budget since it began, so the
// budget counts from the first question, whoever asked it; when that is used up, or the
// kernel gave up (failed) less than failureMemory ago, nothing: asking again costs the budget
// and tells nothing new. An older failure is asked about again, so a neighbour that comes
// back is found.
std::chrono::milliseconds resolutionWait(const std::optional<Neighbour>& entry,
                                         std::chrono::milliseconds budget,
                                         std::chrono::milliseconds failureMemory);

// 0 or an errno. Only the entries of one interface.
int readNeighbours(uint32_t ifIndex, std::vector<Neighbour>& out);

} // namespace corvane::sys
