// Every list model of the pages and dialogs under QAbstractItemModelTester, which checks after
// each signal that rows, indexes, parents and data agree: filled, changed in every way the
// program changes them, emptied and filled again. A breach aborts the test.
#include "connections/connmodel.h"
#include "routing/frmroutelist.h"
#include "routing/routemodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

constexpr auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;

QApplication& app() {
    static int argc = 1;
    static char name[] = "test_models";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QApplication(argc, argv); // fonts for the underline
    return *instance;
}

RouteRow route(std::uint32_t destination, std::uint32_t mask, std::uint32_t hop, DWORD index) {
    RouteRow r;
    r.destination = destination;
    r.mask = mask;
    r.nextHop = hop;
    r.ifIndex = index;
    r.metric = 1;
    r.type = 4;
    return r;
}

std::vector<RouteRow> routes(int n) {
    std::vector<RouteRow> rows = {route(0, 0, 0x0a000001, 2)};
    for (int i = 1; i < n; ++i)
        rows.push_back(
            route(0x0a000000 + (static_cast<std::uint32_t>(i) << 8), 0xffffff00, 0x0a000001, 2));
    RouteRow stored = route(0x0b000000, 0xff000000, 0x0a000009, 0);
    stored.storeOnly = true;
    stored.setStored({"11.0.0.0", "255.0.0.0", "10.0.0.9", "1"}, "11.0.0.0,255.0.0.0,10.0.0.9,1");
    rows.push_back(stored);
    return rows;
}

ConnRow conn(std::initializer_list<const char*> texts, int word) {
    ConnRow r;
    for (const char* t : texts)
        r.texts << QString::fromLatin1(t);
    r.dataWord = word;
    return r;
}

std::vector<ConnRow> conns() {
    return {conn({"TCP", "10.0.0.2", "80", "10.0.0.9", "5000", "ESTABLISHED", "1"}, 1),
            conn({"UDP", "0.0.0.0", "53", "", "", "", "2"}, 0),
            conn({"TCP", "127.0.0.1", "631"}, 1)}; // fewer texts than columns
}

} // namespace

TEST(Models, RouteModelThroughFillsRemovalsAndRecolouring) {
    app();
    RouteModel m;
    QAbstractItemModelTester tester(&m, fatal);
    bool coloured = true;
    m.coloured = [&coloured] { return coloured; };
    for (int c = 0; c < m.columnCount(); ++c)
        ASSERT_TRUE(m.setHeaderData(c, Qt::Horizontal, QStringLiteral("c%1").arg(c)));

    m.reset(routes(20), 0);
    EXPECT_EQ(m.rowCount(), 21);
    m.setActiveDefault(0);
    m.setPersistent(PersistentNames({"10.0.1.0,255.255.255.0,10.0.0.1,1"}));
    coloured = false;
    m.setActiveDefault(-1);
    ASSERT_TRUE(m.removeRows(3, 4));
    EXPECT_FALSE(m.removeRows(m.rowCount(), 1));
    EXPECT_FALSE(m.removeRows(0, m.rowCount() + 1));
    m.removeRowsAt({0, 2, m.rowCount() - 1});
    m.append(routes(5));
    m.append({});
    m.removeRowsAt({});
    m.reset({}, -1);
    EXPECT_EQ(m.rowCount(), 0);
    m.setPersistent(PersistentNames());
    m.setActiveDefault(-1);
    m.reset(routes(200), 0); // refill after empty
    ASSERT_TRUE(m.removeRows(0, 1));
    EXPECT_EQ(m.activeDefault(), -1); // the underline went with its route
    EXPECT_EQ(m.rowCount(), 200);
}

TEST(Models, ConnectionModelThroughListingsSortsAndTheOwnerColumn) {
    app();
    ConnectionModel m(0, 7);
    QAbstractItemModelTester tester(&m, fatal);
    m.coloured = [] { return true; };
    m.setRows(conns());
    ASSERT_TRUE(m.insertColumn(7)); // the owner column arrives after rows exist
    ASSERT_TRUE(m.setHeaderData(7, Qt::Horizontal, QStringLiteral("Owner Process")));
    EXPECT_EQ(m.columnCount(), 8);
    m.sort(2);
    m.armColumnClicks();
    for (const int column : {2, 2, 0, 7, 1})
        m.columnClick(column);
    m.clear();
    EXPECT_EQ(m.rowCount(), 0);
    m.sort(1);
    m.setRows(conns());
    m.setRows(conns());
    EXPECT_EQ(m.rowCount(), 3);
}

TEST(Models, RouteListModelThroughLoadsAndClears) {
    app();
    RouteListModel m;
    QAbstractItemModelTester tester(&m, fatal);
    m.setRoutes({{"10.0.0.0", "255.0.0.0", 1}, {"010.1.0.0", "255.255.0.0", 3}});
    EXPECT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "Network Mask");
    m.setRoutes({});
    std::vector<ListRoute> many;
    for (int i = 0; i < 1000; ++i)
        many.push_back(
            {QStringLiteral("10.%1.0.0").arg(i % 256), QStringLiteral("255.255.0.0"), i + 1});
    m.setRoutes(std::move(many));
    EXPECT_EQ(m.rowCount(), 1000);
    EXPECT_EQ(m.index(999, 0).data().toString(), "10.231.0.0");
}
