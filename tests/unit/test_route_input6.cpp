// What the add dialog reads from an IPv6 route and a table choice, and the records it and the
// deletion hand to the later-generation entry points.
#include "registry/route_name2.h"
#include "routing/route_deletion.h"
#include "routing/route_edit.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

std::array<std::uint8_t, 16> v6(const char* text) {
    std::array<std::uint8_t, 16> a{};
    EXPECT_EQ(inet_pton(AF_INET6, text, a.data()), 1) << text;
    return a;
}

Ipv6RouteInput read(const char* network, const char* mask, const char* hop) {
    return readIpv6Route(QString::fromUtf8(network), QString::fromUtf8(mask),
                         QString::fromUtf8(hop));
}

} // namespace

TEST(Ipv6RouteInput, PrefixInTheNetworkOrTheMaskField) {
    const Ipv6RouteInput slash = read("2001:db8:5::/64", "255.255.255.255", "2001:db8:1::fe");
    ASSERT_TRUE(slash.route) << slash.problem.toStdString();
    EXPECT_EQ(slash.route->destination, v6("2001:db8:5::"));
    EXPECT_EQ(slash.route->prefixLength, 64); // the mask field is not read then
    EXPECT_TRUE(slash.route->hasGateway);
    EXPECT_EQ(slash.route->gateway, v6("2001:db8:1::fe"));

    for (const char* mask : {"48", "/48"}) {
        const Ipv6RouteInput m = read("2001:db8:6::", mask, "");
        ASSERT_TRUE(m.route) << mask;
        EXPECT_EQ(m.route->prefixLength, 48);
        EXPECT_FALSE(m.route->hasGateway); // on the link
    }
    EXPECT_FALSE(read("2001:db8:6::/48", "", "::").route->hasGateway);
    const Ipv6RouteInput def = read("::/0", "", "fe80::1");
    ASSERT_TRUE(def.route);
    EXPECT_EQ(def.route->prefixLength, 0);
    EXPECT_EQ(read("::/128", "", "").route->prefixLength, 128);
}

TEST(Ipv6RouteInput, RefusedNamingTheField) {
    struct Case {
        const char *network, *mask, *hop, *words;
    };
    const Case cases[] = {
        {"2001:db8:5::/129", "", "", "prefix length"},
        {"2001:db8:5::", "255.255.255.0", "", "prefix length"}, // an IPv4 mask
        {"2001:db8:5::/", "", "", "prefix length"},
        {"2001:db8:5::/6 4", "", "", "prefix length"},
        {"2001:db8:5::/-1", "", "", "prefix length"},
        {"2001:db8:5::/0x40", "", "", "prefix length"},
        {"2001:db8:5::/٦٤", "", "", "prefix length"}, // digits of another script
        {"2001:db8::5::/64", "", "", "network address"},
        {"2001:db8:5:::/64", "", "", "network address"},
        {"10.0.0.0:1/8", "", "", "network address"},
        {"2001:db8:5::/64", "", "10.9.0.1", "next hop"}, // another family
        {"2001:db8:5::/64", "", "ff02::1", "multicast"},
        {"2001:db8:5::/64", "", "fe80::1%eth0", "next hop"},
    };
    for (const Case& c : cases) {
        const Ipv6RouteInput in = read(c.network, c.mask, c.hop);
        EXPECT_FALSE(in.route) << c.network << " " << c.mask << " " << c.hop;
        EXPECT_TRUE(in.problem.contains(QLatin1String(c.words)))
            << c.network << ": " << in.problem.toStdString();
    }
    // A text pasted by mistake is shown short and without its control characters.
    const std::string long_ = "2001:db8:\n" + std::string(200, 'a');
    const Ipv6RouteInput pasted = read(long_.c_str(), "", "");
    EXPECT_FALSE(pasted.route);
    EXPECT_FALSE(pasted.problem.contains(QLatin1Char('\n')));
    EXPECT_LT(pasted.problem.size(), 200);
}

TEST(Ipv6RouteInput, HostBitsAlignedAndRecordBuilt) {
    const Ipv6RouteInput in = read("2001:db8:5::1/64", "", "fe80::1");
    ASSERT_TRUE(in.route);
    EXPECT_TRUE(in.route->hostBits());
    EXPECT_EQ(ipv6Text(in.route->network()), "2001:db8:5::");
    EXPECT_FALSE(read("2001:db8:5::/64", "", "").route->hostBits());
    EXPECT_EQ(ipv6Text(read("2001:db8:5:ffff::/57", "", "").route->network()), "2001:db8:5:ff80::");

    const MIB_IPFORWARD_ROW2 r = ipv6RouteRecord(*in.route, 7, 20);
    EXPECT_EQ(r.DestinationPrefix.Prefix.si_family, AF_INET6);
    EXPECT_EQ(r.DestinationPrefix.PrefixLength, 64);
    EXPECT_EQ(
        std::memcmp(&r.DestinationPrefix.Prefix.Ipv6.sin6_addr, v6("2001:db8:5::").data(), 16), 0);
    EXPECT_EQ(r.NextHop.si_family, AF_INET6);
    EXPECT_EQ(r.NextHop.Ipv6.sin6_scope_id, 7u); // link-local: through the chosen interface
    EXPECT_EQ(r.InterfaceIndex, 7u);
    EXPECT_EQ(r.Metric, 20u);
    const MIB_IPFORWARD_ROW2 global =
        ipv6RouteRecord(*read("2001:db8:5::/64", "", "2001:db8:1::fe").route, 7, 1);
    EXPECT_EQ(global.NextHop.Ipv6.sin6_scope_id, 0u);
    EXPECT_EQ(ipv6RouteRecord(*read("2001:db8:5::/64", "", "").route, 7, 1).NextHop.si_family, 0);

    const MIB_IPFORWARD_ROW2 v4 = ipv4RouteRecord2(0x0A630000, 0xFFFF0000, 0x0A0900FE, 3, 5);
    EXPECT_EQ(v4.DestinationPrefix.PrefixLength, 16);
    EXPECT_EQ(v4.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr, htonl(0x0A630000));
    EXPECT_EQ(v4.NextHop.Ipv4.sin_addr.s_addr, htonl(0x0A0900FE));
    EXPECT_EQ(ipv4RouteRecord2(0x0A630000, 0xFFFF0000, 0, 3, 5).NextHop.si_family, 0);
}

TEST(RouteTableChoiceTest, NamesNumbersAndRefusals) {
    const std::vector<RouteTableChoice> offered = tableChoices(
        {{255, "local"}, {100, "vpn"}, {254, "main"}, {253, "default"}, {0, "unspec"}});
    ASSERT_EQ(offered.size(), 3u); // main first, then by number; never local nor 0
    EXPECT_EQ(offered[0].id, 254u);
    EXPECT_EQ(offered[1].id, 100u);
    EXPECT_EQ(offered[2].id, 253u);
    EXPECT_EQ(tableChoices({}).front().name, "main");

    EXPECT_EQ(tableChoice("VPN", offered), 100u);
    EXPECT_EQ(tableChoice(" main ", offered), 254u);
    EXPECT_EQ(tableChoice("1000", offered), 1000u);
    EXPECT_EQ(tableChoice("4294967295", offered), 4294967295u);
    for (const char* bad : {"0", "255", "local", "4294967296", "-1", "1e3", "", "10 0", "０"})
        EXPECT_FALSE(tableChoice(QString::fromUtf8(bad), offered)) << bad;
}

TEST(RouteTableChoiceTest, Ipv6AndOtherTableRoutesStoredWithTableAndInterface) {
    const auto read = [](const char* n, const char* m, const char* h) {
        return readIpv6Route(QString::fromLatin1(n), QString::fromLatin1(m),
                             QString::fromLatin1(h));
    };
    // The link-local next hop keeps its text; the host bits typed are gone from the name.
    const MIB_IPFORWARD_ROW2 v6 =
        ipv6RouteRecord(*read("2001:db8:5::1/64", "", "FE80::1").route, 7, 0);
    EXPECT_EQ(wideRouteName(v6, mainRouteTable, "veth0"),
              "inet6,2001:db8:5::/64,fe80::1,0,254,veth0");
    EXPECT_EQ(reg::storableWideRouteName(wideRouteName(v6, mainRouteTable, "veth0")).name,
              "inet6,2001:db8:5::/64,fe80::1,1024,254,veth0");
    const MIB_IPFORWARD_ROW2 onLink = ipv6RouteRecord(*read("2001:db8:6::/48", "", "").route, 7, 5);
    EXPECT_EQ(wideRouteName(onLink, 100, "wg0"), "inet6,2001:db8:6::/48,::,5,100,wg0");
    const MIB_IPFORWARD_ROW2 v4 = ipv4RouteRecord2(0x0A630000, 0xFFFF0000, 0x0A0900FE, 3, 5);
    EXPECT_EQ(wideRouteName(v4, 100, "eth1"), "inet,10.99.0.0/16,10.9.0.254,5,100,eth1");
    EXPECT_EQ(wideRouteName(ipv4RouteRecord2(0x0A630000, 0xFFFF0000, 0, 3, 5), 100, "eth1"),
              "inet,10.99.0.0/16,0.0.0.0,5,100,eth1");
    // No interface name, no name: nothing is stored that could not be restored.
    EXPECT_EQ(wideRouteName(v4, 100, ""), "");
}

TEST(WideDeletion, RecordsOfIpv6RowsAndOtherTables) {
    RouteRow plain; // an IPv4 row of main: deleted as before
    plain.destination = 0x0A000000;
    plain.fromKernelTable = true;
    plain.table = 254;
    EXPECT_FALSE(wideDeletionRecord(plain));
    plain.table = 255;
    EXPECT_FALSE(wideDeletionRecord(plain));

    RouteRow v6row;
    v6row.ifIndex = 4;
    v6row.metric = 1024;
    v6row.fromKernelTable = true;
    v6row.family = familyIpv6;
    v6row.table = 254;
    v6row.destination6 = v6("2001:db8:5::");
    v6row.prefixLength = 64;
    v6row.nextHopFamily = familyIpv6;
    v6row.nextHop6 = v6("fe80::1");
    const std::optional<WideDeletion> d = wideDeletionRecord(v6row);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->table, 0u); // main and local
    EXPECT_EQ(d->record.DestinationPrefix.PrefixLength, 64);
    EXPECT_EQ(d->record.NextHop.Ipv6.sin6_scope_id, 4u);
    EXPECT_EQ(d->record.Metric, 1024u);
    EXPECT_EQ(deletionFailureName(v6row), "Couldn't DeleteIpForwardEntry2 (2001:db8:5::/64.)");

    RouteRow t100;
    t100.ifIndex = 4;
    t100.fromKernelTable = true;
    t100.table = 100;
    t100.prefixLength = 16;
    t100.destination = 0x0A630000;
    t100.mask = 0xFFFF0000;
    const std::optional<WideDeletion> t = wideDeletionRecord(t100);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->table, 100u);
    EXPECT_EQ(t->record.NextHop.si_family, 0); // on the link
    EXPECT_EQ(deletionFailureName(t100),
              "Couldn't DeleteIpForwardEntry2 (10.99.0.0/16 table 100.)");
    // A row from the store is never sent to the kernel.
    t100.storeOnly = true;
    EXPECT_FALSE(wideDeletionRecord(t100));
    // Rows of another family or table are different routes, as far as the list goes.
    RouteRow a = v6row, b = v6row;
    b.table = 100;
    EXPECT_FALSE(sameRoute(a, b));
    EXPECT_FALSE(hasPersistentName(v6row));
}
