// Adapter lists without a kernel: resolver files, NTE contexts, building the lists from
// kernel records, and placing them into callers' buffers of every size.
#include "adapter_layout.h"
#include "adapter_model.h"
#include "neighbours.h"
#include "nte.h"
#include "resolver.h"
#include "roots.h"

#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/if_arp.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvane::sys;
using Strings = std::vector<std::string>;

namespace {

uint32_t ip(const char* text) {
    return ::inet_addr(text);
}

} // namespace

TEST(Resolver, ParsesTheResolverFileAndPerLinkState) {
    const struct {
        const char* text;
        Strings ipv4;
        Strings search;
    } cases[] = {
        {"# c\n; c\nnameserver\t10.0.0.1\nnameserver 10.0.0.2 # router\r\nsearch a.ex\tb.ex # x\n",
         {"10.0.0.1", "10.0.0.2"},
         {"a.ex", "b.ex"}},
        {"search a.ex b.ex\ndomain d.ex\n", {}, {"d.ex"}}, // the last of the two wins
        {"domain d.ex\nsearch s.ex\n", {}, {"s.ex"}},
        {"nameserver ::1\nnameserver 10.0.0.9\nnameserver fe80::1%eth0\n", {"10.0.0.9"}, {}},
        {"nameserver 10.0.0.1\nnameserver 10.0.0.1\n", {"10.0.0.1", "10.0.0.1"}, {}},
        // the C library only knows keywords at the start of a line
        {"  nameserver 10.0.0.1\nnameservers 10.0.0.2\nnameserver\n", {}, {}},
        {"nameserver 10.0.0.256\nnameserver 10.0.0.3", {"10.0.0.3"}, {}},
    };
    for (const auto& c : cases) {
        const ResolverConfig cfg = parseResolvConf(c.text);
        EXPECT_EQ(ipv4Servers(cfg.nameservers), c.ipv4) << c.text;
        EXPECT_EQ(cfg.search, c.search) << c.text;
    }

    const LinkResolver link = parseLinkResolver(
        "# private\nLLMNR=yes\nSERVERS=10.1.0.53 10.1.0.54:5353 fe80::1%3 10.1.0.55#dns.ex\n"
        "DOMAINS=~. corp.ex ~route.ex lab.ex\n");
    EXPECT_EQ(ipv4Servers(link.servers), (Strings{"10.1.0.53", "10.1.0.54", "10.1.0.55"}));
    EXPECT_EQ(link.domains, (Strings{"corp.ex", "lab.ex"})); // routing-only ones are no suffix
    EXPECT_EQ(ipv4Servers(parseLinkResolver("DNS=10.2.0.1\n").servers), Strings{"10.2.0.1"});
    EXPECT_TRUE(parseLinkResolver("garbage\n=\nDOMAINS=~only.ex\n").domains.empty());
}

TEST(Resolver, HostLookupsGoToDnsWhenTheSwitchSaysSo) {
    const struct {
        const char* text;
        bool dns;
    } cases[] = {
        {"passwd: files\nhosts:          files dns\n", true},
        {"hosts: files mdns4_minimal [NOTFOUND=return] resolve [!UNAVAIL=return] myhostname\n",
         true},
        {"hosts: files myhostname\nnetworks: files dns\n", false}, // dns for another database
        {"hosts: files [ NOTFOUND=return dns ]\n", false},         // inside an action
        {"hosts: files # dns\n#hosts: dns\n", false},
        {"hosts: files\nhosts: dns\n", false}, // the first line of a database counts
        {"  hosts\t: dns\n", true},
        {"hostsx: files\nhost: files\n", true}, // no hosts line: the C library's default
        {"", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hostsUseDns(std::string_view(c.text)), c.dns) << c.text;
    EXPECT_TRUE(hostsUseDns(std::nullopt));
}

TEST(Roots, ReadsOnlyRegularFilesOfBoundedSize) {
    const std::string dir = ::testing::TempDir() + "corvane-roots-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string file = dir + "/file", fifo = dir + "/fifo";
    std::ofstream(file) << std::string(5000, 'x');
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string text = "old";
    EXPECT_TRUE(readFile(file, text, 5000));
    EXPECT_EQ(text.size(), 5000u);
    EXPECT_FALSE(readFile(file, text, 4999));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(readFile(fifo, text)); // at once: nobody will ever write to it
    EXPECT_FALSE(readFile(dir, text));
    EXPECT_FALSE(readFile(dir + "/missing", text));
    ::unlink(file.c_str());
    ::unlink(fifo.c_str());
    ::rmdir(dir.c_str());
}

TEST(Nte, ContextsAreStableDistinctAndFoundBothWays) {
    const NteKey a{7, ip("10.0.0.5"), 24};
    const uint32_t ca = nteContext(a);
    EXPECT_NE(ca, 0u);
    EXPECT_EQ(nteContext(a), ca);
    // Another prefix or another interface is another address.
    const std::set<uint32_t> ids{ca, nteContext({7, ip("10.0.0.5"), 16}),
                                 nteContext({8, ip("10.0.0.5"), 24})};
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(nteLookup(ca), a);
    EXPECT_FALSE(nteLookup(0));
    EXPECT_FALSE(nteLookup(0xFFFFFFF0u));

    // Threads meeting the same addresses for the first time agree on their contexts.
    constexpr int kThreads = 8;
    constexpr uint32_t kKeys = 500;
    std::vector<std::vector<uint32_t>> seen(kThreads);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (uint32_t k = 0; k < kKeys; ++k)
                seen[t].push_back(nteContext({1000 + k % 3, htonl(0x0A630000u + k), 24}));
        });
    for (auto& th : threads)
        th.join();
    for (int t = 1; t < kThreads; ++t)
        EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(std::set<uint32_t>(seen[0].begin(), seen[0].end()).size(), kKeys);
}

namespace {

nl::Link link(uint32_t index, const char* name, uint16_t arpType = ARPHRD_ETHER) {
    nl::Link l;
    l.index = index;
    l.name = name;
    l.arpType = arpType;
    return l;
}

nl::Route defaultRoute(uint32_t table, uint32_t metric, std::vector<nl::NextHop> hops,
                       uint8_t prefix = 0) {
    nl::Route r;
    r.table = table;
    r.type = RTN_UNICAST;
    r.prefixLength = prefix;
    r.priority = metric;
    r.nextHops = std::move(hops);
    return r;
}

} // namespace

TEST(AdapterModel, BuildsEntriesFromKernelRecords) {
    // Out of index order on purpose: the list is ordered by index.
    const std::vector<nl::Link> links{link(5, "eth1"), link(1, "lo", ARPHRD_LOOPBACK),
                                      link(3, "eth0"), link(4, "tun0", ARPHRD_NONE)};
    const std::vector<nl::Address> addresses{{3, ip("10.0.0.5"), 24, 0, 0, ""},
                                             {1, ip("127.0.0.1"), 8, 0, 0, ""},
                                             {3, ip("10.0.0.6"), 32, 0, 0, ""}};
    const std::vector<nl::Route> routes{
        defaultRoute(RT_TABLE_MAIN, 20, {{3, ip("10.0.0.1")}}),
        defaultRoute(RT_TABLE_MAIN, 10, {{3, ip("10.0.0.2")}}),
        defaultRoute(100, 1, {{3, ip("10.0.0.3")}}),              // another table
        defaultRoute(RT_TABLE_MAIN, 5, {{4, 0}}),                 // onto the link, no gateway
        defaultRoute(RT_TABLE_MAIN, 5, {{3, ip("10.0.0.4")}}, 8), // not a default route
        defaultRoute(RT_TABLE_MAIN, 30, {{5, ip("10.5.0.1")}, {3, ip("10.0.0.7")}}),
    };
    const auto list =
        buildAdapterInfo(links, addresses, routes, [](const std::string&) { return SysfsInfo{}; });
    ASSERT_EQ(list.size(), 3u); // no loopback
    EXPECT_EQ(list[0].name, "eth0");
    EXPECT_EQ(list[1].name, "tun0");
    EXPECT_EQ(list[2].name, "eth1");

    const AdapterInfo& eth0 = list[0];
    ASSERT_EQ(eth0.addresses.size(), 2u);
    EXPECT_EQ(eth0.addresses[0].address, "10.0.0.5");
    EXPECT_EQ(eth0.addresses[0].mask, "255.255.255.0");
    EXPECT_EQ(eth0.addresses[0].context, nteContext({3, ip("10.0.0.5"), 24}));
    EXPECT_EQ(eth0.addresses[1].mask, "255.255.255.255");
    Strings gateways;
    for (const AddrText& g : eth0.gateways)
        gateways.push_back(g.address + "/" + g.mask + "/" + std::to_string(g.context));
    EXPECT_EQ(gateways, (Strings{"10.0.0.2/255.255.255.255/10", "10.0.0.1/255.255.255.255/20",
                                 "10.0.0.7/255.255.255.255/30"}));

    for (const AdapterInfo* bare : {&list[1], &list[2]}) {
        ASSERT_EQ(bare->addresses.size(), 1u);
        EXPECT_EQ(bare->addresses[0].address + bare->addresses[0].mask, "0.0.0.00.0.0.0");
    }
    EXPECT_TRUE(list[1].gateways.empty());
    ASSERT_EQ(list[2].gateways.size(), 1u);
    EXPECT_EQ(list[2].gateways[0].address, "10.5.0.1");
    EXPECT_EQ(prefixMask(0), "0.0.0.0");
}

TEST(Text, Utf16AndCutting) {
    const std::pair<std::string, std::u16string> wide[] = {
        {"br-\xC3\xA9t\xC3\xA9", u"br-\u00E9t\u00E9"},
        {"x\xF0\x9F\x98\x80", u"x\U0001F600"},
        {"a\xFF!", u"a\uFFFD!"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},           // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // a surrogate written as UTF-8
        {"ab\xE2\x82", u"ab\uFFFD\uFFFD"},       // cut short
    };
    for (const auto& [in, out] : wide)
        EXPECT_EQ(utf16(in), out) << in;

    char field[6];
    copyText(field, sizeof field, "abc\xC3\xA9xyz");
    EXPECT_STREQ(field, "abc\xC3\xA9");
    copyText(field, sizeof field, "abcd\xC3\xA9"); // 'é' would straddle the end
    EXPECT_STREQ(field, "abcd");
}

// ---- buffers ----

namespace {

// Calls place with every size from 0 to the size needed, on a buffer followed by a guard
// region: below the size needed it must answer tooSmall with the size and write nothing;
// at the size needed it must succeed without touching the guard. Returns the filled buffer.
template <typename Record, typename Place>
std::vector<uint64_t> everySize(Place place, DWORD tooSmall, size_t& needed) {
    constexpr unsigned char kFill = 0xA5;
    ULONG size = 0;
    EXPECT_EQ(place(nullptr, &size), tooSmall);
    needed = size;
    std::vector<uint64_t> store((needed + 256) / 8);
    auto* bytes = reinterpret_cast<unsigned char*>(store.data());
    const size_t total = store.size() * 8;
    for (size_t given = 0; given <= needed; ++given) {
        std::memset(bytes, kFill, total);
        auto sz = static_cast<ULONG>(given);
        const DWORD rc = place(reinterpret_cast<Record*>(bytes), &sz);
        EXPECT_EQ(rc, given < needed ? tooSmall : NO_ERROR) << given;
        EXPECT_EQ(sz, needed) << given;
        for (size_t i = given < needed ? 0 : needed; i < total; ++i)
            if (bytes[i] != kFill) {
                ADD_FAILURE() << "byte " << i << " written with a size of " << given;
                break;
            }
    }
    return store;
}

// Every pointer of a list must point into the buffer it came in.
struct Within {
    const void* buffer;
    size_t size;
    template <typename T> bool operator()(const T* p) const {
        const auto* b = static_cast<const unsigned char*>(buffer);
        const auto* q = reinterpret_cast<const unsigned char*>(p);
        return q >= b && q + sizeof(T) <= b + size;
    }
    Strings chain(const IP_ADDR_STRING& head) const {
        Strings out;
        for (const IP_ADDR_STRING* e = &head; e; e = e->Next) {
            EXPECT_TRUE((*this)(e));
            out.push_back(std::string(e->IpAddress.String) + "/" + e->IpMask.String + "/" +
                          std::to_string(e->Context));
        }
        return out;
    }
    std::string text(const WCHAR* w) const {
        std::string out;
        for (; (*this)(w) && *w; ++w)
            out.push_back(static_cast<char>(*w));
        EXPECT_TRUE((*this)(w)) << "string leaves the buffer after " << out;
        return out;
    }
};

} // namespace

TEST(AdapterLayout, AdaptersInfoAtEverySize) {
    AdapterInfo a;
    a.index = 2;
    a.name = "eth0";
    a.description = "eth0 - Ethernet (e1000e)";
    a.mac = {0, 0x1b, 0x21, 1, 2, 3};
    a.addresses = {{"10.0.0.5", "255.0.0.0", 11}, {"10.0.0.6", "255.0.0.0", 12}};
    a.gateways = {{"10.0.0.1", kGatewayMask, 10}, {"10.0.0.2", kGatewayMask, 20}};
    AdapterInfo b;
    b.name = std::string(300, 'n'); // longer than the record's field
    b.mac.assign(20, 0xEE);         // an infiniband address is cut to the field
    b.addresses = {{"0.0.0.0", "0.0.0.0", 0}};
    b.lease = DhcpLease{.server = ip("10.0.0.254"), .obtained = 1000, .expires = 2000};
    size_t needed = 0;
    const auto store = everySize<IP_ADAPTER_INFO>(
        [&](IP_ADAPTER_INFO* p, ULONG* s) {
            return layoutAdaptersInfo({a, b}, p, s);
        },
        ERROR_BUFFER_OVERFLOW, needed);
    const Within in{store.data(), needed};
    const auto* first = reinterpret_cast<const IP_ADAPTER_INFO*>(store.data());
    ASSERT_TRUE(in(first->Next));
    EXPECT_EQ(first->Next->Next, nullptr);
    EXPECT_STREQ(first->Description, "eth0 - Ethernet (e1000e)");
    EXPECT_EQ(first->AddressLength, 6u);
    EXPECT_EQ(in.chain(first->IpAddressList),
              (Strings{"10.0.0.5/255.0.0.0/11", "10.0.0.6/255.0.0.0/12"}));
    EXPECT_EQ(in.chain(first->GatewayList),
              (Strings{"10.0.0.1/255.255.255.255/10", "10.0.0.2/255.255.255.255/20"}));
    EXPECT_EQ(first->DhcpEnabled, 0u);
    EXPECT_EQ(in.chain(first->DhcpServer), Strings{"//0"});

    const IP_ADAPTER_INFO& second = *first->Next;
    EXPECT_EQ(std::strlen(second.AdapterName), sizeof second.AdapterName - 1);
    EXPECT_EQ(second.AddressLength, 8u);
    EXPECT_EQ(in.chain(second.GatewayList), Strings{"//0"}); // no gateway: one empty entry
    EXPECT_EQ(second.DhcpEnabled, 1u);
    EXPECT_STREQ(second.DhcpServer.IpAddress.String, "10.0.0.254");
    EXPECT_EQ(second.LeaseExpires, 2000);
}

TEST(AdapterLayout, OtherListsAtEverySize) {
    std::vector<AdapterAddresses> list(2);
    list[0] = {1, "lo", "lo - Loopback", "lo", "", {}, 65536, IF_TYPE_SOFTWARE_LOOPBACK, 5};
    list[1] = {4, "eth0", "eth0 - Ethernet", "eth0", "corp.ex", {2, 0, 0, 0, 0, 9}, 1500, 6, 2};
    size_t needed = 0;
    auto store = everySize<IP_ADAPTER_ADDRESSES>(
        [&](IP_ADAPTER_ADDRESSES* p, ULONG* s) { return layoutAdaptersAddresses(list, p, s); },
        ERROR_BUFFER_OVERFLOW, needed);
    Within in{store.data(), needed};
    const auto* lo = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(store.data());
    ASSERT_TRUE(in(lo->Next));
    const IP_ADAPTER_ADDRESSES& eth0 = *lo->Next;
    EXPECT_EQ(in.text(lo->DnsSuffix), ""); // empty, never null
    EXPECT_EQ(in.text(eth0.DnsSuffix), "corp.ex");
    EXPECT_EQ(in.text(eth0.Description), "eth0 - Ethernet");
    EXPECT_EQ(in.text(eth0.FriendlyName), "eth0");
    ASSERT_TRUE(in(eth0.AdapterName));
    EXPECT_STREQ(eth0.AdapterName, "eth0");

    for (const Strings& dns : {Strings{}, Strings{"1.1.1.1", "9.9.9.9"}}) {
        const Strings expected = dns.empty() ? Strings{"//0"} : Strings{"1.1.1.1//0", "9.9.9.9//0"};
        const PerAdapter per{true, true, dns};
        store = everySize<IP_PER_ADAPTER_INFO>(
            [&](IP_PER_ADAPTER_INFO* p, ULONG* s) { return layoutPerAdapterInfo(per, p, s); },
            ERROR_BUFFER_OVERFLOW, needed);
        in = {store.data(), needed};
        const auto* info = reinterpret_cast<const IP_PER_ADAPTER_INFO*>(store.data());
        EXPECT_EQ(in.chain(info->DnsServerList), expected);

        const NetworkParams params{"host", "corp.ex", dns, BROADCAST_NODETYPE, true, false};
        store = everySize<FIXED_INFO>(
            [&](FIXED_INFO* p, ULONG* s) { return layoutNetworkParams(params, p, s); },
            ERROR_BUFFER_OVERFLOW, needed);
        in = {store.data(), needed};
        const auto* fixed = reinterpret_cast<const FIXED_INFO*>(store.data());
        EXPECT_EQ(in.chain(fixed->DnsServerList), expected);
        EXPECT_EQ(fixed->CurrentDnsServer, dns.empty() ? nullptr : &fixed->DnsServerList);
    }

    const std::vector<IndexName> names{{2, "eth0"}, {7, std::string(200, 'w')}};
    store = everySize<IP_INTERFACE_INFO>(
        [&](IP_INTERFACE_INFO* p, ULONG* s) { return layoutInterfaceInfo(names, p, s); },
        ERROR_INSUFFICIENT_BUFFER, needed);
    in = {store.data(), needed};
    const auto* ifs = reinterpret_cast<const IP_INTERFACE_INFO*>(store.data());
    ASSERT_EQ(ifs->NumAdapters, 2);
    const IP_ADAPTER_INDEX_MAP* maps = ifs->Adapter;
    EXPECT_EQ(maps[1].Index, 7u);
    EXPECT_EQ(in.text(maps[1].Name), std::string(MAX_ADAPTER_NAME - 1, 'w'));
}

TEST(AdapterLayout, RefusesWhatCannotBeAnswered) {
    ULONG size = 1 << 15;
    std::vector<uint64_t> store(size / 8);
    const std::vector<AdapterInfo> one(1);
    EXPECT_EQ(layoutAdaptersInfo({}, reinterpret_cast<IP_ADAPTER_INFO*>(store.data()), &size),
              DWORD{ERROR_NO_DATA});
    EXPECT_EQ(layoutAdaptersInfo(one, nullptr, nullptr), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(layoutInterfaceInfo({}, nullptr, &size), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(size, sizeof(IP_INTERFACE_INFO)); // an empty list still has its header
    // A buffer not aligned for the records is refused, not written into.
    auto* odd = reinterpret_cast<IP_ADAPTER_INFO*>(reinterpret_cast<char*>(store.data()) + 1);
    size = 1 << 14;
    EXPECT_EQ(layoutAdaptersInfo(one, odd, &size), DWORD{ERROR_INVALID_PARAMETER});
}

// ---- neighbours ----

namespace {

std::vector<uint8_t> neighbourMessage(uint8_t family, const std::vector<uint8_t>& dst,
                                      const std::vector<uint8_t>& lladdr,
                                      const nda_cacheinfo* cache = nullptr) {
    std::vector<uint8_t> buf(MNL_SOCKET_BUFFER_SIZE);
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
    nlh->nlmsg_type = RTM_NEWNEIGH;
    auto* ndm = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ndmsg)));
    ndm->ndm_family = family;
    ndm->ndm_ifindex = 4;
    ndm->ndm_state = NUD_REACHABLE;
    if (!dst.empty())
        mnl_attr_put(nlh, NDA_DST, dst.size(), dst.data());
    mnl_attr_put(nlh, NDA_LLADDR, lladdr.size(), lladdr.data());
    if (cache)
        mnl_attr_put(nlh, NDA_CACHEINFO, sizeof *cache, cache);
    buf.resize(nlh->nlmsg_len);
    return buf;
}

} // namespace

TEST(Neighbours, DecodesAndJudgesEntries) {
    const std::vector<uint8_t> mac{0, 0, 0x0c, 7, 0xac, 0x0a};
    Neighbour n;
    auto msg = neighbourMessage(AF_INET, {10, 0, 0, 1}, mac);
    ASSERT_TRUE(decodeNeighbour(reinterpret_cast<nlmsghdr*>(msg.data()), n));
    EXPECT_EQ(n.ifIndex, 4u);
    EXPECT_EQ(n.address, ip("10.0.0.1"));
    EXPECT_EQ(n.hardwareAddress, mac);
    for (const auto& bad :
         {neighbourMessage(AF_INET6, std::vector<uint8_t>(16), mac),
          neighbourMessage(AF_INET, {10, 0, 0}, mac), neighbourMessage(AF_INET, {}, mac)})
        EXPECT_FALSE(decodeNeighbour(reinterpret_cast<const nlmsghdr*>(bad.data()), n));

    const struct {
        uint16_t state;
        bool withAddress, arpLink, usable;
    } cases[] = {
        {NUD_REACHABLE, true, true, true},    {NUD_STALE, true, true, true},
        {NUD_DELAY, true, true, true},        {NUD_PROBE, true, true, true},
        {NUD_PERMANENT, true, true, true},    {NUD_NOARP, true, true, true},
        {NUD_INCOMPLETE, false, true, false}, {NUD_FAILED, true, true, false},
        {NUD_REACHABLE, false, true, false},  {NUD_PERMANENT, true, false, true},
        {NUD_NOARP, true, false, false}, // a link without ARP knows no neighbour's address
    };
    for (const auto& c : cases) {
        Neighbour e;
        e.state = c.state;
        if (c.withAddress)
            e.hardwareAddress = mac;
        EXPECT_EQ(usableNeighbour(e, c.arpLink), c.usable) << c.state << " " << c.arpLink;
    }
}

TEST(Neighbours, WaitsAgainOnlyWhenTheLastFailureIsOld) {
    using ms = std::chrono::milliseconds;
    const ms budget(1000), memory(30000);
    nda_cacheinfo cache{};
    cache.ndm_updated = static_cast<uint32_t>(::sysconf(_SC_CLK_TCK) * 5 / 2);
    auto msg = neighbourMessage(AF_INET, {10, 0, 0, 1}, {}, &cache);
    Neighbour n;
    ASSERT_TRUE(decodeNeighbour(reinterpret_cast<nlmsghdr*>(msg.data()), n));
    EXPECT_EQ(n.sinceUpdate, ms(2500));
    msg = neighbourMessage(AF_INET, {10, 0, 0, 1}, {});
    ASSERT_TRUE(decodeNeighbour(reinterpret_cast<nlmsghdr*>(msg.data()), n));
    EXPECT_EQ(n.sinceUpdate, std::nullopt);

    const struct {
        uint16_t state;
        std::optional<ms> age;
        ms wait;
    } cases[] = {
        {NUD_INCOMPLETE, ms(0), budget},     // someone just asked: the whole budget
        {NUD_INCOMPLETE, ms(300), ms(700)},  // counted from the first question
        {NUD_INCOMPLETE, ms(1000), ms(0)},   // unanswered for longer than the budget
        {NUD_FAILED, ms(0), ms(0)},          // the kernel just gave up
        {NUD_FAILED, ms(29990), ms(0)},      //
        {NUD_FAILED, ms(30000), budget},     // an old failure is asked about again
        {NUD_INCOMPLETE, ms(60000), budget}, //
        {NUD_FAILED, std::nullopt, budget},  // no age: nothing known
        {NUD_STALE, ms(0), budget},          //
        {NUD_NONE, ms(0), budget},           //
    };
    for (const auto& c : cases) {
        Neighbour e;
        e.state = c.state;
        e.sinceUpdate = c.age;
        EXPECT_EQ(resolutionWait(e, budget, memory), c.wait)
            << c.state << " " << (c.age ? c.age->count() : -1);
    }
    EXPECT_EQ(resolutionWait(std::nullopt, budget, memory), budget); // no entry at all
}
