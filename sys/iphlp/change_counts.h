// The numbers of interfaces, IPv4 addresses and routing table rows, kept current from
// rtnetlink announcements, so that the once-a-second change check dumps nothing.
#pragma once

#include "netlink/records.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct nlmsghdr;

namespace corvane::sys {

struct ChangeCounts {
    uint32_t interfaces = 0; // rows of the interface table
    uint32_t addresses = 0;  // IPv4 addresses
    uint32_t routeRows = 0;  // rows of the routing table
    // Changes to those rows seen so far, wrapping: tells a change that left the numbers as
    // they were (a route gone and another come) from none. Announced changes of IPv6 routes
    // and of other tables count too: the Routes page lists them.
    uint32_t routeChanges = 0;
};

// What the kernel holds, as far as the counts need it, brought up to date one message at a
// time. Dump replies and announcements are applied alike; applying a message twice, or an
// announcement of something a later dump already shows, changes nothing.
class CountModel {
public:
    enum class Source { Dump, Event };

    void apply(const nlmsghdr* nlh, Source source);
    void clear();
    void clearRoutes();
    // The routes were read again because some went unannounced.
    void noteReread() { ++routeChanges_; }
    // The kernel removes some routes without announcing it: those through an interface
    // taken down, deleted, or left without IPv4 address, and those whose source address went
    // away. True when an announcement applied since the last question may have done so to a
    // route counted here, even when a later one undid its cause (a link down and up again):
    // the routes must then be re-read. Resets the question.
    bool takeRouteRereadNeed();
    ChangeCounts counts() const;
    // The routes to destination/prefixLength (network order) as far as applied, of every
    // table counted here, whatever their metric and TOS.
    std::vector<nl::Route> routesTo(uint32_t destination, uint8_t prefixLength) const;

    struct RouteBase { // what the kernel keeps one list of routes for
        uint32_t table, destination, priority;
        uint8_t prefixLength, tos;
        bool operator==(const RouteBase&) const = default;
    };
    struct RouteVariant { // one route of that list
        uint8_t type, protocol, scope;
        uint32_t preferredSource;
        uint64_t extras; // digest of the attributes that make otherwise equal routes differ
        std::vector<nl::NextHop> hops;
        bool operator==(const RouteVariant& o) const;
    };
    struct AddressKey {
        uint32_t index, local, peer;
        uint8_t prefixLength;
        bool operator==(const AddressKey&) const = default;
    };
    struct Hash {
        size_t operator()(const RouteBase& b) const;
        size_t operator()(const AddressKey& a) const;
    };

private:
    void applyLink(const nlmsghdr* nlh, Source source);
    void applyAddress(const nlmsghdr* nlh, Source source);
    void applyRoute(const nlmsghdr* nlh, Source source);
    void count(const RouteVariant& v, int sign);
    void forgetAddress(const AddressKey& key);
    void noteRoutesThrough(uint32_t index);
    void noteSourceLoss(uint32_t local);

    std::unordered_map<uint32_t, bool> links_; // index -> administratively up
    std::unordered_set<AddressKey, Hash> addresses_;
    std::unordered_map<uint32_t, uint32_t> addressesByIf_, addressesByLocal_;
    std::unordered_map<RouteBase, std::vector<RouteVariant>, Hash> routes_;
    // The keys of routes_ by destination and prefix length, for routesTo.
    std::unordered_map<uint64_t, std::vector<RouteBase>> bases_;
    uint64_t routeRows_ = 0;
    std::unordered_map<uint32_t, uint32_t> hopsByIf_, routesBySource_;
    // An interface with routes went down or away, or lost its last address, or a route's
    // source address went: set when the announcement is applied, whatever follows it before
    // the next check, and cleared by takeRouteRereadNeed.
    bool rereadNeed_ = false;
    bool nexthopRemoved_ = false;
    uint32_t routeChanges_ = 0; // kept through clear(): a rebuild follows lost changes
};

// The counts of the running kernel, for this process: the first call reads everything, later
// calls only the announcements queued since. 0 or an errno.
int currentCounts(ChangeCounts& out);
// The same numbers (routeChanges aside) for a caller that may ask only once: from the kept
// model when this process keeps one; else, the first time, from a count of the links and
// addresses and the forward table's rows (the read a report has made already), without the
// model; a second time builds the model. 0 or an errno.
int countsOnce(ChangeCounts& out);

// The routes to destination/prefixLength (network order) of the main and local tables as
// the kernel holds them now, from the same announcements as the counts: no dump of the whole
// table. known is false when the announcements cannot vouch for them (none to be had, or
// lost), and the caller must read the table itself. 0 or an errno.
int currentRoutesTo(uint32_t destination, uint8_t prefixLength, std::vector<nl::Route>& out,
                    bool& known);

// How often the counts were built from full reads, and the routes alone re-read, since the
// process started; tests provoke both.
struct CountCacheStats {
    unsigned rebuilds = 0;
    unsigned routeRereads = 0;
};
CountCacheStats countCacheStats();

} // namespace corvane::sys
