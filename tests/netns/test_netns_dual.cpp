// Both families and every routing table against the real kernel: IPv6 addresses with their
// states, routes of every table with a link-local default, the policy rules, IPv6 sockets
// with owners including a dual-stack listener, and the two-call protocol of the socket tables.
#include "forward_cache.h"
#include "iphlpapi.h"
#include "netns.h"
#include "route6_cache.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvane::test;

namespace {

constexpr BOOL kSorted = 1;

struct Free {
    void operator()(void* p) const { FreeMibTable(p); }
};
template <typename T> using Owned = std::unique_ptr<T, Free>;

std::string text(const SOCKADDR_INET& a) {
    char buf[INET6_ADDRSTRLEN] = "";
    if (a.si_family == AF_INET)
        inet_ntop(AF_INET, &a.Ipv4.sin_addr, buf, sizeof buf);
    else if (a.si_family == AF_INET6)
        inet_ntop(AF_INET6, &a.Ipv6.sin6_addr, buf, sizeof buf);
    return buf;
}

std::string text6(const UCHAR (&a)[16]) {
    char buf[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, a, buf, sizeof buf);
    return buf;
}

int lines(const std::string& command) {
    const std::string out = shOut(command);
    return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

// A veth pair: dv0 carries the addresses and routes. Its link-local address is made without
// duplicate detection, the tentative one then waits on a detection that takes 20 s.
class DualWorld : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        sh("ip link set lo up");
        sh("ip link add dv0 type veth peer name dv1");
        sh("sysctl -qw net.ipv6.conf.dv0.accept_dad=0 net.ipv6.conf.dv0.use_tempaddr=2");
        sh("ip link set dv0 up && ip link set dv1 up");
        sh("sysctl -qw net.ipv6.conf.dv0.accept_dad=1 net.ipv6.neigh.dv0.retrans_time_ms=20000");
        sh("ip -6 addr add 2001:db8:1::1/64 dev dv0 nodad");
        sh("ip -6 addr add 2001:db8:1::2/64 dev dv0 preferred_lft 0 nodad");
        sh("ip -6 addr add 2001:db8:1::3/64 dev dv0");
        sh("ip -6 addr add 2001:db8:2::5/64 dev dv0 mngtmpaddr nodad");
        sh("ip addr add 10.9.0.1/24 dev dv0");
        sh("ip -6 route add default via fe80::1 dev dv0 metric 100");
        sh("ip -6 route add 2001:db8:99::/48 via 2001:db8:1::fe dev dv0 metric 50 proto static");
        sh("ip route add 10.99.0.0/16 via 10.9.0.254 dev dv0 table 100");
        sh("ip -6 route add 2001:db8:100::/48 dev dv0 table 100");
        sh("ip route add 10.77.0.0/16 dev dv0 table 1000");
        sh("ip rule add from 10.9.0.0/24 lookup 100 priority 1000");
        sh("ip rule add not fwmark 0x10/0xff iif dv0 lookup 1000 priority 1001");
        sh("ip -6 rule add to 2001:db8:5::/64 oif dv0 prohibit priority 1002");
        index_ = if_nametoindex("dv0");
        ASSERT_NE(index_, 0u);
    }
    void TearDown() override {
        if (!inPrivateNetns())
            return;
        shMayFail("ip link del dv0 2>/dev/null");
        shMayFail("ip rule del priority 1000 2>/dev/null; ip rule del priority 1001 2>/dev/null");
        shMayFail("ip -6 rule del priority 1002 2>/dev/null");
    }
    unsigned index_ = 0;
};

const MIB_UNICASTIPADDRESS_ROW* findAddress(const MIB_UNICASTIPADDRESS_TABLE& t,
                                            const std::string& address) {
    for (ULONG i = 0; i < t.NumEntries; ++i)
        if (text(t.Table[i].Address) == address)
            return &t.Table[i];
    return nullptr;
}

} // namespace

TEST_F(DualWorld, AddressesOfBothFamiliesWithTheirStatesAndScopes) {
    MIB_UNICASTIPADDRESS_TABLE* raw = nullptr;
    ASSERT_EQ(GetUnicastIpAddressTable(AF_UNSPEC, &raw), NO_ERROR);
    const Owned<MIB_UNICASTIPADDRESS_TABLE> all(raw);
    // As many as ip lists, IPv4 first.
    const int v4 = lines("ip -o -4 addr show"), v6 = lines("ip -o -6 addr show");
    ASSERT_EQ(static_cast<int>(all->NumEntries), v4 + v6);
    for (ULONG i = 0; i < all->NumEntries; ++i)
        EXPECT_EQ(all->Table[i].Address.si_family, i < static_cast<ULONG>(v4) ? AF_INET : AF_INET6);

    struct Expect {
        const char* address;
        NL_DAD_STATE dad;
        SCOPE_LEVEL scope;
        ULONG preferred;
    };
    const Expect expected[] = {
        {"2001:db8:1::1", IpDadStatePreferred, ScopeLevelGlobal, INFINITE_LIFETIME},
        {"2001:db8:1::2", IpDadStateDeprecated, ScopeLevelGlobal, 0},
        {"2001:db8:1::3", IpDadStateTentative, ScopeLevelGlobal, INFINITE_LIFETIME},
        {"::1", IpDadStatePreferred, ScopeLevelInterface, INFINITE_LIFETIME},
        {"10.9.0.1", IpDadStatePreferred, ScopeLevelGlobal, INFINITE_LIFETIME},
    };
    for (const Expect& e : expected) {
        const MIB_UNICASTIPADDRESS_ROW* row = findAddress(*all, e.address);
        ASSERT_TRUE(row) << e.address;
        EXPECT_EQ(row->DadState, e.dad) << e.address;
        EXPECT_EQ(row->ScopeId.Level, static_cast<ULONG>(e.scope)) << e.address;
        EXPECT_EQ(row->PreferredLifetime, e.preferred) << e.address;
        EXPECT_EQ(row->ValidLifetime, INFINITE_LIFETIME) << e.address;
        EXPECT_EQ(row->SkipAsSource, e.dad != IpDadStatePreferred) << e.address;
        if (row->Address.si_family == AF_INET6 && std::string(e.address) != "::1") {
            EXPECT_EQ(row->InterfaceIndex, index_);
            EXPECT_EQ(row->OnLinkPrefixLength, 64);
            EXPECT_EQ(row->PrefixOrigin, IpPrefixOriginManual) << e.address;
        }
    }
    EXPECT_EQ(findAddress(*all, "10.9.0.1")->OnLinkPrefixLength, 24);

    // The link-local address: link scope, zoned by its interface, from the link layer.
    const std::string ll =
        shOut("ip -6 -o addr show dev dv0 scope link | awk '{print $4}' | cut -d/ -f1");
    const MIB_UNICASTIPADDRESS_ROW* link = findAddress(*all, ll.substr(0, ll.find('\n')));
    ASSERT_TRUE(link) << ll;
    EXPECT_EQ(link->ScopeId.Level, static_cast<ULONG>(ScopeLevelLink));
    EXPECT_EQ(link->ScopeId.Zone, index_);
    EXPECT_EQ(link->Address.Ipv6.sin6_scope_id, index_);
    EXPECT_EQ(link->SuffixOrigin, IpSuffixOriginLinkLayerAddress);
    EXPECT_EQ(link->DadState, IpDadStatePreferred);

    // The temporary address the kernel made from the managed one: random, with lifetimes.
    int temporary = 0;
    for (ULONG i = 0; i < all->NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& r = all->Table[i];
        if (r.SuffixOrigin == IpSuffixOriginRandom) {
            ++temporary;
            EXPECT_EQ(text(r.Address).rfind("2001:db8:2:", 0), 0u) << text(r.Address);
            EXPECT_LT(r.ValidLifetime, INFINITE_LIFETIME);
        }
    }
    EXPECT_EQ(temporary, lines("ip -6 -o addr show dev dv0 temporary"));

    // One family alone is the same rows.
    MIB_UNICASTIPADDRESS_TABLE* six = nullptr;
    ASSERT_EQ(GetUnicastIpAddressTable(AF_INET6, &six), NO_ERROR);
    const Owned<MIB_UNICASTIPADDRESS_TABLE> only6(six);
    ASSERT_EQ(static_cast<int>(only6->NumEntries), v6);
    // The rows are built zeroed, padding included, so the bytes compare.
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
    EXPECT_EQ(std::memcmp(&only6->Table[0], &all->Table[v4], sizeof(MIB_UNICASTIPADDRESS_ROW)), 0);

    auto* none = reinterpret_cast<MIB_UNICASTIPADDRESS_TABLE*>(1);
    EXPECT_EQ(GetUnicastIpAddressTable(7, &none), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(GetUnicastIpAddressTable(AF_INET, nullptr), ERROR_INVALID_PARAMETER);
}

namespace {

const CORVANE_ROUTE_ROW* findRoute(const CORVANE_ROUTE_TABLE& t, const std::string& prefix,
                                   int length, ULONG table) {
    for (ULONG i = 0; i < t.NumEntries; ++i) {
        const CORVANE_ROUTE_ROW& r = t.Table[i];
        if (text(r.Route.DestinationPrefix.Prefix) == prefix &&
            r.Route.DestinationPrefix.PrefixLength == length && r.Table == table)
            return &r;
    }
    return nullptr;
}

} // namespace

TEST_F(DualWorld, ForwardTableOfBothFamiliesWithALinkLocalDefault) {
    MIB_IPFORWARD_TABLE2* raw = nullptr;
    ASSERT_EQ(GetIpForwardTable2(AF_INET6, &raw), NO_ERROR);
    const Owned<MIB_IPFORWARD_TABLE2> t(raw);
    // The main and the local table, as ip lists them.
    const int expected =
        lines("ip -6 route show table main") + lines("ip -6 route show table local");
    EXPECT_EQ(static_cast<int>(t->NumEntries), expected);
    bool sawDefault = false, sawVia = false, sawLocal = false, sawOnLink = false;
    for (ULONG i = 0; i < t->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& r = t->Table[i];
        EXPECT_EQ(r.DestinationPrefix.Prefix.si_family, AF_INET6);
        const std::string dest = text(r.DestinationPrefix.Prefix);
        if (dest == "::" && r.DestinationPrefix.PrefixLength == 0) {
            sawDefault = true;
            EXPECT_EQ(text(r.NextHop), "fe80::1");
            EXPECT_EQ(r.NextHop.Ipv6.sin6_scope_id, index_);
            EXPECT_EQ(r.InterfaceIndex, index_);
            EXPECT_EQ(r.Metric, 100u);
            EXPECT_EQ(r.Protocol, static_cast<ULONG>(MIB_IPPROTO_NETMGMT));
            EXPECT_TRUE(r.Immortal);
        } else if (dest == "2001:db8:99::") {
            sawVia = true;
            EXPECT_EQ(r.DestinationPrefix.PrefixLength, 48);
            EXPECT_EQ(text(r.NextHop), "2001:db8:1::fe");
            EXPECT_EQ(r.NextHop.Ipv6.sin6_scope_id, 0u);
            EXPECT_EQ(r.Metric, 50u);
        } else if (dest == "2001:db8:1::" && r.DestinationPrefix.PrefixLength == 64) {
            sawOnLink = true;
            EXPECT_EQ(text(r.NextHop), "::"); // on-link
            EXPECT_EQ(r.Origin, NlroWellKnown);
        } else if (dest == "2001:db8:1::1") {
            sawLocal = true;
            EXPECT_TRUE(r.Loopback);
            EXPECT_EQ(r.Protocol, static_cast<ULONG>(MIB_IPPROTO_LOCAL));
        }
        EXPECT_NE(dest, "2001:db8:100::") << "a table-100 route in the forward table";
    }
    EXPECT_TRUE(sawDefault && sawVia && sawOnLink && sawLocal);

    MIB_IPFORWARD_TABLE2* both = nullptr;
    ASSERT_EQ(GetIpForwardTable2(AF_UNSPEC, &both), NO_ERROR);
    const Owned<MIB_IPFORWARD_TABLE2> b(both);
    EXPECT_EQ(static_cast<int>(b->NumEntries), expected + lines("ip -4 route show table main") +
                                                   lines("ip -4 route show table local"));
    EXPECT_EQ(b->Table[0].DestinationPrefix.Prefix.si_family, AF_INET);
}

TEST_F(DualWorld, EveryRoutingTableAndOneTableAlone) {
    CORVANE_ROUTE_TABLE* raw = nullptr;
    ASSERT_EQ(CorvaneGetRouteTable(AF_UNSPEC, CORVANE_ALL_TABLES, &raw), NO_ERROR);
    const Owned<CORVANE_ROUTE_TABLE> all(raw);
    EXPECT_EQ(static_cast<int>(all->NumEntries),
              lines("ip -4 route show table all") + lines("ip -6 route show table all"));
    const CORVANE_ROUTE_ROW* v4 = findRoute(*all, "10.99.0.0", 16, 100);
    ASSERT_TRUE(v4);
    EXPECT_EQ(text(v4->Route.NextHop), "10.9.0.254");
    EXPECT_EQ(v4->Type, CORVANE_ROUTE_UNICAST);
    EXPECT_EQ(v4->KernelProtocol, 3); // boot: what ip says unless told
    const CORVANE_ROUTE_ROW* v6 = findRoute(*all, "2001:db8:100::", 48, 100);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Route.NextHop.si_family, AF_INET6);
    EXPECT_EQ(text(v6->Route.NextHop), "::");
    EXPECT_TRUE(findRoute(*all, "10.77.0.0", 16, 1000)) << "a table number above 255";
    const CORVANE_ROUTE_ROW* local = findRoute(*all, "10.9.0.1", 32, CORVANE_TABLE_LOCAL);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->Type, CORVANE_ROUTE_LOCAL);
    EXPECT_EQ(text(local->PreferredSource), "10.9.0.1");

    for (const ULONG table : {100u, 1000u}) {
        CORVANE_ROUTE_TABLE* one = nullptr;
        ASSERT_EQ(CorvaneGetRouteTable(AF_UNSPEC, table, &one), NO_ERROR);
        const Owned<CORVANE_ROUTE_TABLE> t(one);
        const std::string n = std::to_string(table);
        EXPECT_EQ(static_cast<int>(t->NumEntries),
                  lines("ip -4 route show table " + n) +
                      // ip fails on a table the family does not have
                      lines("ip -6 route show table " + n + " 2>/dev/null || true"));
        for (ULONG i = 0; i < t->NumEntries; ++i)
            EXPECT_EQ(t->Table[i].Table, table);
    }
    // A table nobody made has no routes, and that is no failure.
    CORVANE_ROUTE_TABLE* empty = nullptr;
    ASSERT_EQ(CorvaneGetRouteTable(AF_INET6, 4242, &empty), NO_ERROR);
    const Owned<CORVANE_ROUTE_TABLE> e(empty);
    EXPECT_EQ(e->NumEntries, 0u);
}

namespace {

// What a route row says, padding aside.
std::vector<std::string> described(const CORVANE_ROUTE_TABLE& t, bool exceptMain) {
    std::vector<std::string> out;
    for (ULONG i = 0; i < t.NumEntries; ++i) {
        const CORVANE_ROUTE_ROW& r = t.Table[i];
        if (exceptMain && r.Table == CORVANE_TABLE_MAIN)
            continue;
        std::ostringstream line;
        line << r.Table << ' ' << text(r.Route.DestinationPrefix.Prefix) << '/'
             << int{r.Route.DestinationPrefix.PrefixLength} << " via " << text(r.Route.NextHop)
             << " if " << r.Route.InterfaceIndex << " metric " << r.Route.Metric << " type "
             << int{r.Type} << " proto " << int{r.KernelProtocol} << " src "
             << text(r.PreferredSource);
        out.push_back(line.str());
    }
    return out;
}

std::vector<std::string> exceptMain(ADDRESS_FAMILY family) {
    CORVANE_ROUTE_TABLE* raw = nullptr;
    EXPECT_EQ(CorvaneGetRouteTableExceptMain(family, &raw), NO_ERROR);
    const Owned<CORVANE_ROUTE_TABLE> t(raw);
    return t ? described(*t, false) : std::vector<std::string>{};
}

std::vector<std::string> allButMain(ADDRESS_FAMILY family) {
    CORVANE_ROUTE_TABLE* raw = nullptr;
    EXPECT_EQ(CorvaneGetRouteTable(family, CORVANE_ALL_TABLES, &raw), NO_ERROR);
    const Owned<CORVANE_ROUTE_TABLE> t(raw);
    return t ? described(*t, true) : std::vector<std::string>{};
}

} // namespace

// The IPv4 part comes from the forward table's read, not a dump of its own: it must be the
// same rows as a dump gives, and follow a change made after that read.
TEST_F(DualWorld, EveryTableButMainAsADumpGivesIt) {
    sh("ip route add 10.78.0.0/16 table 100 nexthop via 10.9.0.2 nexthop via 10.9.0.3");
    for (const ADDRESS_FAMILY f : {AF_INET, AF_INET6, AF_UNSPEC})
        EXPECT_EQ(exceptMain(f), allButMain(f)) << f;
    const std::vector<std::string> before = exceptMain(AF_INET);
    EXPECT_TRUE(std::any_of(before.begin(), before.end(), [](const std::string& l) {
        return l.rfind("255 10.9.0.1/32", 0) == 0;
    })) << "the local table is there";
    sh("ip route add 10.79.0.0/16 dev dv0 table 100");
    const unsigned splits = corvane::sys::forwardCacheStats().splits;
    const std::vector<std::string> after = exceptMain(AF_INET);
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after, allButMain(AF_INET));
    // Known from the announcements, the tables are read one by one beside the main table:
    // new ones too, hashed before the main table (1000) and into its bucket (510).
    EXPECT_EQ(corvane::sys::forwardCacheStats().splits, splits + 1);
    sh("ip route add 10.80.0.0/16 dev dv0 table 1000 && ip route add 10.81.0.0/16 dev dv0 "
       "table 510");
    EXPECT_EQ(exceptMain(AF_INET), allButMain(AF_INET));
    EXPECT_EQ(corvane::sys::forwardCacheStats().splits, splits + 2);
    sh("ip route flush table 1000 && ip route flush table 510");
    sh("ip route del 10.79.0.0/16 dev dv0 table 100 && ip route del 10.78.0.0/16 table 100");
    EXPECT_EQ(exceptMain(AF_INET), allButMain(AF_INET));
    CORVANE_ROUTE_TABLE* none = nullptr;
    EXPECT_EQ(CorvaneGetRouteTableExceptMain(AF_INET, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CorvaneGetRouteTableExceptMain(AF_APPLETALK, &none), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(none, nullptr);
}

// The IPv6 routes are dumped once for the calls of one refresh: reused while nothing is
// announced, read again after a change, and an expiring route's lifetime still counts down.
TEST_F(DualWorld, Ipv6RoutesReadOnceForARefresh) {
    const auto lifetimeOf = [](const char* destination) -> ULONG {
        CORVANE_ROUTE_TABLE* raw = nullptr;
        EXPECT_EQ(CorvaneGetRouteTable(AF_INET6, CORVANE_ALL_TABLES, &raw), NO_ERROR);
        const Owned<CORVANE_ROUTE_TABLE> t(raw);
        const CORVANE_ROUTE_ROW* r =
            t ? findRoute(*t, destination, 48, CORVANE_TABLE_MAIN) : nullptr;
        return r ? r->Route.ValidLifetime : 0;
    };
    sh("ip -6 route add 2001:db8:77::/48 dev dv0 expires 300");
    const ULONG first = lifetimeOf("2001:db8:77::");
    ASSERT_GT(first, 290U);
    ASSERT_LE(first, 300U);
    // The world announces things of its own now and then (an address's duplicate detection
    // ending), each a fair reason to read again: a quiet moment is waited for, a few times.
    bool shared = false, aged = false;
    corvane::sys::Route6CacheStats after{};
    for (int attempt = 0; attempt < 5 && !(shared && aged); ++attempt) {
        (void)lifetimeOf("2001:db8:77::");
        const corvane::sys::Route6CacheStats before = corvane::sys::route6CacheStats();
        const ULONG start = lifetimeOf("2001:db8:77::");
        MIB_IPFORWARD_TABLE2* forward = nullptr;
        ASSERT_EQ(GetIpForwardTable2(AF_INET6, &forward), NO_ERROR);
        const Owned<MIB_IPFORWARD_TABLE2> f(forward);
        EXPECT_EQ(static_cast<int>(f->NumEntries),
                  lines("ip -6 route show table main") + lines("ip -6 route show table local"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        const ULONG later = lifetimeOf("2001:db8:77::");
        after = corvane::sys::route6CacheStats();
        if (after.reads != before.reads)
            continue; // read again meanwhile: nothing shown about sharing
        shared = shared || after.reuses == before.reuses + 3;
        // Counted down while the read is reused, as the kernel would count it.
        aged = aged || (later < start && later + 3 >= start);
    }
    EXPECT_TRUE(shared) << "one dump serves the calls of a refresh";
    EXPECT_TRUE(aged) << "the lifetime counts down while the read is reused";

    sh("ip -6 route add 2001:db8:78::/48 dev dv0");
    EXPECT_GT(lifetimeOf("2001:db8:78::"), 0U) << "an announced change is read at once";
    EXPECT_EQ(corvane::sys::route6CacheStats().reads, after.reads + 1);
    sh("ip -6 route del 2001:db8:78::/48 dev dv0 && ip -6 route del 2001:db8:77::/48 dev dv0");
    EXPECT_EQ(lifetimeOf("2001:db8:78::"), 0U);
}

TEST_F(DualWorld, PolicyRulesWithTheirSelectorsAndActions) {
    CORVANE_RULE_TABLE* raw = nullptr;
    ASSERT_EQ(CorvaneGetRuleTable(AF_UNSPEC, &raw), NO_ERROR);
    const Owned<CORVANE_RULE_TABLE> t(raw);
    EXPECT_EQ(static_cast<int>(t->NumEntries), lines("ip -4 rule show") + lines("ip -6 rule show"));
    const auto find = [&](ADDRESS_FAMILY f, ULONG priority) -> const CORVANE_RULE_ROW* {
        for (ULONG i = 0; i < t->NumEntries; ++i)
            if (t->Table[i].Family == f && t->Table[i].Priority == priority)
                return &t->Table[i];
        return nullptr;
    };
    const CORVANE_RULE_ROW* from = find(AF_INET, 1000);
    ASSERT_TRUE(from);
    EXPECT_EQ(from->Action, CORVANE_RULE_TO_TABLE);
    EXPECT_EQ(from->Table, 100u);
    EXPECT_EQ(text(from->Source.Prefix), "10.9.0.0");
    EXPECT_EQ(from->Source.PrefixLength, 24);
    EXPECT_EQ(from->Destination.PrefixLength, 0);
    EXPECT_EQ(from->Destination.Prefix.si_family, 0);
    EXPECT_EQ(from->FwMask, 0u);
    EXPECT_STREQ(from->InInterface, "");

    const CORVANE_RULE_ROW* mark = find(AF_INET, 1001);
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->Table, 1000u);
    EXPECT_EQ(mark->FwMark, 0x10u);
    EXPECT_EQ(mark->FwMask, 0xffu);
    EXPECT_TRUE(mark->Flags & CORVANE_RULE_INVERT);
    EXPECT_STREQ(mark->InInterface, "dv0");

    const CORVANE_RULE_ROW* to = find(AF_INET6, 1002);
    ASSERT_TRUE(to);
    EXPECT_EQ(to->Action, CORVANE_RULE_PROHIBIT);
    EXPECT_EQ(text(to->Destination.Prefix), "2001:db8:5::");
    EXPECT_EQ(to->Destination.PrefixLength, 64);
    EXPECT_STREQ(to->OutInterface, "dv0");

    // The kernel's own: main at 32766 in both families, local at 0.
    ASSERT_TRUE(find(AF_INET6, 32766));
    EXPECT_EQ(find(AF_INET6, 32766)->Table, CORVANE_TABLE_MAIN);
    ASSERT_TRUE(find(AF_INET, 0));
    EXPECT_EQ(find(AF_INET, 0)->Table, CORVANE_TABLE_LOCAL);
    EXPECT_EQ(find(AF_INET, 0)->SuppressPrefixLength, -1);
}

namespace {

int bound6(int type, const char* address, uint16_t port, bool v6only) {
    const int fd = ::socket(AF_INET6, type | SOCK_CLOEXEC, 0);
    const int one = 1, flag = v6only ? 1 : 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &flag, sizeof flag);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, address, &a.sin6_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 4) != 0))
        return -1;
    return fd;
}

struct Fd {
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The whole table of a class by the two-call protocol.
template <typename Table, typename Get, typename... A>
std::vector<uint8_t> twoCalls(Get get, ULONG family, A... cls) {
    DWORD size = 0;
    EXPECT_EQ(get(nullptr, &size, kSorted, family, cls..., 0), ERROR_INSUFFICIENT_BUFFER);
    std::vector<uint8_t> buf(size);
    EXPECT_EQ(get(buf.data(), &size, kSorted, family, cls..., 0), NO_ERROR);
    return buf;
}

} // namespace

TEST(DualSockets, Ipv6ListenersWithOwnersAndTheDualStackOne) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link set lo up");
    const Fd dual{bound6(SOCK_STREAM, "::", 8080, false)};
    const Fd only{bound6(SOCK_STREAM, "::1", 8081, true)};
    const Fd udp{bound6(SOCK_DGRAM, "::", 5355, false)};
    const Fd udpOnly{bound6(SOCK_DGRAM, "::1", 5356, true)};
    ASSERT_TRUE(dual.fd >= 0 && only.fd >= 0 && udp.fd >= 0 && udpOnly.fd >= 0);
    // An IPv4 client of the dual-stack listener: its server end is an IPv6 socket.
    const Fd client{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8080);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const Fd server{::accept(dual.fd, nullptr, nullptr)};
    ASSERT_GE(server.fd, 0);
    const auto self = static_cast<DWORD>(::getpid());

    const auto tcpBuf =
        twoCalls<MIB_TCP6TABLE_OWNER_PID>(GetExtendedTcpTable, AF_INET6, TCP_TABLE_OWNER_PID_ALL);
    const auto* tcp = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(tcpBuf.data());
    EXPECT_EQ(static_cast<int>(tcp->dwNumEntries), lines("ss -H -n -a -6 -t"));
    int listeners = 0, mapped = 0;
    for (DWORD i = 0; i < tcp->dwNumEntries; ++i) {
        const MIB_TCP6ROW_OWNER_PID& r = tcp->table[i];
        const uint16_t port = ntohs(static_cast<uint16_t>(r.dwLocalPort));
        if (r.dwState == MIB_TCP_STATE_LISTEN && (port == 8080 || port == 8081)) {
            ++listeners;
            EXPECT_EQ(text6(r.ucLocalAddr), port == 8080 ? "::" : "::1");
            EXPECT_EQ(text6(r.ucRemoteAddr), "::");
            EXPECT_EQ(r.dwOwningPid, self);
        }
        if (r.dwState == MIB_TCP_STATE_ESTAB && port == 8080) {
            ++mapped; // the IPv4 client's peer, as IPv6 sees it
            EXPECT_EQ(text6(r.ucLocalAddr), "::ffff:127.0.0.1");
            EXPECT_EQ(r.dwOwningPid, self);
        }
    }
    EXPECT_EQ(listeners, 2);
    EXPECT_EQ(mapped, 1);
    // The IPv4 table has the client end, and nothing of the IPv6 sockets.
    const auto tcp4Buf =
        twoCalls<MIB_TCPTABLE_OWNER_PID>(GetExtendedTcpTable, AF_INET, TCP_TABLE_OWNER_PID_ALL);
    const auto* tcp4 = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(tcp4Buf.data());
    EXPECT_EQ(static_cast<int>(tcp4->dwNumEntries), lines("ss -H -n -a -4 -t"));
    // Closed connections of earlier runs may linger in TIME_WAIT, owned by nobody.
    int clients = 0;
    for (DWORD i = 0; i < tcp4->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& r = tcp4->table[i];
        if (r.dwState == MIB_TCP_STATE_ESTAB) {
            ++clients;
            EXPECT_EQ(ntohs(static_cast<uint16_t>(r.dwRemotePort)), 8080);
            EXPECT_EQ(r.dwOwningPid, self);
        }
    }
    EXPECT_EQ(clients, 1);

    // Which IPv6 sockets serve IPv4 too.
    const auto flagsBuf = twoCalls<CORVANE_TCP6TABLE_OWNER_PID_FLAGS>(
        GetExtendedTcpTable, AF_INET6, CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL);
    const auto* flags = reinterpret_cast<const CORVANE_TCP6TABLE_OWNER_PID_FLAGS*>(flagsBuf.data());
    ASSERT_EQ(flags->dwNumEntries, tcp->dwNumEntries);
    for (DWORD i = 0; i < flags->dwNumEntries; ++i) {
        const auto& r = flags->table[i];
        EXPECT_EQ(std::memcmp(&r.Row, &tcp->table[i], sizeof r.Row), 0) << i;
        const uint16_t port = ntohs(static_cast<uint16_t>(r.Row.dwLocalPort));
        if (r.Row.dwState == MIB_TCP_STATE_LISTEN && port == 8080) {
            EXPECT_EQ(r.dwFlags & CORVANE_SOCKET_V6ONLY, 0u);
        }
        if (port == 8081) {
            EXPECT_EQ(r.dwFlags & CORVANE_SOCKET_V6ONLY, CORVANE_SOCKET_V6ONLY);
        }
    }

    // Listeners and connections apart.
    const auto listenBuf = twoCalls<MIB_TCP6TABLE_OWNER_PID>(GetExtendedTcpTable, AF_INET6,
                                                             TCP_TABLE_OWNER_PID_LISTENER);
    const auto* listen = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(listenBuf.data());
    EXPECT_EQ(listen->dwNumEntries, 2u);
    const auto connBuf = twoCalls<MIB_TCP6TABLE_OWNER_PID>(GetExtendedTcpTable, AF_INET6,
                                                           TCP_TABLE_OWNER_PID_CONNECTIONS);
    const auto* conn = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(connBuf.data());
    int established = 0;
    for (DWORD i = 0; i < conn->dwNumEntries; ++i) {
        EXPECT_NE(conn->table[i].dwState, static_cast<DWORD>(MIB_TCP_STATE_LISTEN));
        established += conn->table[i].dwState == MIB_TCP_STATE_ESTAB;
    }
    EXPECT_EQ(established, 1);
    EXPECT_EQ(conn->dwNumEntries + listen->dwNumEntries, tcp->dwNumEntries);

    const auto udpBuf =
        twoCalls<MIB_UDP6TABLE_OWNER_PID>(GetExtendedUdpTable, AF_INET6, UDP_TABLE_OWNER_PID);
    const auto* u = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(udpBuf.data());
    ASSERT_EQ(u->dwNumEntries, 2u);
    // Sorted: "::" before "::1".
    EXPECT_EQ(text6(u->table[0].ucLocalAddr), "::");
    EXPECT_EQ(ntohs(static_cast<uint16_t>(u->table[0].dwLocalPort)), 5355);
    EXPECT_EQ(text6(u->table[1].ucLocalAddr), "::1");
    EXPECT_EQ(u->table[0].dwOwningPid, self);
    const auto udpFlagsBuf = twoCalls<CORVANE_UDP6TABLE_OWNER_PID_FLAGS>(
        GetExtendedUdpTable, AF_INET6, CORVANE_UDP_TABLE_OWNER_PID_FLAGS);
    const auto* uf = reinterpret_cast<const CORVANE_UDP6TABLE_OWNER_PID_FLAGS*>(udpFlagsBuf.data());
    ASSERT_EQ(uf->dwNumEntries, 2u);
    EXPECT_EQ(uf->table[0].dwFlags, 0u);
    EXPECT_EQ(uf->table[1].dwFlags, CORVANE_SOCKET_V6ONLY);

    // Classes and families the tables do not take.
    DWORD size = 0;
    EXPECT_EQ(GetExtendedTcpTable(nullptr, &size, kSorted, AF_INET6, TCP_TABLE_OWNER_MODULE_ALL, 0),
              ERROR_NOT_SUPPORTED);
    EXPECT_EQ(GetExtendedTcpTable(nullptr, &size, kSorted, AF_INET,
                                  CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL, 0),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetExtendedUdpTable(nullptr, &size, kSorted, 23, UDP_TABLE_OWNER_PID, 0),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetExtendedUdpTable(nullptr, nullptr, kSorted, AF_INET6, UDP_TABLE_OWNER_PID, 0),
              ERROR_INVALID_PARAMETER);
}

TEST(DualSockets, TwoCallProtocolAroundTheExactSize) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link set lo up");
    std::vector<std::unique_ptr<Fd>> held;
    for (uint16_t p = 9000; p < 9005; ++p)
        held.push_back(std::make_unique<Fd>(bound6(SOCK_STREAM, "::1", p, true)));
    // Listeners only: closed connections of other tests may linger in the namespace.
    DWORD size = 0;
    ASSERT_EQ(
        GetExtendedTcpTable(nullptr, &size, kSorted, AF_INET6, TCP_TABLE_OWNER_PID_LISTENER, 0),
        ERROR_INSUFFICIENT_BUFFER);
    const DWORD needed = sizeof(DWORD) + 5 * sizeof(MIB_TCP6ROW_OWNER_PID);
    EXPECT_EQ(size, needed);
    std::vector<uint8_t> buf(needed + 64, 0xee);
    size = needed - 1;
    EXPECT_EQ(
        GetExtendedTcpTable(buf.data(), &size, kSorted, AF_INET6, TCP_TABLE_OWNER_PID_LISTENER, 0),
        ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buf[0], 0xee) << "a refused call wrote into the buffer";
    ASSERT_EQ(
        GetExtendedTcpTable(buf.data(), &size, kSorted, AF_INET6, TCP_TABLE_OWNER_PID_LISTENER, 0),
        NO_ERROR);
    const auto* t = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buf.data());
    ASSERT_EQ(t->dwNumEntries, 5u);
    for (DWORD i = 0; i < 5; ++i)
        EXPECT_EQ(ntohs(static_cast<uint16_t>(t->table[i].dwLocalPort)), 9000 + i) << "sorted";
    EXPECT_EQ(buf[needed], 0xee) << "wrote past the table";

    // No sockets at all: the bare table.
    held.clear();
    size = 0;
    ASSERT_EQ(GetExtendedUdpTable(nullptr, &size, kSorted, AF_INET6, UDP_TABLE_OWNER_PID, 0),
              ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, sizeof(MIB_UDP6TABLE_OWNER_PID));
    MIB_UDP6TABLE_OWNER_PID empty;
    empty.dwNumEntries = 99;
    ASSERT_EQ(GetExtendedUdpTable(&empty, &size, kSorted, AF_INET6, UDP_TABLE_OWNER_PID, 0),
              NO_ERROR);
    EXPECT_EQ(empty.dwNumEntries, 0u);
}

TEST_F(DualWorld, DnsServersOfBothFamiliesPerLinkAndSystemWide) {
    const std::string dir = "/tmp/" + uniqueName("dual-dns");
    sh("mkdir -p " + dir + "/netif");
    sh(R"(printf 'nameserver 192.0.2.53\nnameserver 2001:db8::53\nnameserver fe80::1%%dv0\n' > )" +
       dir + "/resolv.conf");
    sh(R"(printf 'SERVERS=2001:db8:1::53 192.0.2.1 [2001:db8:1::54]:853#dns.example\n' > )" + dir +
       "/netif/" + std::to_string(index_));
    ::setenv("CORVANE_RESOLV_CONF", (dir + "/resolv.conf").c_str(), 1);
    ::setenv("CORVANE_RESOLVED_NETIF_DIR", (dir + "/netif").c_str(), 1);
    CORVANE_DNS_SERVER_TABLE* raw = nullptr;
    const DWORD all = CorvaneGetDnsServerTable(AF_UNSPEC, &raw);
    const Owned<CORVANE_DNS_SERVER_TABLE> t(raw);
    CORVANE_DNS_SERVER_TABLE* raw6 = nullptr;
    const DWORD only6 = CorvaneGetDnsServerTable(AF_INET6, &raw6);
    const Owned<CORVANE_DNS_SERVER_TABLE> t6(raw6);
    ::unsetenv("CORVANE_RESOLV_CONF");
    ::unsetenv("CORVANE_RESOLVED_NETIF_DIR");
    sh("rm -rf " + dir);
    ASSERT_EQ(all, NO_ERROR);
    const std::vector<std::pair<NET_IFINDEX, std::string>> expected = {
        {index_, "2001:db8:1::53"}, {index_, "192.0.2.1"}, {index_, "2001:db8:1::54"},
        {0, "192.0.2.53"},          {0, "2001:db8::53"},   {0, "fe80::1"}};
    std::vector<std::pair<NET_IFINDEX, std::string>> got;
    for (ULONG i = 0; i < t->NumEntries; ++i)
        got.emplace_back(t->Table[i].InterfaceIndex, text(t->Table[i].Address));
    EXPECT_EQ(got, expected);
    ASSERT_EQ(t->NumEntries, 6u);
    EXPECT_EQ(t->Table[5].Address.Ipv6.sin6_scope_id, index_) << "the zone by interface name";
    ASSERT_EQ(only6, NO_ERROR);
    EXPECT_EQ(t6->NumEntries, 4u);
}

// A big world's worth of routes: one dump per family, rows without per-row allocations.
TEST_F(DualWorld, HundredThousandRoutesInOneRead) {
    const std::string batch = "/tmp/" + uniqueName("dual-routes");
    sh("awk 'BEGIN { for (i = 0; i < 50000; i++) printf \"route add 2001:db8:%x:%x::/64 dev "
       "dv0\\n\", "
       "int(i / 256) + 4096, i % 256 }' > " +
       batch + "-6");
    sh("awk 'BEGIN { for (i = 0; i < 50000; i++) printf \"route add 10.%d.%d.0/24 dev dv0 table "
       "100\\n\", "
       "int(i / 256) + 20, i % 256 }' > " +
       batch + "-4");
    sh("ip -6 -batch " + batch + "-6 && ip -4 -batch " + batch + "-4 && rm -f " + batch + "-6 " +
       batch + "-4");
    using Clock = std::chrono::steady_clock;
    double best = 1e9, forwardBest = 1e9;
    ULONG rows = 0, forwardRows = 0;
    for (int round = 0; round < 3; ++round) {
        const auto t0 = Clock::now();
        CORVANE_ROUTE_TABLE* raw = nullptr;
        ASSERT_EQ(CorvaneGetRouteTable(AF_UNSPEC, CORVANE_ALL_TABLES, &raw), NO_ERROR);
        const Owned<CORVANE_ROUTE_TABLE> t(raw);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        rows = t->NumEntries;
        const auto t1 = Clock::now();
        MIB_IPFORWARD_TABLE2* f = nullptr;
        ASSERT_EQ(GetIpForwardTable2(AF_UNSPEC, &f), NO_ERROR);
        const Owned<MIB_IPFORWARD_TABLE2> ft(f);
        forwardBest = std::min(
            forwardBest, std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
        forwardRows = ft->NumEntries;
    }
    EXPECT_GT(rows, 100000u);
    EXPECT_GT(forwardRows, 50000u);
    EXPECT_LT(forwardRows, rows - 50000u + 1) << "table 100 stays out of the forward table";
    std::printf("[   TIME   ] every table: %u rows in %.1f ms; forward table: %u rows in %.1f ms\n",
                rows, best, forwardRows, forwardBest);
    EXPECT_LT(best, 3000.0);
}
