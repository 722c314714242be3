#include "route_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstddef>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <string>
#include <tuple>

namespace corvane::sys {

bool listedRoute(const nl::Route& route) {
    return route.table == RT_TABLE_MAIN || route.table == RT_TABLE_LOCAL;
}

size_t rowCount(const nl::Route& route) {
    return listedRoute(route) ? route.nextHops.size() : 0;
}

DWORD forwardProto(const nl::Route& route) {
    return forwardProto(route.table, route.type, route.protocol);
}

DWORD forwardProto(uint32_t table, uint8_t type, uint8_t protocol) {
    // Host and broadcast routes belong to the addresses, whoever asked for them.
    if (table == RT_TABLE_LOCAL || type == RTN_LOCAL || type == RTN_BROADCAST)
        return MIB_IPPROTO_LOCAL;
    switch (protocol) {
    case RTPROT_KERNEL:
        return MIB_IPPROTO_LOCAL;
    case RTPROT_BOOT: // what `ip route add` says unless told otherwise
    case RTPROT_STATIC:
    case RTPROT_DHCP:
        return MIB_IPPROTO_NETMGMT;
    case RTPROT_REDIRECT:
    case RTPROT_RA:
        return MIB_IPPROTO_ICMP;
    case RTPROT_RIP:
        return MIB_IPPROTO_RIP;
    case RTPROT_OSPF:
        return MIB_IPPROTO_OSPF;
    case RTPROT_BGP:
        return MIB_IPPROTO_BGP;
    case RTPROT_ISIS:
        return MIB_IPPROTO_IS_IS;
    case RTPROT_EIGRP:
        return MIB_IPPROTO_CISCO;
    default:
        return MIB_IPPROTO_OTHER;
    }
}

DWORD forwardType(const nl::Route& route, const nl::NextHop& hop) {
    switch (route.type) {
    case RTN_UNICAST:
        // A gateway of another family cannot be named by the row: neither direct nor an
        // indirect route whose next hop could be used.
        if (hop.viaOtherFamily)
            return MIB_IPROUTE_TYPE_OTHER;
        return hop.gateway ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    case RTN_LOCAL:
    case RTN_BROADCAST:
    case RTN_ANYCAST:
    case RTN_MULTICAST:
        return MIB_IPROUTE_TYPE_DIRECT;
    case RTN_BLACKHOLE:
    case RTN_UNREACHABLE:
    case RTN_PROHIBIT:
        // Routes that discard traffic; the value the route table MIB gives them (reject).
        return MIB_IPROUTE_TYPE_INVALID;
    default:
        return MIB_IPROUTE_TYPE_OTHER;
    }
}

DWORD maskFromPrefix(uint8_t prefixLength) {
    if (prefixLength == 0)
        return 0;
    if (prefixLength >= 32)
        return 0xFFFFFFFFu;
    return htonl(~0u << (32 - prefixLength));
}

std::unordered_map<uint32_t, uint32_t> firstAddresses(const std::vector<nl::Address>& addresses) {
    std::unordered_map<uint32_t, uint32_t> first;
    // A secondary address is never the one the kernel leaves from; take one only when the
    // interface has nothing else.
    for (const nl::Address& a : addresses)
        if (!(a.flags & IFA_F_SECONDARY))
            first.emplace(a.index, a.address);
    for (const nl::Address& a : addresses)
        first.emplace(a.index, a.address);
    return first;
}

template <typename Rows>
void appendForwardRows(const nl::Route& r, Rows& rows, std::vector<size_t>& needSource) {
    if (!listedRoute(r))
        return;
    const DWORD proto = forwardProto(r);
    const DWORD mask = maskFromPrefix(r.prefixLength);
    for (const nl::NextHop& hop : r.nextHops) {
        MIB_IPFORWARDROW& row = rows.emplace_back();
        row.dwForwardDest = r.destination;
        row.dwForwardMask = mask;
        row.dwForwardPolicy = r.tos; // the type-of-service selector is the route's policy
        if (hop.gateway)
            row.dwForwardNextHop = hop.gateway;
        else if (hop.viaOtherFamily)
            row.dwForwardNextHop = 0; // never this host's address, which would mean on-link
        else if (r.preferredSource)
            row.dwForwardNextHop = r.preferredSource;
        else if (hop.ifIndex)
            needSource.push_back(rows.size() - 1);
        row.dwForwardIfIndex = hop.ifIndex;
        row.dwForwardType = forwardType(r, hop);
        row.dwForwardProto = proto;
        row.dwForwardMetric1 = r.priority;
        row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
            0xFFFFFFFFu; // not in use
    }
}

template <typename Rows>
void fillSources(Rows& rows, const std::vector<size_t>& needSource, const SourceOf& sourceOf) {
    for (const size_t i : needSource)
        rows[i].dwForwardNextHop = sourceOf(rows[i].dwForwardIfIndex);
}

template void appendForwardRows(const nl::Route&, std::vector<MIB_IPFORWARDROW>&,
                                std::vector<size_t>&);
template void appendForwardRows(const nl::Route&, ForwardRows&, std::vector<size_t>&);
template void fillSources(std::vector<MIB_IPFORWARDROW>&, const std::vector<size_t>&,
                          const SourceOf&);
template void fillSources(ForwardRows&, const std::vector<size_t>&, const SourceOf&);

std::vector<MIB_IPFORWARDROW> forwardRows(const std::vector<nl::Route>& routes,
                                          const SourceOf& sourceOf) {
    std::vector<MIB_IPFORWARDROW> rows;
    size_t n = 0;
    for (const nl::Route& r : routes)
        n += rowCount(r);
    rows.reserve(n);
    std::vector<size_t> needSource;
    for (const nl::Route& r : routes)
        appendForwardRows(r, rows, needSource);
    fillSources(rows, needSource, sourceOf);
    return rows;
}

bool ForwardRowSorter::Key::operator<(const Key& o) const {
    return std::tie(destMask, metricHop, ifIndex, pos) <
           std::tie(o.destMask, o.metricHop, o.ifIndex, o.pos);
}

namespace {

// The kernel hands each table over in address order, so the keys come as a few ascending
// runs (the main table, the local table, the odd destination with several prefixes): merged,
// that is a pass or two instead of a sort. Many runs are sorted.
template <typename Key> void sortNearlySorted(std::vector<Key>& keys) {
    constexpr size_t kMaxRuns = 16;
    std::vector<size_t> starts{0};
    for (size_t i = 1; i < keys.size() && starts.size() <= kMaxRuns; ++i)
        if (keys[i] < keys[i - 1])
            starts.push_back(i);
    if (starts.size() > kMaxRuns) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    // Neighbouring runs merged pairwise until one is left.
    starts.push_back(keys.size());
    while (starts.size() > 2) {
        std::vector<size_t> merged{0};
        for (size_t r = 0; r + 2 < starts.size(); r += 2) {
            std::inplace_merge(keys.begin() + static_cast<std::ptrdiff_t>(starts[r]),
                               keys.begin() + static_cast<std::ptrdiff_t>(starts[r + 1]),
                               keys.begin() + static_cast<std::ptrdiff_t>(starts[r + 2]));
            merged.push_back(starts[r + 2]);
        }
        if (starts.size() % 2 == 0) // an odd number of runs: the last waits for the next round
            merged.push_back(starts.back());
        starts.swap(merged);
    }
}

} // namespace

template <typename Rows>
void ForwardRowSorter::order(const Rows& rows, std::vector<uint32_t>& positions) {
    // Small keys sort several times faster than the rows themselves.
    keys_.clear();
    keys_.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const MIB_IPFORWARDROW& r = rows[i];
        keys_.push_back({uint64_t{ntohl(r.dwForwardDest)} << 32 | ntohl(r.dwForwardMask),
                         uint64_t{r.dwForwardMetric1} << 32 | ntohl(r.dwForwardNextHop),
                         r.dwForwardIfIndex, static_cast<uint32_t>(i)});
    }
    sortNearlySorted(keys_);
    positions.clear();
    positions.reserve(rows.size());
    for (const Key& k : keys_)
        positions.push_back(k.pos);
    // Not kept: the heap keeps the memory for the next sort, and the keys weigh half a table.
    std::vector<Key>().swap(keys_);
}

template void ForwardRowSorter::order(const std::vector<MIB_IPFORWARDROW>&, std::vector<uint32_t>&);
template void ForwardRowSorter::order(const ForwardRows&, std::vector<uint32_t>&);

void ForwardRowSorter::sort(const std::vector<MIB_IPFORWARDROW>& rows,
                            std::vector<MIB_IPFORWARDROW>& sorted) {
    std::vector<uint32_t> positions;
    order(rows, positions);
    sorted.clear();
    sorted.reserve(rows.size());
    for (const uint32_t at : positions)
        sorted.push_back(rows[at]);
}

void sortForwardRows(std::vector<MIB_IPFORWARDROW>& rows) {
    std::vector<MIB_IPFORWARDROW> sorted;
    ForwardRowSorter().sort(rows, sorted);
    rows.swap(sorted);
}

} // namespace corvane::sys
