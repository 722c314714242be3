// Rows of the kernel's routing tables (IPv6 and tables other than main and local), their
// filters and order, the Table column, the policy rules' texts and the report's sections.
#include "platform/routetables.h"
#include "report/report_layout.h"
#include "report/report_routes.h"
#include "routing/route_rows.h"
#include "routing/rule_rows.h"
#include "session/options.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace corvane;

namespace {

SOCKADDR_INET inet(const char* text) {
    SOCKADDR_INET a{};
    if (std::strchr(text, ':')) {
        a.Ipv6.sin6_family = AF_INET6;
        EXPECT_EQ(inet_pton(AF_INET6, text, &a.Ipv6.sin6_addr), 1) << text;
    } else {
        a.Ipv4.sin_family = AF_INET;
        EXPECT_EQ(inet_pton(AF_INET, text, &a.Ipv4.sin_addr), 1) << text;
    }
    return a;
}

CORVANE_ROUTE_ROW kernel(const char* dest, UINT8 length, const char* hop, ULONG ifIndex,
                         ULONG table = CORVANE_TABLE_MAIN, ULONG metric = 1024, ULONG proto = 3,
                         UCHAR type = CORVANE_ROUTE_UNICAST) {
    CORVANE_ROUTE_ROW r{};
    r.Route.DestinationPrefix.Prefix = inet(dest);
    r.Route.DestinationPrefix.PrefixLength = length;
    r.Route.NextHop = inet(hop);
    r.Route.InterfaceIndex = ifIndex;
    r.Route.Metric = metric;
    r.Route.Protocol = proto;
    r.Table = table;
    r.Type = type;
    return r;
}

std::vector<RouteRow> rowsOf(const std::vector<CORVANE_ROUTE_ROW>& routes, RouteFilters f) {
    std::vector<RouteRow> rows;
    appendKernelRows(routes.data(), routes.size(), f, rows);
    return rows;
}

QStringList destinations(const std::vector<RouteRow>& rows) {
    QStringList out;
    for (const RouteRow& r : rows)
        out << routeCellText(r, fwcol::Destination) + routeCellText(r, fwcol::Mask).left(4) +
                   QLatin1Char('@') + QString::number(r.table);
    return out;
}

} // namespace

// The kernel hands rows over as a few sorted runs, which are merged rather than sorted: the
// order must still be the sort's, rows equal in every key (here told apart by protocol)
// keeping theirs, for few runs and for more than are merged.
TEST(KernelRouteRows, RunsComeOutAsTheStableSortPutsThem) {
    for (const int runs : {1, 2, 3, 7, 8, 12}) {
        std::vector<CORVANE_ROUTE_ROW> routes;
        for (int run = 0; run < runs; ++run)
            for (int i = 0; i < 20; ++i) {
                const std::string dest = "2001:db8:" + std::to_string(i * runs + run % 3) + "::";
                routes.push_back(kernel(dest.c_str(), 64, "::", 2, CORVANE_TABLE_MAIN, 1024,
                                        static_cast<ULONG>(run * 100 + i)));
            }
        std::vector<RouteRow> want;
        for (const CORVANE_ROUTE_ROW& r : routes)
            want.push_back(kernelRouteRow(r));
        // Alike in all but their destinations, which then decide.
        std::stable_sort(want.begin(), want.end(), [](const RouteRow& a, const RouteRow& b) {
            return a.destination6 < b.destination6;
        });
        const std::vector<RouteRow> got = rowsOf(routes, {false, false, true, false});
        ASSERT_EQ(got.size(), want.size()) << runs;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_TRUE(sameRoute(got[i], want[i])) << runs << " " << i;
            EXPECT_EQ(got[i].protocol, want[i].protocol) << runs << " " << i;
        }
    }
}

TEST(KernelRouteRows, Ipv6TextsTagsAndIdentity) {
    CORVANE_ROUTE_ROW via = kernel("2001:db8:99::", 48, "fe80::1", 7, CORVANE_TABLE_MAIN, 50);
    via.Route.NextHop.Ipv6.sin6_scope_id = 7;
    const RouteRow r = kernelRouteRow(via);
    EXPECT_TRUE(r.ipv6());
    EXPECT_EQ(routeCellText(r, fwcol::Destination), QStringLiteral("2001:db8:99::"));
    EXPECT_EQ(routeCellText(r, fwcol::Mask), QStringLiteral("/48"));
    EXPECT_EQ(routeCellText(r, fwcol::NextHop), QStringLiteral("fe80::1"));
    EXPECT_EQ(routeCellText(r, fwcol::Index), QStringLiteral("0x7"));
    EXPECT_EQ(routeCellText(r, fwcol::Metric), QStringLiteral("50"));
    EXPECT_EQ(routeCellText(r, fwcol::Protocol), QStringLiteral("PROTO_IP_NETMGMT"));
    EXPECT_EQ(r.tag, 3);
    EXPECT_FALSE(hasPersistentName(r));
    // The record a change names the route by carries the gateway's zone.
    const MIB_IPFORWARD_ROW2 back = routeRecord2(r);
    EXPECT_EQ(back.DestinationPrefix.Prefix.si_family, AF_INET6);
    EXPECT_EQ(back.DestinationPrefix.PrefixLength, 48);
    EXPECT_EQ(std::memcmp(&back.NextHop.Ipv6.sin6_addr, &via.Route.NextHop.Ipv6.sin6_addr, 16), 0);
    EXPECT_EQ(back.NextHop.Ipv6.sin6_scope_id, 7u);
    EXPECT_EQ(back.Metric, 50u);
    // The route changes read the same route from the wide fields.
    EXPECT_EQ(r.wide().family, AF_INET6);
    EXPECT_EQ(r.wide().table, CORVANE_TABLE_MAIN);
    EXPECT_EQ(r.wide().prefixLength, 48);
    EXPECT_EQ(r.wide().nextHopFamily, AF_INET6);
    EXPECT_EQ(std::memcmp(r.wide().nextHop.data(), &via.Route.NextHop.Ipv6.sin6_addr, 16), 0);

    const RouteRow def = kernelRouteRow(kernel("::", 0, "fe80::1", 7));
    EXPECT_EQ(def.tag, 3 | routeTagDefaultBit);
    EXPECT_EQ(routeTextColour(def), 0xff0000ffu);
    const RouteRow onLink = kernelRouteRow(kernel("2001:db8:1::", 64, "::", 7, 254, 256, 2));
    EXPECT_EQ(routeCellText(onLink, fwcol::NextHop), QStringLiteral("::"));
    EXPECT_EQ(routeTextColour(onLink), 0xffff0000u);
    // An IPv6 default never stands for the IPv4 one nor takes its underline.
    EXPECT_EQ(activeDefaultRoute({def}), -1);
    EXPECT_FALSE(sameRoute(def, kernelRouteRow(kernel("::", 0, "fe80::2", 7))));
    EXPECT_FALSE(sameRoute(r, kernelRouteRow(kernel("2001:db8:99::", 48, "fe80::1", 7, 100, 50))));
    // The IPv4 deletion record cannot name it: it names nothing rather than 0.0.0.0/0.
    EXPECT_EQ(routeDeletionRecord(def).dwForwardIfIndex, 0u);
    EXPECT_EQ(routeDeletionRecord(r).dwForwardIfIndex, 0u);
}

TEST(KernelRouteRows, Ipv4RowsOfOtherTablesReadAsTheForwardTables) {
    const RouteRow r = kernelRouteRow(kernel("10.99.0.0", 16, "10.9.0.254", 7, 100, 0));
    EXPECT_FALSE(r.ipv6());
    EXPECT_EQ(routeCellText(r, fwcol::Destination), QStringLiteral("10.99.0.0"));
    EXPECT_EQ(routeCellText(r, fwcol::Mask), QStringLiteral("255.255.0.0"));
    EXPECT_EQ(routeCellText(r, fwcol::NextHop), QStringLiteral("10.9.0.254"));
    EXPECT_EQ(routeCellText(r, fwcol::Table), QStringLiteral("100"));
    EXPECT_EQ(r.wide().family, AF_INET);
    EXPECT_EQ(r.wide().table, 100u);
    EXPECT_EQ(r.wide().prefixLength, 16);
    EXPECT_EQ(r.wide().destination[0], 10);
    EXPECT_EQ(r.wide().destination[1], 99);
    // A gateway of the other family is no IPv4 next hop, but is kept.
    const RouteRow v6hop = kernelRouteRow(kernel("10.50.0.0", 16, "fe80::1", 7, 100));
    EXPECT_EQ(routeCellText(v6hop, fwcol::NextHop), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(v6hop.nextHopFamily, familyIpv6);
    const RouteRow def = kernelRouteRow(kernel("0.0.0.0", 0, "10.9.0.254", 7, 100));
    EXPECT_EQ(def.mask, 0u);
    EXPECT_EQ(def.tag, 3 | routeTagDefaultBit);
    const RouteRow host = kernelRouteRow(kernel("10.1.2.3", 32, "0.0.0.0", 7, 100));
    EXPECT_EQ(host.mask, 0xFFFFFFFFu);
    // Deleting by an IPv4 record would take the main table's route of the same name.
    EXPECT_EQ(routeDeletionRecord(r).dwForwardIfIndex, 0u);
    const RouteRow main = kernelRouteRow(kernel("10.99.0.0", 16, "10.9.0.254", 7, 254, 0));
    EXPECT_EQ(routeDeletionRecord(main).dwForwardIfIndex, 7u);
    EXPECT_EQ(routeDeletionRecord(main).dwForwardDest, inet("10.99.0.0").Ipv4.sin_addr.s_addr);
}

TEST(KernelRouteRows, FamiliesTablesAndOrderFollowTheOptions) {
    const std::vector<CORVANE_ROUTE_ROW> routes = {
        kernel("10.9.0.0", 24, "0.0.0.0", 7, CORVANE_TABLE_MAIN),
        kernel("10.99.0.0", 16, "10.9.0.254", 7, 100),
        kernel("2001:db8:100::", 48, "::", 7, 100),
        kernel("2001:db8:99::", 48, "2001:db8:1::fe", 7, CORVANE_TABLE_MAIN),
        kernel("10.77.0.0", 16, "0.0.0.0", 7, 1000),
        kernel("10.5.0.0", 16, "0.0.0.0", 7, 1000),
        kernel("2001:db8:1::1", 128, "::", 7, CORVANE_TABLE_LOCAL, 0, 2, CORVANE_ROUTE_LOCAL),
        kernel("10.6.0.0", 16, "0.0.0.0", 7, 50),
        kernel("2001:db8:1::", 64, "::", 7, CORVANE_TABLE_MAIN, 256, 2),
    };
    EXPECT_TRUE(rowsOf(routes, {}).empty());
    // IPv6 alone: main and local merged in order, no other table, no IPv4 (the forward table
    // has it).
    EXPECT_EQ(
        destinations(rowsOf(routes, {false, false, true, false})),
        QStringList({"2001:db8:1::/64@254", "2001:db8:1::1/128@255", "2001:db8:99::/48@254"}));
    EXPECT_EQ(destinations(rowsOf(routes, {false, false, false, true})),
              QStringList({"10.6.0.0255.@50", "10.99.0.0255.@100", "10.5.0.0255.@1000",
                           "10.77.0.0255.@1000"}));
    EXPECT_EQ(destinations(rowsOf(routes, {false, false, true, true})),
              QStringList({"10.6.0.0255.@50", "10.99.0.0255.@100", "10.5.0.0255.@1000",
                           "10.77.0.0255.@1000", "2001:db8:1::/64@254", "2001:db8:1::1/128@255",
                           "2001:db8:99::/48@254", "2001:db8:100::/48@100"}));
    // Entries beyond the count are never read.
    std::vector<RouteRow> rows;
    appendKernelRows(routes.data(), 1, {false, false, true, true}, rows);
    EXPECT_TRUE(rows.empty());
}

TEST(KernelRouteRows, FiltersHideLoopbackAndWhatStandsForBroadcasts) {
    const std::vector<CORVANE_ROUTE_ROW> routes = {
        kernel("::1", 128, "::", 1, CORVANE_TABLE_LOCAL, 0, 2, CORVANE_ROUTE_LOCAL),
        // ::1 through another interface is still the loopback address.
        kernel("::1", 128, "::", 7, CORVANE_TABLE_MAIN, 256, 2),
        kernel("ff00::", 8, "::", 7, CORVANE_TABLE_LOCAL, 256, 2, CORVANE_ROUTE_MULTICAST),
        kernel("2001:db8:1::", 128, "::", 7, CORVANE_TABLE_LOCAL, 0, 2, CORVANE_ROUTE_ANYCAST),
        kernel("2001:db8:1::", 64, "::", 7, CORVANE_TABLE_MAIN, 256, 2),
        kernel("10.255.255.255", 32, "0.0.0.0", 7, 100),
        kernel("172.16.1.255", 32, "0.0.0.0", 7, 100),
        kernel("127.0.0.0", 8, "0.0.0.0", 1, 100),
    };
    EXPECT_EQ(rowsOf(routes, {false, false, true, true}).size(), routes.size());
    EXPECT_EQ(destinations(rowsOf(routes, {true, false, true, true})),
              QStringList({"10.255.255.255255.@100", "172.16.1.255255.@100", "2001:db8:1::/64@254",
                           "2001:db8:1::/128@255", "ff00::/8@255"}));
    EXPECT_EQ(destinations(rowsOf(routes, {false, true, true, true})),
              QStringList({"127.0.0.0255.@100", "172.16.1.255255.@100", "::1/128@255",
                           "::1/128@254", "2001:db8:1::/64@254"}));
}

TEST(KernelRouteRows, ForwardRowsLearnTheirTableUnlessBothHoldThem) {
    auto forward = [](const char* dest, std::uint32_t mask, DWORD ifIndex, DWORD metric) {
        RouteRow r;
        r.destination = ntohl(inet(dest).Ipv4.sin_addr.s_addr);
        r.mask = mask;
        r.ifIndex = ifIndex;
        r.metric = metric;
        return r;
    };
    std::vector<RouteRow> rows = {
        forward("10.9.0.0", 0xFFFFFF00u, 7, 0), forward("10.9.0.1", 0xFFFFFFFFu, 7, 0),
        forward("10.8.0.1", 0xFFFFFFFFu, 7, 0), forward("10.7.0.0", 0xFFFF0000u, 7, 0)};
    const std::vector<CORVANE_ROUTE_ROW> routes = {
        kernel("10.9.0.0", 24, "0.0.0.0", 7, CORVANE_TABLE_MAIN, 0),
        kernel("10.9.0.1", 32, "0.0.0.0", 7, CORVANE_TABLE_LOCAL, 0),
        kernel("10.8.0.1", 32, "0.0.0.0", 7, CORVANE_TABLE_LOCAL, 0),
        kernel("10.8.0.1", 32, "0.0.0.0", 7, CORVANE_TABLE_MAIN, 0),
        // The same route in another table is not the forward table's.
        kernel("10.7.0.0", 16, "0.0.0.0", 7, 100, 0)};
    assignForwardTables(rows, routes.data(), routes.size());
    EXPECT_EQ(rows[0].table, CORVANE_TABLE_MAIN);
    EXPECT_EQ(rows[1].table, CORVANE_TABLE_LOCAL);
    EXPECT_EQ(rows[2].table, routeTableMerged);
    EXPECT_EQ(rows[3].table, routeTableMerged);
    RouteTableNames names;
    EXPECT_EQ(routeTableText(rows[0], names), QStringLiteral("254"));
    EXPECT_EQ(routeTableText(rows[2], names), QString());

    // Told from the local table alone, as a read of the other tables gives them: a key the
    // local table lacks is main's; one with more forward rows than local routes is in both.
    std::vector<RouteRow> again = {
        forward("10.9.0.0", 0xFFFFFF00u, 7, 0), forward("10.9.0.1", 0xFFFFFFFFu, 7, 0),
        forward("10.8.0.1", 0xFFFFFFFFu, 7, 0), forward("10.8.0.1", 0xFFFFFFFFu, 7, 0),
        forward("10.7.0.0", 0xFFFF0000u, 7, 0)};
    const std::vector<CORVANE_ROUTE_ROW> beyondMain = {
        kernel("10.9.0.1", 32, "0.0.0.0", 7, CORVANE_TABLE_LOCAL, 0),
        kernel("10.8.0.1", 32, "0.0.0.0", 7, CORVANE_TABLE_LOCAL, 0),
        kernel("10.7.0.0", 16, "0.0.0.0", 7, 100, 0)};
    assignForwardTables(again, beyondMain.data(), beyondMain.size(), false);
    std::vector<std::uint32_t> tables;
    for (const RouteRow& r : again)
        tables.push_back(r.table);
    EXPECT_EQ(tables,
              (std::vector<std::uint32_t>{CORVANE_TABLE_MAIN, CORVANE_TABLE_LOCAL, routeTableMerged,
                                          routeTableMerged, CORVANE_TABLE_MAIN}));
}

TEST(RuleRows, SelectorsAndActionsReadAsTheyWereSet) {
    RouteTableNames names; // no library: numbers only
    CORVANE_RULE_ROW from{};
    from.Family = AF_INET;
    from.Priority = 1000;
    from.Action = CORVANE_RULE_TO_TABLE;
    from.Table = 100;
    from.Source.Prefix = inet("10.9.0.0");
    from.Source.PrefixLength = 24;
    CORVANE_RULE_ROW mark{};
    mark.Family = AF_INET;
    mark.Priority = 1001;
    mark.Action = CORVANE_RULE_TO_TABLE;
    mark.Table = 1000;
    mark.Flags = CORVANE_RULE_INVERT;
    mark.FwMark = 0x10;
    mark.FwMask = 0xff;
    std::memcpy(mark.InInterface, "dv0", 4);
    mark.SuppressPrefixLength = -1;
    mark.SuppressIfGroup = -1;
    CORVANE_RULE_ROW to{};
    to.Family = AF_INET6;
    to.Priority = 1002;
    to.Action = CORVANE_RULE_PROHIBIT;
    to.Destination.Prefix = inet("2001:db8:5::");
    to.Destination.PrefixLength = 64;
    std::memcpy(to.OutInterface, "e\x1b[2J", 6); // a hostile interface name
    to.SourcePortStart = to.SourcePortEnd = 53;
    to.DestinationPortStart = 1000;
    to.DestinationPortEnd = 2000;
    to.UidStart = 10;
    to.UidEnd = 20;
    to.IpProtocol = 17;
    to.SuppressPrefixLength = 0;
    to.SuppressIfGroup = -1;
    CORVANE_RULE_ROW jump{};
    jump.Family = AF_INET;
    jump.Priority = 5;
    jump.Action = CORVANE_RULE_GOTO;
    jump.Goto = 32766;
    jump.FwMark = 7;
    jump.FwMask = 0xFFFFFFFFu;
    jump.SuppressPrefixLength = -1;
    jump.SuppressIfGroup = -1;
    from.SuppressPrefixLength = from.SuppressIfGroup = -1;

    const std::vector<CORVANE_RULE_ROW> rules = {from, mark, to, jump};
    const std::vector<RuleRow> rows = makeRuleRows(rules.data(), rules.size(), names);
    ASSERT_EQ(rows.size(), 4u);
    auto line = [](const RuleRow& r) {
        QStringList cells;
        for (int c = 0; c < rulecol::Count; ++c)
            cells << ruleCellText(r, c);
        return cells.join(QLatin1Char('|'));
    };
    EXPECT_EQ(line(rows[0]), QStringLiteral("1000|IPv4|from 10.9.0.0/24|lookup 100"));
    EXPECT_EQ(line(rows[1]),
              QStringLiteral("1001|IPv4|not from all fwmark 0x10/0xff iif dv0|lookup 1000"));
    EXPECT_EQ(line(rows[2]), QStringLiteral("1002|IPv6|from all to 2001:db8:5::/64 oif e?[2J "
                                            "ipproto 17 sport 53 dport 1000-2000 uidrange "
                                            "10-20|prohibit suppress_prefixlength 0"));
    EXPECT_EQ(line(rows[3]), QStringLiteral("5|IPv4|from all fwmark 0x7|goto 32766"));
    EXPECT_TRUE(makeRuleRows(nullptr, 3, names).empty());
}

TEST(RouteReport, TableColumnAndRulesOnlyWithAllTables) {
    const QStringList route = {
        "2001:db8:1234:5678::", "/64", "2001:db8:1234:5678::fe", "0x7", "1024", "",
        "PROTO_IP_NETMGMT",     "vpn"};
    ReportInput in;
    in.interfaces = {0, nullptr};
    in.connections = {0, nullptr};
    in.routes = {1, [&route](qsizetype, int c) { return route.value(c); }};
    in.rules = {1, [](qsizetype, int c) {
                    return QStringList({"1000", "IPv4", "from 10.9.0.0/24", "lookup vpn"}).value(c);
                }};
    EXPECT_EQ(routeReportHeader(false),
              QStringLiteral("Destination Address Destination Mask    Next Hop            IF "
                             "Index  Metric    Persistent"));
    ReportText out;
    appendRouteSection(out, in);
    // Long addresses keep a blank to the next column; no Table column.
    EXPECT_TRUE(out.text().endsWith(QStringLiteral("\n2001:db8:1234:5678:: /64                 "
                                                   "2001:db8:1234:5678::fe 0x7       1024      ")))
        << out.text().toStdString();
    ReportText none;
    appendRuleSection(none, in);
    EXPECT_TRUE(none.text().isEmpty());

    in.allTables = true;
    ReportText all;
    appendRouteSection(all, in);
    EXPECT_TRUE(all.text().contains(routeReportHeader(true)));
    EXPECT_TRUE(routeReportHeader(true).endsWith(QStringLiteral("Metric    Persistent  Table")));
    EXPECT_TRUE(all.text().endsWith(QStringLiteral("1024                  vpn")))
        << all.text().toStdString();
    ReportText rules;
    appendRuleSection(rules, in);
    EXPECT_EQ(rules.text(),
              QStringLiteral("\n\n\nPolicy Rules\n") + QString(100, QLatin1Char('=')) +
                  QStringLiteral("\nPriority  Family  Selectors                          "
                                 "     Action\n1000      IPv4    from 10.9.0.0/24       "
                                 "                 lookup vpn"));

    // The option in effect decides.
    RuntimeOptions run;
    run.optAllRoutingTables = false;
    setReportContext(in, run, false);
    EXPECT_FALSE(in.allTables);
    EXPECT_FALSE(buildReportBlock(in).contains(QStringLiteral("Policy Rules")));
}
