#include "routing/persistentroutes.h"
#include "routing/restore.h"
#include "routing/route_edit.h"
#include "routing/route_rows.h"
#include "values/csv.h"
#include "values/ip.h"

#include <QColor>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace corvane;

namespace {

std::uint32_t quad(const char* text) {
    std::uint32_t v = 0;
    EXPECT_TRUE(parse_quad(text, v)) << text;
    return v;
}

MIB_IPFORWARDROW route(const char* dest, const char* mask, const char* hop, DWORD ifIndex,
                       DWORD metric = 1, DWORD proto = 3) {
    MIB_IPFORWARDROW r{};
    r.dwForwardDest = htonl(quad(dest));
    r.dwForwardMask = htonl(quad(mask));
    r.dwForwardNextHop = htonl(quad(hop));
    r.dwForwardIfIndex = ifIndex;
    r.dwForwardMetric1 = metric;
    r.dwForwardProto = proto;
    return r;
}

// A platform table in a buffer of exactly its own size.
struct Table {
    std::vector<DWORD> storage;
    explicit Table(const std::vector<MIB_IPFORWARDROW>& rows) {
        const std::size_t bytes =
            offsetof(MIB_IPFORWARDTABLE, table) + rows.size() * sizeof(MIB_IPFORWARDROW);
        storage.assign(bytes / sizeof(DWORD) + 1, 0);
        auto* t = reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data());
        t->dwNumEntries = static_cast<DWORD>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            t->table[i] = rows[i];
    }
    const MIB_IPFORWARDTABLE& table() const {
        return *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    }
    std::size_t size() const { return storage.size() * sizeof(DWORD); }
};

std::vector<QString> destinations(const RouteFill& fill) {
    std::vector<QString> out;
    for (const RouteRow& r : fill.rows)
        out.push_back(routeCellText(r, fwcol::Destination));
    return out;
}

} // namespace

TEST(RouteRows, ColumnTextsTagsAndProtocolNames) {
    const Table t({route("10.0.0.0", "255.0.0.0", "192.168.1.1", 65539, 4294967295U, 8),
                   route("0.0.0.0", "0.0.0.0", "192.168.1.1", 2, 20, 3),
                   route("192.168.1.0", "255.255.255.0", "192.168.1.5", 2, 1, 2)});
    const RouteFill fill = makeRouteRows(t.table(), t.size(), {});
    ASSERT_EQ(fill.rows.size(), 3U);
    const RouteRow& r = fill.rows[0];
    EXPECT_EQ(routeCellText(r, fwcol::Destination), "10.0.0.0");
    EXPECT_EQ(routeCellText(r, fwcol::Mask), "255.0.0.0");
    EXPECT_EQ(routeCellText(r, fwcol::NextHop), "192.168.1.1");
    EXPECT_EQ(routeCellText(r, fwcol::Index), "0x10003");
    EXPECT_EQ(routeCellText(r, fwcol::Metric), "-1");
    EXPECT_EQ(routeCellText(r, fwcol::Persistent), "");
    EXPECT_EQ(routeCellText(r, fwcol::Protocol), "PROTO_IP_RIP");
    EXPECT_EQ(persistentRouteName(r), "10.0.0.0,255.0.0.0,192.168.1.1,-1");
    EXPECT_EQ(r.tag, 8);
    EXPECT_EQ(fill.rows[1].tag, 0x83);
    EXPECT_EQ(fill.rows[2].tag, 2);
    EXPECT_TRUE(fill.delListEnabled);

    EXPECT_EQ(protocolName(9999), "PROTO_IP_BOOTP");
    EXPECT_EQ(protocolName(10007), "PROTO_IP_NT_STATIC_NON_DOD");
    for (DWORD unknown : {0U, 6U, 9U, 12U, 15U, 10003U})
        EXPECT_EQ(protocolName(unknown), "PROTO_IP_OTHER") << unknown;
    // PROTO_IP_NT_AUTOSTATIC (0x2712) carries the 0x100 bit, yet is a live route.
    const Table autostatic({route("10.0.0.0", "255.0.0.0", "10.0.0.1", 2, 1, 10002)});
    const RouteRow live = makeRouteRows(autostatic.table(), autostatic.size(), {}).rows.front();
    EXPECT_FALSE(live.inactive());
    EXPECT_EQ(QColor::fromRgb(routeTextColour(live)), QColor(0, 0, 0));
    EXPECT_EQ(routeCellText(live, fwcol::Index), "0x2");
}

TEST(RouteRows, DeleteByListStaysOffForLocalAndDefaultRoutesOnly) {
    const Table t({route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 1, 3),
                   route("10.0.0.0", "255.0.0.0", "10.0.0.5", 2, 1, 2)});
    EXPECT_FALSE(makeRouteRows(t.table(), t.size(), {}).delListEnabled);
}

TEST(RouteRows, FiltersHideLocalhostAndClassfulBroadcasts) {
    const Table t({route("127.0.0.0", "255.0.0.0", "127.0.0.1", 1),
                   route("127.0.0.0", "255.0.0.0", "127.0.0.1", 2),
                   route("192.168.1.255", "255.255.255.255", "192.168.1.5", 2),
                   route("10.255.255.255", "255.255.255.255", "10.0.0.1", 2),
                   route("172.16.255.255", "255.255.255.255", "172.16.0.1", 2),
                   route("255.255.255.255", "255.255.255.255", "10.0.0.1", 2),
                   route("192.168.1.0", "255.255.255.0", "192.168.1.5", 2),
                   route("224.0.0.0", "240.0.0.0", "192.168.1.5", 2),
                   route("172.16.1.255", "255.255.255.255", "172.16.0.1", 2)});
    EXPECT_EQ(makeRouteRows(t.table(), t.size(), {}).rows.size(), 9U);
    EXPECT_EQ(destinations(makeRouteRows(t.table(), t.size(), {true, false})).front(), "127.0.0.0");
    EXPECT_EQ(makeRouteRows(t.table(), t.size(), {true, false}).rows.size(), 8U);
    EXPECT_EQ(destinations(makeRouteRows(t.table(), t.size(), {true, true})),
              (std::vector<QString>{"127.0.0.0", "192.168.1.0", "224.0.0.0", "172.16.1.255"}));
}

TEST(RouteRows, EntriesBeyondTheBufferAreNeverRead) {
    Table t({route("10.0.0.0", "255.0.0.0", "10.0.0.1", 2)});
    reinterpret_cast<MIB_IPFORWARDTABLE*>(t.storage.data())->dwNumEntries = 1000000;
    EXPECT_EQ(makeRouteRows(t.table(), t.size(), {}).rows.size(), 1U);
    EXPECT_TRUE(makeRouteRows(t.table(), 2, {}).rows.empty());
}

// The reader hands a buffer's pages back as it is told they are done with: a byte told too
// early would turn rows into zeros.
TEST(RouteRows, BytesToldDoneAreNeverReadAgain) {
    std::vector<MIB_IPFORWARDROW> routes;
    for (std::uint32_t i = 0; i < 10000; ++i) {
        MIB_IPFORWARDROW r = route("10.0.0.0", "255.255.255.252", "10.0.0.1", 2, i + 1);
        r.dwForwardDest = htonl(quad("10.0.0.0") + i * 4);
        routes.push_back(r);
    }
    Table t(routes);
    const std::vector<RouteRow> expected = makeRouteRows(t.table(), t.size(), {}).rows;
    std::vector<std::size_t> told;
    const RouteFill fill = makeRouteRows(t.table(), t.size(), {}, 0, [&](std::size_t bytes) {
        told.push_back(bytes);
        std::memset(t.storage.data(), 0xab, bytes); // what it holds is gone
    });
    ASSERT_EQ(fill.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(sameRoute(fill.rows[i], expected[i])) << i;
        EXPECT_EQ(fill.rows[i].metric, expected[i].metric) << i;
    }
    ASSERT_GT(told.size(), 1U);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back(), offsetof(MIB_IPFORWARDTABLE, table) + routes.size() * sizeof(routes[0]));
}

TEST(RouteRows, ActiveDefaultRouteHasTheSmallestSignedMetric) {
    const auto fill = [](const std::vector<MIB_IPFORWARDROW>& rows) {
        const Table t(rows);
        return makeRouteRows(t.table(), t.size(), {}).rows;
    };
    EXPECT_EQ(activeDefaultRoute(fill({route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 20),
                                       route("10.0.0.0", "255.0.0.0", "10.0.0.1", 2, 0),
                                       route("0.0.0.0", "0.0.0.0", "10.0.0.2", 2, 10)})),
              2);
    EXPECT_EQ(activeDefaultRoute(fill({route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 10),
                                       route("0.0.0.0", "0.0.0.0", "10.0.0.2", 2, 10)})),
              0);
    EXPECT_EQ(activeDefaultRoute(fill({route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 10),
                                       route("0.0.0.0", "0.0.0.0", "10.0.0.2", 2, 4294967295U)})),
              1);
    EXPECT_EQ(activeDefaultRoute(fill({route("10.0.0.0", "255.0.0.0", "10.0.0.1", 2)})), -1);
}

TEST(RouteRows, PersistentColumnAndStoreOnlyRows) {
    const Table t({route("10.0.0.0", "255.0.0.0", "192.168.1.1", 2, 1),
                   route("10.1.0.0", "255.255.0.0", "192.168.1.1", 2, 1)});
    std::vector<RouteRow> rows = makeRouteRows(t.table(), t.size(), {}).rows;
    const std::vector<std::string> names = {"10.0.0.0,255.0.0.0,192.168.1.1,1",
                                            "10.9.0.0,255.255.0.0,192.168.1.1,5", "Odd,Name",
                                            "10.1.0.0,255.255.0.0,192.168.1.1,01"};
    markPersistent(rows, PersistentNames(names));
    EXPECT_EQ(routeCellText(rows[0], fwcol::Persistent), "yes");
    EXPECT_EQ(routeCellText(rows[1], fwcol::Persistent), "");
    EXPECT_TRUE(PersistentNames({"ODD,NAME"}).contains("odd,name"));
    EXPECT_FALSE(PersistentNames().contains(""));

    // Exact text comparison: "01" is not the row's "1", so that name stays a row of its own.
    const std::vector<RouteRow> extra = inactivePersistentRows(rows, names);
    ASSERT_EQ(extra.size(), 3U);
    const RouteRow& grey = extra[0];
    EXPECT_EQ(grey.tag, routeTagInactive);
    const QStringList texts = {routeCellText(grey, 0), routeCellText(grey, 1),
                               routeCellText(grey, 2), routeCellText(grey, 3),
                               routeCellText(grey, 4), routeCellText(grey, 5),
                               routeCellText(grey, 6)};
    EXPECT_EQ(texts,
              (QStringList{"10.9.0.0", "255.255.0.0", "192.168.1.1", "n.a.", "5", "yes", "n.a."}));
    EXPECT_EQ(persistentRouteName(grey), "10.9.0.0,255.255.0.0,192.168.1.1,5");
    EXPECT_EQ(routeCellText(extra[1], fwcol::Mask), "Name");
    EXPECT_EQ(routeCellText(extra[1], fwcol::NextHop), "");
    // A malformed row is deleted by the name it is stored under, not one made from its columns.
    const std::vector<RouteRow> odd = inactivePersistentRows(
        {}, {"Odd,Name", "1.0.0.0,255.0.0.0,2.2.2.2", "1.0.0.0,255.0.0.0,2.2.2.2,1,9",
             "1.0.0.0,255.0.0.0,2.2.2.2,1,8", "1.0.0.0,255.0.0.0,2.2.2.2,1\x1b[2J"});
    ASSERT_EQ(odd.size(), 5U);
    EXPECT_EQ(persistentRouteName(odd[0]), "Odd,Name");
    EXPECT_EQ(persistentRouteName(odd[1]), "1.0.0.0,255.0.0.0,2.2.2.2");
    EXPECT_EQ(persistentRouteName(odd[2]), "1.0.0.0,255.0.0.0,2.2.2.2,1,9");
    EXPECT_FALSE(sameRoute(odd[2], odd[3]));
    EXPECT_EQ(inactivePersistentRows(odd, {"1.0.0.0,255.0.0.0,2.2.2.2,1,9"}).size(), 0U);
    EXPECT_EQ(routeCellText(odd[4], fwcol::Metric), "1?[2J"); // no control bytes on screen
    // Store-only rows never become the active default route.
    std::vector<RouteRow> merged = inactivePersistentRows({}, {"0.0.0.0,0.0.0.0,10.0.0.1,1"});
    EXPECT_EQ(activeDefaultRoute(merged), -1);
}

// Rows are matched with the store by number; the answers must be those of comparing names:
// without regard to case for the Persistent column, exactly for the store-only rows.
TEST(RouteRows, PersistentMatchingByNumberAgreesWithNames) {
    const Table t({route("10.0.0.0", "255.0.0.0", "192.168.1.1", 2, 1),
                   route("10.1.0.0", "255.255.0.0", "192.168.1.1", 2, 4294967295U),
                   route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 0),
                   route("10.2.0.0", "255.255.0.0", "192.168.1.1", 2, 7),
                   route("10.3.0.0", "255.255.0.0", "192.168.1.1", 2, 2147483648U)});
    std::vector<RouteRow> rows = makeRouteRows(t.table(), t.size(), {}).rows;
    std::vector<RouteRow> withGrey = rows;
    withGrey.push_back(inactivePersistentRows({}, {"10.9.0.0,255.255.0.0,1.1.1.1,Five"}).front());
    const std::vector<std::string> names = {
        "10.0.0.0,255.0.0.0,192.168.1.1,1",
        "10.1.0.0,255.255.0.0,192.168.1.1,4294967295", // the row says "-1"
        "0.0.0.0,0.0.0.0,10.0.0.1,00",
        "010.2.0.0,255.255.0.0,192.168.1.1,7",
        "10.3.0.0,255.255.0.0,192.168.1.1,-2147483648",
        "10.9.0.0,255.255.0.0,1.1.1.1,five", // the store-only row's name in another case
        " 10.0.0.0,255.0.0.0,192.168.1.1,1",
        "10.0.0.0,255.0.0.0,192.168.1.1,+1",
        "garbage"};
    // Every subset of the names, one after another.
    for (unsigned mask = 0; mask < (1U << names.size()); ++mask) {
        std::vector<std::string> stored;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (mask & (1U << i))
                stored.push_back(names[i]);
        std::vector<RouteRow> marked = rows;
        const PersistentNames store(stored);
        markPersistent(marked, store);
        std::vector<std::string> missing;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::string name = persistentRouteName(rows[r]);
            const bool byName = std::any_of(stored.begin(), stored.end(), [&](const auto& s) {
                return QString::fromStdString(s).toLower() == QString::fromStdString(name);
            });
            EXPECT_EQ(marked[r].persistent, byName) << name << " of subset " << mask;
        }
        EXPECT_EQ(store.contains(withGrey.back()), (mask & (1U << 5)) != 0);
        for (const std::string& s : stored)
            if (std::none_of(withGrey.begin(), withGrey.end(),
                             [&](const RouteRow& r) { return persistentRouteName(r) == s; }))
                missing.emplace_back(Csv(s, ',').field(1));
        std::vector<std::string> got;
        for (const RouteRow& extra : inactivePersistentRows(withGrey, stored))
            got.push_back(routeCellText(extra, fwcol::Destination).toStdString());
        EXPECT_EQ(got, missing) << "subset " << mask;
    }
    EXPECT_EQ(persistentRouteName(rows[4]), "10.3.0.0,255.255.0.0,192.168.1.1,-2147483648");
    EXPECT_FALSE(liveRouteKey("10.1.0.0,255.255.0.0,192.168.1.1,4294967295"));
    EXPECT_TRUE(liveRouteKey("10.1.0.0,255.255.0.0,192.168.1.1,-1"));
}

TEST(RouteRows, ColoursQuestionsAndDeletionRecord) {
    const auto colour = [](const char* dest, DWORD proto) {
        const Table t({route(dest, dest, "10.0.0.1", 2, 1, proto)});
        return QColor::fromRgb(
            routeTextColour(makeRouteRows(t.table(), t.size(), {}).rows.front()));
    };
    EXPECT_EQ(colour("255.0.0.0", 2), QColor(255, 0, 0));
    EXPECT_EQ(colour("0.0.0.0", 3), QColor(0, 0, 255));
    EXPECT_EQ(colour("0.0.0.0", 2), QColor(0, 0, 0));
    EXPECT_EQ(QColor::fromRgb(routeTextColour(inactivePersistentRows({}, {"1,2,3,4"}).front())),
              QColor(192, 192, 192));

    const Table t({route("10.0.0.0", "255.0.0.0", "192.168.1.1", 7, 100)});
    const RouteRow row = makeRouteRows(t.table(), t.size(), {}).rows.front();
    EXPECT_EQ(deleteRouteQuestion(1, row),
              "Delete routing entry for 10.0.0.0 mask 255.0.0.0 via 192.168.1.1?");
    EXPECT_EQ(deleteRouteQuestion(3, row), "Delete 3 selected routing entries?");
    const MIB_IPFORWARDROW record = routeDeletionRecord(row);
    EXPECT_EQ(record.dwForwardDest, t.table().table[0].dwForwardDest);
    EXPECT_EQ(record.dwForwardNextHop, t.table().table[0].dwForwardNextHop);
    EXPECT_EQ(record.dwForwardIfIndex, 7U);
    EXPECT_EQ(record.dwForwardMetric1, 100U); // its sibling of another metric is another route
    EXPECT_EQ(record.dwForwardProto, 0U);
}

TEST(RouteRows, SameRouteIsTheRouteNotItsPersistentMark) {
    const Table t({route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 50),
                   route("0.0.0.0", "0.0.0.0", "10.0.0.1", 2, 100)});
    std::vector<RouteRow> rows = makeRouteRows(t.table(), t.size(), {}).rows;
    const RouteRow taken = rows[1];
    rows[1].persistent = !rows[1].persistent;
    EXPECT_TRUE(sameRoute(rows[1], taken));
    EXPECT_FALSE(sameRoute(rows[0], taken));
    const std::vector<RouteRow> stored = inactivePersistentRows({}, {"1,2,3,4", "1,2,3,5"});
    EXPECT_TRUE(sameRoute(stored[0], stored[0]));
    EXPECT_FALSE(sameRoute(stored[0], stored[1]));
}

TEST(RouteRestore, NamesAreReadStrictly) {
    const auto r = parsePersistentRouteName("10.0.0.0,255.0.0.0,192.168.1.1,-1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->destination, 0x0A000000U);
    EXPECT_EQ(r->metric, 4294967295U);
    for (const char* bad : {"", "10.0.0.0,255.0.0.0,192.168.1.1", "10.0.0.0,255.0.0.0,1.1.1.1,x",
                            "10.0.0.0,255.0.0.0,1.1.1.1,1,2", "10.0.0.0,255.0.0.0,1.1.1.256,1",
                            "10.0.0.0,255.0.0.0,1.1.1.1,99999999999", "a,b,c,d"})
        EXPECT_FALSE(parsePersistentRouteName(bad)) << bad;
}

TEST(RouteRestore, PlanMatchesPresentRoutesAndPicksTheInterface) {
    const PersistentRoute want = *parsePersistentRouteName("10.0.0.0,255.0.0.0,192.168.1.1,5");
    const std::vector<LocalAddress> locals = {{quad("172.16.0.2"), quad("255.255.0.0"), 3},
                                              {quad("192.168.1.5"), quad("255.255.255.0"), 4}};
    // The same route already present: nothing to do. One of another metric is another route,
    // which the kernel holds beside it.
    EXPECT_EQ(planRestore(want, {route("10.0.0.0", "255.0.0.0", "192.168.1.1", 4, 5)}, locals).kind,
              RestorePlan::Kind::Present);
    const RestorePlan beside =
        planRestore(want, {route("10.0.0.0", "255.0.0.0", "192.168.1.1", 4, 7)}, locals);
    EXPECT_EQ(beside.kind, RestorePlan::Kind::Add);
    EXPECT_EQ(beside.record.dwForwardMetric1, 5U);

    const RestorePlan add = planRestore(want, {}, locals);
    ASSERT_EQ(add.kind, RestorePlan::Kind::Add);
    EXPECT_EQ(add.record.dwForwardIfIndex, 4U);
    EXPECT_EQ(add.record.dwForwardType, 4U);
    EXPECT_EQ(add.record.dwForwardProto, 3U);
    EXPECT_EQ(add.record.dwForwardMetric1, 5U);
    EXPECT_EQ(add.record.dwForwardMetric5, 0xFFFFFFFFU);
    EXPECT_EQ(add.record.dwForwardDest, htonl(0x0A000000U));

    const PersistentRoute direct = *parsePersistentRouteName("10.0.0.0,255.0.0.0,172.16.0.2,1");
    const RestorePlan local = planRestore(direct, {}, locals);
    EXPECT_EQ(local.record.dwForwardIfIndex, 3U);
    EXPECT_EQ(local.record.dwForwardType, 3U);

    // A next hop no local network reaches fails, whatever route would carry traffic to it;
    // 0.0.0.0 is no next hop, though a direct default route "contains" it.
    MIB_IPFORWARDROW anywhere = route("0.0.0.0", "0.0.0.0", "0.0.0.0", 6);
    anywhere.dwForwardType = MIB_IPROUTE_TYPE_DIRECT;
    for (const char* name : {"10.0.0.0,255.0.0.0,8.8.8.8,1", "10.0.0.0,255.0.0.0,0.0.0.0,1"}) {
        const RestorePlan far =
            planRestore(*parsePersistentRouteName(name),
                        {route("0.0.0.0", "0.0.0.0", "192.168.1.1", 4), anywhere}, locals);
        EXPECT_NE(far.kind, RestorePlan::Kind::Add) << name;
        EXPECT_NE(far.reason.find("next hop " + std::string(Csv(name, ',').field(3))),
                  std::string::npos)
            << far.reason;
    }
    // The peer of a point-to-point link is reached by a route without a gateway, the
    // narrowest one that holds it.
    MIB_IPFORWARDROW peer = route("10.8.0.0", "255.255.255.0", "10.8.0.1", 7);
    MIB_IPFORWARDROW peerHost = route("10.8.0.2", "255.255.255.255", "10.8.0.1", 8);
    peer.dwForwardType = peerHost.dwForwardType = MIB_IPROUTE_TYPE_DIRECT;
    const RestorePlan viaPeer = planRestore(
        *parsePersistentRouteName("10.9.0.0,255.255.0.0,10.8.0.2,1"), {peer, peerHost}, locals);
    ASSERT_EQ(viaPeer.kind, RestorePlan::Kind::Add);
    EXPECT_EQ(viaPeer.record.dwForwardIfIndex, 8U);
    EXPECT_EQ(viaPeer.record.dwForwardType, MIB_IPROUTE_TYPE_INDIRECT);
}

// The row of a route whose gateway the table cannot name (an IPv6 one) shows next hop 0.0.0.0;
// restored under that name it would come back as an on-link route.
TEST(RouteRestore, NextHopZeroIsNeverStoredMarkedOrRestored) {
    const Table t({route("10.1.0.0", "255.255.0.0", "0.0.0.0", 2, 1024)});
    std::vector<RouteRow> rows = makeRouteRows(t.table(), t.size(), {}).rows;
    const std::string name = "10.1.0.0,255.255.0.0,0.0.0.0,1024";
    EXPECT_FALSE(hasPersistentName(rows[0]));
    EXPECT_FALSE(SetPersistent(name, true));
    EXPECT_FALSE(IsPersistent(name));

    // Stored all the same (by hand): it names no live row and stays a row of its own.
    markPersistent(rows, PersistentNames({name}));
    EXPECT_FALSE(rows[0].persistent);
    const std::vector<RouteRow> extra = inactivePersistentRows(rows, {name});
    ASSERT_EQ(extra.size(), 1U);
    EXPECT_TRUE(hasPersistentName(extra[0]));
    const RestorePlan plan = planRestore(*parsePersistentRouteName(name), {t.table().table[0]}, {});
    EXPECT_EQ(plan.kind, RestorePlan::Kind::NoNextHop);
    EXPECT_NE(plan.reason.find("0.0.0.0"), std::string::npos);
}

// The fill of a very large table: rows, store lookup, active default route.
TEST(RouteRows, HundredThousandRowsFillQuickly) {
    constexpr DWORD count = 100000;
    std::vector<MIB_IPFORWARDROW> rows(count);
    for (DWORD i = 0; i < count; ++i) {
        rows[i].dwForwardDest = htonl(0x0A000000U + (i << 8));
        rows[i].dwForwardMask = htonl(0xFFFFFF00U);
        rows[i].dwForwardNextHop = htonl(0xC0A80101U);
        rows[i].dwForwardIfIndex = 2;
        rows[i].dwForwardMetric1 = i % 50;
        rows[i].dwForwardProto = i % 3 == 0 ? 2 : 3;
    }
    const Table t(rows);
    std::vector<std::string> names;
    for (DWORD i = 0; i < 5000; ++i)
        names.push_back(format_quad(0x0A000000U + (i << 9)) + ",255.255.255.0,192.168.1.1," +
                        std::to_string(i * 2 % 50));
    const auto start = std::chrono::steady_clock::now();
    RouteFill fill = makeRouteRows(t.table(), t.size(), {false, true});
    markPersistent(fill.rows, PersistentNames(names));
    const int active = activeDefaultRoute(fill.rows);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("100000 route rows filled in %lld ms\n", static_cast<long long>(ms));
    EXPECT_EQ(fill.rows.size(), count);
    EXPECT_EQ(active, -1);
    EXPECT_TRUE(fill.rows[2].persistent); // 10.0.2.0 = 10.0.0.0 + (1 << 9), metric 2
    EXPECT_FALSE(fill.rows[1].persistent);
    // Generous for instrumented debug builds; a release build is far below.
    EXPECT_LT(ms, 5000);
}

TEST(RouteEdit, DialogListsAndNextHopProposals) {
    const QStringList masks = routeMaskList();
    ASSERT_EQ(masks.size(), 32);
    EXPECT_EQ(masks.front(), "0.0.0.0");
    EXPECT_EQ(masks[1], "128.0.0.0");
    EXPECT_EQ(masks[30], "255.255.255.252");
    EXPECT_EQ(masks[31], "255.255.255.255");
    EXPECT_FALSE(masks.contains("255.255.255.254"));

    EXPECT_EQ(gatewayNodeAddress("Gateway: 192.168.1.1 (HSRP, MAC 00-00-0C-07-AC-01)"),
              "192.168.1.1");
    EXPECT_EQ(gatewayNodeAddress("Gateway: 10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(gatewayNodeAddress(""), "");

    const auto live = [](std::uint32_t dest, std::uint32_t hop, DWORD index) {
        RouteRow r;
        r.destination = dest;
        r.nextHop = hop;
        r.ifIndex = index;
        return r;
    };
    RouteRow stored = live(0, 0x0a000009, 3);
    stored.storeOnly = true;
    stored.setStored({"0.0.0.0", "0.0.0.0", "10.0.0.9", "1"}, {});
    std::vector<RouteRow> rows = {live(0x0a010000, 0x0a000002, 3), live(0, 0x0a000001, 3),
                                  live(0x0a020000, 0x0a000003, 3), stored};
    // The last default route through the interface wins over later routes; rows from the
    // store never count.
    EXPECT_EQ(routeListNextHop(rows, 3), "10.0.0.1");
    EXPECT_EQ(defaultGatewayText(rows, 3), "10.0.0.1");
    rows.erase(rows.begin() + 1);
    EXPECT_EQ(routeListNextHop(rows, 3), "10.0.0.3");
    EXPECT_EQ(defaultGatewayText(rows, 3), "0.0.0.0");
    EXPECT_EQ(routeListNextHop(rows, 4), "");
    RouteInterface face{"eth0", "0x3", true, "Gateway: 10.9.9.9"};
    EXPECT_EQ(nextHopProposal(face, rows), "10.9.9.9");
    face.gatewayNode.clear();
    EXPECT_EQ(nextHopProposal(face, rows), "10.0.0.3");

    const QStringList own = {"10.0.0.5", "192.168.1.7"};
    EXPECT_EQ(routeTypeFor("10.0.0.5", "10.0.0.1", own), DWORD(MIB_IPROUTE_TYPE_DIRECT));
    EXPECT_EQ(routeTypeFor("10.0.0.5", "10.0.0.5", own), DWORD(MIB_IPROUTE_TYPE_INDIRECT));
    EXPECT_EQ(routeTypeFor("10.0.0.6", "10.0.0.1", own), DWORD(MIB_IPROUTE_TYPE_INDIRECT));
    EXPECT_EQ(typedRouteName("10.0.0.0", "255.0.0.0", " 10.0.0.1", 300),
              "10.0.0.0,255.0.0.0, 10.0.0.1,300");
}

// The report appends cells without making a text each: the same text the page shows, for
// every kind of row and column.
TEST(RouteCells, AppendedTextsAreThoseOfTheCells) {
    std::vector<RouteRow> rows(4);
    rows[0].destination = 0x0A010000;
    rows[0].mask = 0xFFFF0000;
    rows[0].nextHop = 0xC0A80001;
    rows[0].ifIndex = 0xFEDC0A1B; // every hex digit case, eight of them
    rows[0].metric = 0xFFFFFFFF;  // shown as -1
    rows[0].protocol = 3;
    rows[0].persistent = true;
    rows[1].destination = 0xFFFFFFFF;
    rows[1].mask = 0xFFFFFFFF;
    rows[1].metric = 256;
    rows[1].table = 100;
    rows[2].family = familyIpv6;
    rows[2].prefixLength = 64;
    rows[2].destination6 = {0x20, 0x01, 0x0d, 0xb8};
    rows[2].nextHopFamily = familyIpv6;
    rows[2].nextHop6 = {0xfe, 0x80, 15, 1};
    rows[3].storeOnly = true;
    rows[3].setStored({"10.9.0.0", "255.255.0.0", "10.0.0.9", "7"},
                      "10.9.0.0,255.255.0.0,10.0.0.9,7");
    for (const RouteRow& row : rows)
        for (int c = 0; c < fwcol::CountWithTable; ++c) {
            QString appended = QStringLiteral("x");
            appendRouteCellText(appended, row, c);
            EXPECT_EQ(appended, QStringLiteral("x") + routeCellText(row, c)) << c;
        }
}
