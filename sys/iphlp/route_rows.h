// How kernel routes become rows of the routing table, and which ones do.
#pragma once

#include "block_rows.h"
#include "iphlpapi.h"
#include "netlink/records.h"

#include <functional>
#include <unordered_map>
#include <vector>

namespace corvane::sys {

using ForwardRows = BlockRows<MIB_IPFORWARDROW>;

// The table lists the main and the local table: the local one holds the host and broadcast
// routes the program shows and filters.
bool listedRoute(const nl::Route& route);
// Rows a listed route gives: one per next hop.
size_t rowCount(const nl::Route& route);

DWORD forwardProto(const nl::Route& route);
DWORD forwardProto(uint32_t table, uint8_t type, uint8_t protocol); // RTPROT_* -> MIB_IPPROTO_*
DWORD forwardType(const nl::Route& route, const nl::NextHop& hop);
DWORD maskFromPrefix(uint8_t prefixLength); // network byte order

// The own address an on-link next hop leaves from when the route names no source: the
// first primary IPv4 address of the interface, 0 when it has none.
using SourceOf = std::function<uint32_t(uint32_t ifIndex)>;
std::unordered_map<uint32_t, uint32_t> firstAddresses(const std::vector<nl::Address>& addresses);

// Rows of the listed routes, in the order given. An on-link next hop shows the address the
// route leaves from, as the platform did; the writes accept that address back. A gateway of
// another family shows as next hop 0.0.0.0 with type "other".
std::vector<MIB_IPFORWARDROW> forwardRows(const std::vector<nl::Route>& routes,
                                          const SourceOf& sourceOf);
// The same one route at a time, so a dump need not be kept: an on-link next hop whose route
// names no source is left 0 and its row's position noted in needSource for fillSources.
// Rows is a std::vector or a BlockRows of MIB_IPFORWARDROW.
template <typename Rows>
void appendForwardRows(const nl::Route& route, Rows& rows, std::vector<size_t>& needSource);
template <typename Rows>
void fillSources(Rows& rows, const std::vector<size_t>& needSource, const SourceOf& sourceOf);
// By destination, then mask, metric, next hop and interface, all as unsigned host-order
// numbers; rows equal in all of them keep their order.
void sortForwardRows(std::vector<MIB_IPFORWARDROW>& rows);

// The same order into another vector, or as the rows' positions in that order: a big table
// is then held once, sorted or not.
class ForwardRowSorter {
public:
    void sort(const std::vector<MIB_IPFORWARDROW>& rows, std::vector<MIB_IPFORWARDROW>& sorted);
    template <typename Rows> void order(const Rows& rows, std::vector<uint32_t>& positions);

private:
    struct Key {
        uint64_t destMask, metricHop;
        uint32_t ifIndex, pos; // the position last, so that equal rows keep their order
        bool operator<(const Key& o) const;
    };
    std::vector<Key> keys_;
};

} // namespace corvane::sys
