// The interface table, the routing table, the outgoing interface and the change counts,
// against a world built with `ip` and compared with what `ip` itself reports.
#include "change_counts.h"
#include "forward_cache.h"
#include "iphlpapi.h"
#include "netlink/read.h"
#include "netns.h"
#include "route_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

uint32_t ip(const std::string& text) {
    return ::inet_addr(text.c_str());
}

// The rows of a table, read through the two-call protocol from a size of 0, as the
// program's statistics window does.
template <typename Table, typename Fn> auto rows(Fn get, BOOL sorted) {
    ULONG size = 0;
    std::vector<uint8_t> buf(sizeof(Table));
    EXPECT_EQ(get(reinterpret_cast<Table*>(buf.data()), &size, sorted), ERROR_INSUFFICIENT_BUFFER);
    buf.resize(size);
    EXPECT_EQ(get(reinterpret_cast<Table*>(buf.data()), &size, sorted), NO_ERROR);
    const auto* t = reinterpret_cast<const Table*>(buf.data());
    EXPECT_EQ(size, offsetof(Table, table) + t->dwNumEntries * sizeof(t->table[0]));
    return std::vector(t->table, t->table + t->dwNumEntries);
}

std::vector<MIB_IFROW> ifTable(BOOL sorted) {
    return rows<MIB_IFTABLE>(GetIfTable, sorted);
}

std::vector<MIB_IPFORWARDROW> routeTable(BOOL sorted) {
    return rows<MIB_IPFORWARDTABLE>(GetIpForwardTable, sorted);
}

std::vector<std::vector<std::string>> lines(const std::string& command) {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(shOut(command));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        out.emplace_back(std::istream_iterator<std::string>(words),
                         std::istream_iterator<std::string>());
    }
    return out;
}

// `ip -j` turned into one line of blank-separated fields per link or per next hop.
const char* const kLinks = R"(ip -j -s link show | python3 -c '
import json, sys
for l in json.load(sys.stdin):
    rx = l["stats64"]["rx"]; tx = l["stats64"]["tx"]
    print(l["ifindex"], l["ifname"], l.get("address", "-"), l["mtu"], int("UP" in l["flags"]),
          rx["bytes"], tx["bytes"], rx["dropped"], tx["errors"])')";
const char* const kRoutes = R"((ip -j route show table main; ip -j route show table local) |
python3 -c '
import json, sys
for line in sys.stdin:
    for r in json.loads(line):
        d = "0.0.0.0/0" if r["dst"] == "default" else r["dst"]
        d = d if "/" in d else d + "/32"
        for h in r.get("nexthops", [r]):
            dev = h.get("dev")
            index = open("/sys/class/net/%s/ifindex" % dev).read().strip() if dev else "0"
            print("%s %s %s %s" % (d, h.get("gateway", "0.0.0.0"), index, r.get("metric", 0)))')";

std::string text(uint32_t a) {
    char buf[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &a, buf, sizeof buf);
}

uint32_t index(const char* name) {
    return ::if_nametoindex(name);
}

// Interfaces of every kind the library names, traffic to a peer namespace, addresses,
// routes of several protocols and tables.
struct World {
    PeerNamespace peer{"tpeer"};
    World() {
        sh("sysctl -qw net.ipv6.conf.default.disable_ipv6=1"); // no background traffic
        sh("ip link add ta0 address 02:00:00:00:0a:01 type veth peer name pa0 netns " +
           peer.name());
        peer.run("ip link set pa0 address 02:00:00:00:0a:02 up");
        peer.run("ip addr add 10.20.0.2/24 dev pa0");
        sh("ip addr add 10.20.0.1/24 dev ta0 && ip addr add 10.20.1.1/24 dev ta0 && "
           "ip addr add 10.20.1.2/24 dev ta0 && ip link set ta0 up");
        sh("ip link add tbr0 type bridge && ip link add tb0 type veth peer name tb1");
        sh("ip link set tb1 master tbr0 && ip link set tb0 up && ip link set tb1 up");
        sh("ip addr add 10.21.0.1/24 dev tbr0 && ip link set tbr0 up");
        sh("ip tuntap add dev ttun0 mode tun && ip addr add 10.22.0.1/24 dev ttun0");
        sh("ip link set ttun0 up");
        sh("ip link add tc0 type veth peer name tc1"); // left down
        sh("ip route add default via 10.20.0.2 metric 20");
        sh("ip route add default via 10.21.0.2 metric 10");
        sh("ip route add 10.30.0.0/16 via 10.20.0.2 proto static");
        sh("ip route add 10.31.0.0/16 via 10.21.0.2 proto bgp");
        sh("ip route add 10.32.0.0/16 dev ttun0 proto ospf");
        sh("ip route add 10.33.0.0/16 via 10.20.0.2 table 100");
        sh("ip route add blackhole 10.34.0.0/16 && ip route add prohibit 10.36.0.0/16");
        sh("ip route add 10.35.0.0/16 nexthop via 10.20.0.2 nexthop via 10.21.0.2");
        sh("bash -c 'echo x > /dev/udp/10.20.0.2/9'"); // traffic into the peer namespace
        // The kernel reports carrier changes with a delay.
        sh("for i in $(seq 50); do grep -q up /sys/class/net/ta0/operstate && "
           "grep -q up /sys/class/net/tbr0/operstate && exit 0; sleep 0.1; done; exit 1");
    }
    ~World() {
        shMayFail(
            "(for l in ta0 tbr0 tb0 tc0 ttun0; do ip link del $l; done; ip route flush table 100; "
            "ip route flush type blackhole; ip route flush type prohibit) 2>/dev/null");
    }
};

} // namespace

TEST(Tables, InterfaceTableMatchesIp) {
    CORVANE_REQUIRE_NETNS();
    {
        // Loopback alone fits the one-row buffer the program starts with.
        MIB_IFTABLE t{};
        ULONG size = sizeof t;
        ASSERT_EQ(GetIfTable(&t, &size, 1), NO_ERROR);
        EXPECT_EQ(t.dwNumEntries, 1u);
        EXPECT_EQ(t.table[0].dwType, static_cast<DWORD>(IF_TYPE_SOFTWARE_LOOPBACK));
        EXPECT_EQ(t.table[0].dwPhysAddrLen, 0u);
    }
    World world;
    const auto before = lines(kLinks);
    const std::vector<MIB_IFROW> unsorted = ifTable(0);
    const auto after = lines(kLinks);
    ASSERT_EQ(unsorted.size(), before.size());
    std::vector<std::string> descriptions;
    for (size_t i = 0; i < before.size(); ++i) {
        const auto& want = before[i];
        const MIB_IFROW& row = unsorted[i]; // the kernel's order, as `ip` shows it
        SCOPED_TRACE(want[1]);
        EXPECT_EQ(std::to_string(row.dwIndex), want[0]);
        std::string name;
        for (const WCHAR* c = row.wszName; *c; ++c)
            name += static_cast<char>(*c);
        EXPECT_EQ(name, want[1]);
        std::string mac;
        for (DWORD b = 0; b < row.dwPhysAddrLen; ++b) {
            char hex[4];
            std::snprintf(hex, sizeof hex, b ? ":%02x" : "%02x", row.bPhysAddr[b]);
            mac += hex;
        }
        EXPECT_EQ(mac.empty() ? "-" : mac, row.dwType == IF_TYPE_SOFTWARE_LOOPBACK ? "-" : want[2]);
        EXPECT_EQ(std::to_string(row.dwMtu), want[3]);
        EXPECT_EQ(row.dwAdminStatus, want[4] == "1" ? 1u : 2u);
        // Traffic may pass between the reads; the row lies between them.
        const auto between = [&](DWORD v, size_t field) {
            return v >= DWORD(std::stoull(before[i][field])) &&
                   v <= DWORD(std::stoull(after[i][field]));
        };
        EXPECT_TRUE(between(row.dwInOctets, 5) && between(row.dwOutOctets, 6));
        EXPECT_TRUE(between(row.dwInDiscards, 7) && between(row.dwOutErrors, 8));
        descriptions.emplace_back(reinterpret_cast<const char*>(row.bDescr), row.dwDescrLen - 1);
        EXPECT_NE(descriptions.back().find(name), std::string::npos);
        // The statistics window reads one row by index: the same row.
        MIB_IFROW one{};
        one.dwIndex = row.dwIndex;
        ASSERT_EQ(GetIfEntry(&one), NO_ERROR);
        EXPECT_EQ(std::memcmp(&one, &row, offsetof(MIB_IFROW, dwInOctets)), 0);
    }
    std::sort(descriptions.begin(), descriptions.end());
    EXPECT_EQ(std::adjacent_find(descriptions.begin(), descriptions.end()), descriptions.end());

    const std::vector<MIB_IFROW> sorted = ifTable(1);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                               [](const auto& a, const auto& b) { return a.dwIndex < b.dwIndex; }));
    const auto row = [&](const char* name) {
        return *std::find_if(sorted.begin(), sorted.end(),
                             [&](const MIB_IFROW& r) { return r.dwIndex == index(name); });
    };
    const std::pair<const char*, std::pair<DWORD, DWORD>> kinds[] = {
        {"lo", {IF_TYPE_SOFTWARE_LOOPBACK, MIB_IF_OPER_STATUS_OPERATIONAL}},
        {"ta0", {IF_TYPE_ETHERNET_CSMACD, MIB_IF_OPER_STATUS_OPERATIONAL}},
        {"tbr0", {IF_TYPE_ETHERNET_CSMACD, MIB_IF_OPER_STATUS_OPERATIONAL}},
        {"ttun0", {IF_TYPE_TUNNEL, MIB_IF_OPER_STATUS_DISCONNECTED}}, // no process attached
        {"tc0", {IF_TYPE_ETHERNET_CSMACD, MIB_IF_OPER_STATUS_NON_OPERATIONAL}},
    };
    for (const auto& [name, want] : kinds)
        EXPECT_EQ(std::pair(row(name).dwType, row(name).dwOperStatus), want) << name;
    EXPECT_GT(row("ta0").dwInOctets, 0u);

    // The program's first buffer holds one row: too small here, and it learns the size.
    MIB_IFTABLE one{};
    ULONG size = sizeof one;
    EXPECT_EQ(GetIfTable(&one, &size, 1), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 4 + sorted.size() * sizeof(MIB_IFROW));
    MIB_IFROW gone{};
    gone.dwIndex = index("tc0");
    sh("ip link del tc0");
    EXPECT_EQ(GetIfEntry(&gone), ERROR_DEV_NOT_EXIST);
}

TEST(Tables, RoutingTableMatchesIp) {
    CORVANE_REQUIRE_NETNS();
    World world;
    std::istringstream in(shOut(kRoutes));
    std::vector<std::string> wantKeys;
    for (std::string line; std::getline(in, line);)
        wantKeys.push_back(line);
    const std::vector<MIB_IPFORWARDROW> rows = routeTable(1);
    std::vector<std::string> gotKeys;
    for (const MIB_IPFORWARDROW& r : rows) {
        const bool gateway = r.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT;
        gotKeys.push_back(
            text(r.dwForwardDest) + "/" + std::to_string(__builtin_popcount(r.dwForwardMask)) +
            " " + (gateway ? text(r.dwForwardNextHop) : "0.0.0.0") + " " +
            std::to_string(r.dwForwardIfIndex) + " " + std::to_string(r.dwForwardMetric1));
    }
    std::sort(wantKeys.begin(), wantKeys.end());
    std::sort(gotKeys.begin(), gotKeys.end());
    EXPECT_EQ(gotKeys, wantKeys); // main and local, one row per next hop, never table 100

    // Sorted by destination first: the default routes lead, the lower metric first.
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::pair(ntohl(a.dwForwardDest), ntohl(a.dwForwardMask)) <
               std::pair(ntohl(b.dwForwardDest), ntohl(b.dwForwardMask));
    }));
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].dwForwardIfIndex, index("tbr0"));
    EXPECT_EQ(rows[1].dwForwardMetric1, 20u);

    const auto find = [&](const char* dst, uint32_t prefix) {
        return *std::find_if(rows.begin(), rows.end(), [&](const MIB_IPFORWARDROW& r) {
            return r.dwForwardDest == ip(dst) && __builtin_popcount(r.dwForwardMask) == int(prefix);
        });
    };
    // Protocols as the program names them; an on-link route's next hop is the address it
    // leaves from, named by the route or else the interface's first.
    const struct {
        const char* dst;
        uint32_t prefix;
        DWORD proto, type;
        const char* nextHop;
    } cases[] = {
        {"10.30.0.0", 16, MIB_IPPROTO_NETMGMT, MIB_IPROUTE_TYPE_INDIRECT, "10.20.0.2"},
        {"10.31.0.0", 16, MIB_IPPROTO_BGP, MIB_IPROUTE_TYPE_INDIRECT, "10.21.0.2"},
        {"10.32.0.0", 16, MIB_IPPROTO_OSPF, MIB_IPROUTE_TYPE_DIRECT, "10.22.0.1"},
        {"10.20.1.0", 24, MIB_IPPROTO_LOCAL, MIB_IPROUTE_TYPE_DIRECT, "10.20.1.1"},
        // The kernel makes a secondary address's host route leave from the primary one.
        {"10.20.1.2", 32, MIB_IPPROTO_LOCAL, MIB_IPROUTE_TYPE_DIRECT, "10.20.1.1"},
        {"10.20.0.255", 32, MIB_IPPROTO_LOCAL, MIB_IPROUTE_TYPE_DIRECT, "10.20.0.1"},
        {"10.34.0.0", 16, MIB_IPPROTO_NETMGMT, MIB_IPROUTE_TYPE_INVALID, "0.0.0.0"},
    };
    for (const auto& c : cases) {
        const MIB_IPFORWARDROW r = find(c.dst, c.prefix);
        EXPECT_EQ(std::tuple(r.dwForwardProto, r.dwForwardType, text(r.dwForwardNextHop)),
                  std::tuple(c.proto, c.type, std::string(c.nextHop)))
            << c.dst;
    }

    // The program's first buffer holds one row.
    MIB_IPFORWARDTABLE t{};
    ULONG size = sizeof t;
    EXPECT_EQ(GetIpForwardTable(&t, &size, 0), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 4 + rows.size() * sizeof(MIB_IPFORWARDROW));
}

TEST(Tables, OutgoingInterfaceIsTheKernelsChoice) {
    CORVANE_REQUIRE_NETNS();
    World world;
    const std::pair<const char*, const char*> cases[] =
        {
            {"10.30.1.1", "ta0"},  {"10.31.1.1", "tbr0"}, {"10.32.1.1", "ttun0"},
            {"10.20.1.77", "ta0"}, {"8.8.8.8", "tbr0"},   {"127.0.0.1", "lo"},
            {"10.21.0.1", "lo"}, // an own address is reached through loopback
        };
    for (const auto& [dst, dev] : cases) {
        DWORD got = 0;
        EXPECT_EQ(GetBestInterface(ip(dst), &got), NO_ERROR) << dst;
        EXPECT_EQ(got, index(dev)) << dst;
    }
    for (const char* dst : {"10.34.1.1", "10.36.1.1"}) { // blackhole, prohibit
        DWORD got = 77;
        EXPECT_EQ(GetBestInterface(ip(dst), &got), ERROR_NETWORK_UNREACHABLE) << dst;
        EXPECT_EQ(got, 77u);
    }
    sh("ip route del default via 10.20.0.2 && ip route del default via 10.21.0.2");
    DWORD got = 0;
    EXPECT_EQ(GetBestInterface(ip("8.8.8.8"), &got), ERROR_NETWORK_UNREACHABLE);
}

// The sysfs facts are kept between calls: a carrier that comes, a rename and a link made
// again under the same name must still show at once.
TEST(Tables, SysfsFactsFollowTheLink) {
    CORVANE_REQUIRE_NETNS();
    const auto row = [](const char* name) {
        MIB_IFROW r{};
        r.dwIndex = index(name);
        EXPECT_EQ(GetIfEntry(&r), NO_ERROR) << name;
        return r;
    };
    const auto description = [](const MIB_IFROW& r) {
        const auto* d = reinterpret_cast<const char*>(r.bDescr);
        return std::string(d, strnlen(d, r.dwDescrLen));
    };
    sh("ip link add ts0 type veth peer name ts1");
    EXPECT_EQ(row("ts0").dwSpeed, 0U) << "no carrier, no speed";
    EXPECT_EQ(row("ts0").dwSpeed, 0U);
    sh("ip link set ts0 up && ip link set ts1 up");
    EXPECT_GT(row("ts0").dwSpeed, 0U) << "the carrier came";
    sh("ip link set ts0 down && ip link set ts0 name tt0");
    EXPECT_EQ(description(row("tt0")).rfind("tt0 - ", 0), 0U) << description(row("tt0"));
    EXPECT_EQ(row("tt0").dwSpeed, 0U);
    sh("ip link del tt0 && ip link add ts0 type veth peer name ts1");
    sh("ip link set ts0 up && ip link set ts1 up");
    EXPECT_GT(row("ts0").dwSpeed, 0U);
    sh("ip link del ts0");
}

namespace {

void expectCountsMatchTables(const std::string& step) {
    MIB_IPSTATS s{};
    ASSERT_EQ(GetIpStatistics(&s), NO_ERROR) << step;
    std::vector<sys::nl::Address> addrs;
    ASSERT_EQ(sys::nl::readAddresses(addrs), 0);
    EXPECT_EQ(std::tuple(s.dwNumIf, s.dwNumAddr, s.dwNumRoutes),
              std::tuple(ifTable(0).size(), addrs.size(), routeTable(0).size()))
        << step;
}

// n host routes 10.<from>.0.0, 10.<from>.0.1 ... through dev, for `ip -batch`.
std::string batchFile(int n, int from, const std::string& dev) {
    std::string file = "/tmp/" + uniqueName("routes-" + dev);
    FILE* f = std::fopen(file.c_str(), "w");
    for (int i = 0; i < n; ++i)
        std::fprintf(f, "route add 10.%d.%d.%d/32 dev %s\n", from + i / 65536, (i / 256) % 256,
                     i % 256, dev.c_str());
    std::fclose(f);
    return file;
}

} // namespace

TEST(Tables, ChangeCountsFollowEveryChange) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add tx0 type veth peer name tx1 && ip link set tx0 up && ip link set tx1 up");
    sh("ip link add ty0 type veth peer name ty1 && ip link set ty0 up && ip link set ty1 up");
    sh("ip addr add 10.40.0.1/24 dev tx0 && ip addr add 10.41.0.1/24 dev ty0");
    expectCountsMatchTables("start");
    const char* const steps[] = {
        "ip route add 10.50.0.0/16 via 10.40.0.2",
        "ip route add 10.51.0.0/16 nexthop via 10.40.0.2 nexthop via 10.41.0.2",
        "ip route prepend 10.50.0.0/16 via 10.41.0.2", // the same destination and metric again
        "ip route append 10.50.0.0/16 via 10.40.0.3", "ip route replace 10.50.0.0/16 via 10.40.0.9",
        "ip route del 10.50.0.0/16 via 10.40.0.3",
        "ip route add 10.52.0.0/16 via 10.40.0.2 table 100", "ip addr add 10.40.1.1/24 dev tx0",
        "ip addr del 10.40.1.1/24 dev tx0", "ip link add tz0 type veth peer name tz1",
        "ip link del tz0",
        // The kernel removes routes without a word in the next steps.
        "ip link set tx0 down", "ip link set tx0 up && ip route add 10.54.0.0/16 via 10.40.0.2",
        "ip route add 10.53.0.0/16 dev ty0 src 10.40.0.1",
        "ip addr del 10.40.0.1/24 dev tx0", // the last address of tx0, and a route's source
    };
    for (const char* step : steps) {
        sh(step);
        expectCountsMatchTables(step);
    }

    // More announcements than the queue holds: the overflow is noticed and everything re-read.
    const unsigned rebuilds = sys::countCacheStats().rebuilds;
    const std::string file = batchFile(20000, 60, "ty0");
    sh("ip -batch " + file);
    std::remove(file.c_str());
    expectCountsMatchTables("20,000 routes added");
    EXPECT_GT(sys::countCacheStats().rebuilds, rebuilds);
    sh("ip link del ty0");
    expectCountsMatchTables("interface with 20,000 routes deleted");
    sh("ip link del tx0");

    MIB_IPSTATS s{};
    for (const auto& [forward, want] : {std::pair{1, 1u}, {0, 2u}}) {
        sh("sysctl -qw net.ipv4.ip_forward=" + std::to_string(forward));
        ASSERT_EQ(GetIpStatistics(&s), NO_ERROR);
        EXPECT_EQ(s.dwForwarding, want);
    }
}

namespace {

// The routing table read afresh, past anything kept between calls.
std::vector<MIB_IPFORWARDROW> freshRouteTable(bool sorted) {
    std::vector<sys::nl::Route> routes;
    EXPECT_EQ(sys::nl::readRoutes(routes), 0);
    std::vector<sys::nl::Address> addrs;
    EXPECT_EQ(sys::nl::readAddresses(addrs), 0);
    const auto first = sys::firstAddresses(addrs);
    auto rows = sys::forwardRows(routes, [&](uint32_t i) {
        const auto it = first.find(i);
        return it == first.end() ? 0u : it->second;
    });
    if (sorted)
        sys::sortForwardRows(rows);
    return rows;
}

bool sameRows(const std::vector<MIB_IPFORWARDROW>& a, const std::vector<MIB_IPFORWARDROW>& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(MIB_IPFORWARDROW)) == 0;
}

// Both orders as the library answers them, each compared with a fresh read; how many times
// the library dumped the routes for them.
unsigned expectRouteTableCurrent(const std::string& step) {
    const unsigned reads = sys::forwardCacheStats().reads;
    const auto unsorted = routeTable(0);
    const auto sorted = routeTable(1);
    EXPECT_TRUE(sameRows(unsorted, freshRouteTable(false))) << step;
    EXPECT_TRUE(sameRows(sorted, freshRouteTable(true))) << step;
    return sys::forwardCacheStats().reads - reads;
}

int readRouteTableInChild() {
    return routeTable(1).empty() ? 1 : 0;
}

} // namespace

// A refresh begins the long reads on a thread of their own: the routing table read next is
// that read, not a second dump, and a change made after it is still seen.
TEST(Tables, WarmedReadsServeTheNextRead) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add tw0 type veth peer name tw1 && ip link set tw0 up && ip link set tw1 up");
    sh("ip addr add 10.63.0.1/24 dev tw0 && ip route add 10.64.0.0/16 via 10.63.0.2");
    expectRouteTableCurrent("before");
    sh("ip route add 10.65.0.0/16 via 10.63.0.2");
    const unsigned reads = sys::forwardCacheStats().reads;
    ASSERT_EQ(CorvaneWarmReads(), NO_ERROR);
    expectRouteTableCurrent("warmed");
    EXPECT_EQ(sys::forwardCacheStats().reads, reads + 1) << "the warmed read answers";
    sh("ip route del 10.65.0.0/16");
    ASSERT_EQ(CorvaneWarmReads(), NO_ERROR);
    expectRouteTableCurrent("a change after it");
    sh("ip link del tw0");
}

TEST(Tables, RoutingTableIsDumpedAgainOnlyAfterAChange) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add tr0 type veth peer name tr1 && ip link set tr0 up && ip link set tr1 up");
    sh("ip addr add 10.60.0.1/24 dev tr0 && ip route add 10.61.0.0/16 via 10.60.0.2 && "
       "ip route add 10.62.0.0/16 dev tr0"); // on-link, no source named: the address shows
    sh("for i in $(seq 50); do grep -q up /sys/class/net/tr0/operstate && exit 0; sleep 0.1; "
       "done; exit 1");
    expectRouteTableCurrent("start");
    // The size call and the fill call of a refresh, twice over, without a dump. A late
    // carrier announcement may still cost one, so a few rounds are allowed.
    bool reused = false;
    for (int round = 0; round < 5 && !reused; ++round) {
        const unsigned reuses = sys::forwardCacheStats().reuses;
        reused = expectRouteTableCurrent("unchanged") == 0;
        if (reused) {
            EXPECT_EQ(sys::forwardCacheStats().reuses, reuses + 4);
        }
    }
    EXPECT_TRUE(reused);

    const std::string burst = batchFile(3000, 70, "tr0"); // more than the listener's queue
    const std::string steps[] = {
        "ip route add 10.63.0.0/16 via 10.60.0.2",
        "ip route replace 10.61.0.0/16 via 10.60.0.3",
        "ip route add 10.61.0.0/16 via 10.60.0.4 metric 5",
        "ip addr add 10.65.0.1/24 dev tr0",
        "ip addr add 10.60.0.9/24 dev tr0",
        "ip addr del 10.60.0.1/24 dev tr0", // the address the on-link route showed
        "ip -batch " + burst,
        "ip link set tr0 down", // its routes go unannounced
        "ip link set tr0 up && ip addr add 10.60.0.1/24 dev tr0",
        "ip route add 10.66.0.0/16 dev tr0 table 100", // a table not listed: still one more dump
        "ip link del tr0",
    };
    for (const std::string& step : steps) {
        sh(step);
        EXPECT_GE(expectRouteTableCurrent(step), 1u) << step;
    }
    std::remove(burst.c_str());

    // A forked child reads on its own, and leaves the parent's announcements to the parent.
    sh("ip link add tr0 type veth peer name tr1 && ip link set tr0 up");
    expectRouteTableCurrent("again");
    sh("ip addr add 10.60.0.1/24 dev tr0");
    EXPECT_EQ(runUnprivileged(readRouteTableInChild), 0);
    EXPECT_GE(expectRouteTableCurrent("after the child's read"), 1u);
    sh("ip link del tr0");
}

// Two routes swapped over and over, one of them always present: no answer may show neither,
// however often the table changes between or during the calls.
TEST(Tables, RoutingTableUnderConstantChange) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add tq0 type veth peer name tq1 && ip link set tq0 up && ip link set tq1 up");
    const std::string filler = batchFile(3000, 80, "tq0"); // a dump of several reads
    sh("ip -batch " + filler);
    std::remove(filler.c_str());
    sh("ip route add 10.1.0.0/16 dev tq0");
    const std::string swaps = "/tmp/" + uniqueName("table-swaps");
    sh("for i in $(seq 300); do echo 'route add 10.200.0.0/16 dev tq0'; "
       "echo 'route del 10.1.0.0/16 dev tq0'; echo 'route add 10.1.0.0/16 dev tq0'; "
       "echo 'route del 10.200.0.0/16 dev tq0'; done > " +
       swaps);
    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0) {
        ::setpgid(0, 0); // stopped with the `ip` it runs
        const std::string loop = "while :; do ip -batch " + swaps + " || exit 1; done";
        ::execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(swapper, swapper); // whichever of the two runs first
    // As the program reads: the table may outgrow the size just reported, so again.
    const auto read = [](BOOL sorted) {
        std::vector<uint8_t> buf(sizeof(MIB_IPFORWARDTABLE));
        for (int attempt = 0; attempt < 50; ++attempt) {
            auto* t = reinterpret_cast<MIB_IPFORWARDTABLE*>(buf.data());
            auto size = static_cast<ULONG>(buf.size());
            const DWORD rc = GetIpForwardTable(t, &size, sorted);
            if (rc == NO_ERROR)
                return std::vector(t->table, t->table + t->dwNumEntries);
            EXPECT_EQ(rc, ERROR_INSUFFICIENT_BUFFER);
            buf.resize(size);
        }
        ADD_FAILURE() << "the table kept outgrowing the buffer";
        return std::vector<MIB_IPFORWARDROW>();
    };
    int neither = 0;
    for (int i = 0; i < 60; ++i) {
        const auto rows = read(i % 2);
        const auto has = [&](const char* dst) {
            return std::any_of(rows.begin(), rows.end(), [&](const MIB_IPFORWARDROW& r) {
                return r.dwForwardDest == ip(dst) && r.dwForwardMask == ip("255.255.0.0");
            });
        };
        neither += !has("10.1.0.0") && !has("10.200.0.0");
    }
    ::kill(-swapper, SIGTERM);
    ::waitpid(swapper, nullptr, 0);
    std::remove(swaps.c_str());
    EXPECT_EQ(neither, 0);
    expectRouteTableCurrent("quiet again");
    sh("ip link del tq0");
}

static int askTwiceInAFreshProcess() {
    // The fork left the parent's model behind: this process has none.
    const unsigned rebuilds = sys::countCacheStats().rebuilds;
    expectCountsMatchTables("asked once");
    const bool noModel = sys::countCacheStats().rebuilds == rebuilds;
    expectCountsMatchTables("asked again");
    const bool modelBuilt = sys::countCacheStats().rebuilds == rebuilds + 1;
    sh("ip route add 10.57.0.0/16 via 10.42.0.2");
    expectCountsMatchTables("after a change, from the model");
    const bool kept = sys::countCacheStats().rebuilds == rebuilds + 1;
    if (::testing::Test::HasFailure())
        return 1;
    return noModel ? (modelBuilt ? (kept ? 0 : 4) : 3) : 2;
}

// A report asks for the statistics once: it gets them without the model a repeated check
// keeps, and a process that asks again gets the model.
TEST(Tables, StatisticsAskedOnceBuildNoModel) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add tv0 type veth peer name tv1 && ip link set tv0 up && ip link set tv1 up");
    sh("ip addr add 10.42.0.1/24 dev tv0 && ip addr add 10.42.1.1/24 dev tv0");
    sh("ip route add 10.56.0.0/16 nexthop via 10.42.0.2 nexthop via 10.42.0.3");
    sh("ip route add 10.58.0.0/16 via 10.42.0.2 table 100"); // no row of the forward table
    DWORD changes = 0;
    ASSERT_EQ(GetRouteChangeCount(&changes), NO_ERROR);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        ::_exit(askTwiceInAFreshProcess());
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0) << "1 counts differ, 2 a model built at once, 3 none built "
                                      "when asked again, 4 rebuilt after a change";
    sh("ip link del tv0");
}

static int readEverythingUnprivileged() {
    MIB_IPSTATS s{};
    DWORD oif = 0;
    MIB_IFROW row{};
    row.dwIndex = 1;
    const bool ok = !ifTable(1).empty() && !routeTable(1).empty() &&
                    GetIpStatistics(&s) == NO_ERROR && s.dwNumIf > 0 &&
                    GetBestInterface(ip("127.0.0.1"), &oif) == NO_ERROR && oif == 1 &&
                    GetIfEntry(&row) == NO_ERROR;
    return ok && !::testing::Test::HasFailure() ? 0 : 1;
}

TEST(Tables, ReadsNeedNoPrivilege) {
    CORVANE_REQUIRE_NETNS();
    DWORD changes = 0;
    ASSERT_EQ(GetRouteChangeCount(&changes), NO_ERROR); // the child inherits a built cache
    EXPECT_EQ(runUnprivileged(readEverythingUnprivileged), 0);
}

TEST(Tables, ChangeCheckStaysCheapWithAHundredThousandRoutes) {
    CORVANE_REQUIRE_NETNS();
    using Clock = std::chrono::steady_clock;
    const auto micros = [](Clock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count();
    };
    sh("ip link add tw0 type veth peer name tw1 && ip link set tw0 up && ip link set tw1 up");
    DWORD changes = 0;
    ASSERT_EQ(GetRouteChangeCount(&changes), NO_ERROR); // the model kept from here on
    const std::string file = batchFile(100000, 100, "tw0");
    sh("ip -batch " + file);
    std::remove(file.c_str());

    const unsigned rebuilds = sys::countCacheStats().rebuilds;
    MIB_IPSTATS s{};
    auto t = Clock::now();
    ASSERT_EQ(GetIpStatistics(&s), NO_ERROR);
    const double full = micros(Clock::now() - t);
    EXPECT_EQ(sys::countCacheStats().rebuilds, rebuilds + 1); // a full read, as the first call
    EXPECT_GE(s.dwNumRoutes, 100000u);

    constexpr int kCalls = 1000;
    t = Clock::now();
    for (int i = 0; i < kCalls; ++i)
        ASSERT_EQ(GetIpStatistics(&s), NO_ERROR);
    const double idle = micros(Clock::now() - t) / kCalls;

    sh("ip route add 10.99.0.0/16 dev tw0");
    MIB_IPSTATS after{};
    t = Clock::now();
    ASSERT_EQ(GetIpStatistics(&after), NO_ERROR);
    const double oneChange = micros(Clock::now() - t);
    EXPECT_EQ(after.dwNumRoutes, s.dwNumRoutes + 1);

    t = Clock::now();
    EXPECT_EQ(routeTable(1).size(), after.dwNumRoutes);
    const double table = micros(Clock::now() - t);
    std::printf("[ figures  ] 100,000 routes: GetIpStatistics full read %.0f us, idle %.1f us, "
                "after one change %.0f us; GetIpForwardTable (two calls, sorted) %.0f us\n",
                full, idle, oneChange, table);
    EXPECT_LT(idle, 2000.0); // a dump of this table takes far longer
    sh("ip link del tw0");
    expectCountsMatchTables("interface with 100,000 routes deleted");
}

// The adapters' gateways read beside a long read of the routing table: only the head of a
// dump, which must still hold every default route of the main table and nothing else, even
// when they fill more than one datagram and the table is big.
TEST(Tables, DefaultRoutesFromTheHeadOfADump) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add td0 type veth peer name td1 && ip link set td0 up && ip link set td1 up");
    sh("ip addr add 10.66.0.1/16 dev td0");
    sh("for i in $(seq 1 3000); do echo \"route add 30.$((i / 256)).$((i % 256)).0/24 via "
       "10.66.0.2\"; done | ip -batch -");
    sh("ip route add 0.0.0.0/8 via 10.66.0.2 && ip route add default via 10.66.0.4 table 100");
    sh("ip route add unreachable default metric 5");
    const auto expectSame = [](const std::string& step) {
        std::vector<sys::nl::Route> all, head;
        ASSERT_EQ(sys::nl::readRoutes(all), 0);
        std::erase_if(all, [](const sys::nl::Route& r) { return !sys::nl::isMainDefault(r); });
        ASSERT_EQ(sys::nl::readMainDefaultRoutes(head), 0);
        ASSERT_EQ(head.size(), all.size()) << step;
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_EQ(head[i].priority, all[i].priority) << step;
            ASSERT_EQ(head[i].nextHops.size(), 1U) << step;
            EXPECT_EQ(head[i].nextHops[0].gateway, all[i].nextHops[0].gateway) << step;
        }
    };
    expectSame("no default route");
    sh("ip route add default via 10.66.0.2 metric 100 && ip route add default via 10.66.0.3 "
       "metric 200");
    expectSame("two");
    // About sixty bytes each: more than a datagram of 32 KiB holds.
    sh("for i in $(seq 1000 1800); do echo \"route add default via 10.66.0.$((i % 200 + 2)) "
       "metric $i\"; done | ip -batch -");
    expectSame("eight hundred");
    sh("ip link del td0");
}
