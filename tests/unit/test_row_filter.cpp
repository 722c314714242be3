// The typed filter: the index it searches, the shown rows of the route and connection models
// through fills, removals and sorts, a big table narrowed to exactly the rows that match, and
// the column click's numeric order.
#include "connections/connmodel.h"
#include "routing/routemodel.h"
#include "widgets/rowfilter.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

constexpr auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;

QApplication& app() {
    static int argc = 1;
    static char name[] = "test_row_filter";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QApplication(argc, argv);
    return *instance;
}

RowTextIndex indexOf(std::initializer_list<QStringList> rows) {
    RowTextIndex index;
    for (const QStringList& cells : rows) {
        for (const QString& c : cells)
            index.addCell(c);
        index.endRow();
    }
    return index;
}

RouteRow route(std::uint32_t destination, std::uint32_t mask, std::uint32_t hop, DWORD index,
               DWORD metric = 1, DWORD protocol = 3) {
    RouteRow r;
    r.destination = destination;
    r.mask = mask;
    r.nextHop = hop;
    r.ifIndex = index;
    r.metric = metric;
    r.protocol = protocol;
    r.type = 4;
    return r;
}

// The rows of the big benchmark world's shape: /24s from 20.0.0.0 through a hundred gateways.
std::vector<RouteRow> bigTable(int n) {
    std::vector<RouteRow> rows;
    rows.reserve(static_cast<std::size_t>(n));
    rows.push_back(route(0, 0, 0xac1000fe, 2));
    for (int i = 1; i < n; ++i) {
        const auto r = static_cast<std::uint32_t>(i - 1);
        rows.push_back(route((20U + r / 65536) << 24 | (r / 256 % 256) << 16 | (r % 256) << 8,
                             0xffffff00, 0xac100002 | (r % 100) << 8, 2 + r % 100));
    }
    return rows;
}

std::vector<int> matchingByText(const RouteModel& m, const QString& needle) {
    std::vector<int> rows;
    for (std::size_t r = 0; r < m.rows().size(); ++r)
        for (int c = 0; c < m.columnCount(); ++c)
            if (m.sourceCellText(r, c).contains(needle, Qt::CaseInsensitive)) {
                rows.push_back(static_cast<int>(r));
                break;
            }
    return rows;
}

std::vector<int> shownSources(const RouteModel& m) {
    std::vector<int> rows;
    for (std::size_t r = 0; r < m.rows().size(); ++r)
        if (m.shownRow(r) >= 0)
            rows.push_back(static_cast<int>(r));
    return rows;
}

} // namespace

TEST(RowTextIndex, MatchesWithinOneCellInAnyLetterCase) {
    const RowTextIndex index = indexOf({{"TCP", "10.0.0.1", "ESTABLISHED"},
                                        {"UDP", "0.0.0.0", ""},
                                        {"TCPv6", "fe80::1%Eth0", "LISTENING"},
                                        {"Straße", "\u00c4rger", "x"}});
    EXPECT_EQ(index.rowsContaining(u"tcp"), (std::vector<int>{0, 2}));
    EXPECT_EQ(index.rowsContaining(u"Established"), (std::vector<int>{0}));
    EXPECT_EQ(index.rowsContaining(u"ETH0"), (std::vector<int>{2}));
    EXPECT_EQ(index.rowsContaining(u"0.0"), (std::vector<int>{0, 1}));
    // Beyond ASCII letters too, and only whole characters.
    EXPECT_EQ(index.rowsContaining(u"\u00e4rg"), (std::vector<int>{3}));
    EXPECT_EQ(index.rowsContaining(u"STRASSE"), (std::vector<int>{})); // folding keeps length
    EXPECT_EQ(index.rowsContaining(u"straße"), (std::vector<int>{3}));
    // No match across two cells or two rows.
    EXPECT_TRUE(index.rowsContaining(u"tcp10").empty());
    EXPECT_TRUE(index.rowsContaining(u"establishedudp").empty());
    EXPECT_TRUE(index.rowsContaining(QStringView(u"\0", 1)).empty());
    EXPECT_EQ(index.rowsContaining(u"").size(), 4u);
    EXPECT_EQ(RowTextIndex().rowsContaining(u"a"), (std::vector<int>{}));
}

TEST(RowFilter, MapsShownAndSourceRowsAndFollowsRemovals) {
    RowFilter f;
    const auto build = [](RowTextIndex& index) {
        for (const char* t : {"a1", "b", "a2", "c", "a3", "a4"}) {
            index.addCell(QString::fromLatin1(t));
            index.endRow();
        }
    };
    f.apply(build);
    EXPECT_FALSE(f.active());
    EXPECT_EQ(f.shownCount(6), 6);
    EXPECT_EQ(f.sourceRow(3), 3);
    f.setText(QStringLiteral("A"));
    f.apply(build);
    EXPECT_EQ(f.shownCount(6), 4);
    EXPECT_EQ(f.sourceRow(1), 2);
    EXPECT_EQ(f.shownRow(4), 2);
    EXPECT_EQ(f.shownRow(1), -1);
    // Sources 1 (hidden) and 2 (shown) go: a3 and a4 move up by two.
    f.sourceRowsRemoved({1, 2});
    EXPECT_EQ(f.shownCount(4), 3);
    EXPECT_EQ(f.sourceRow(1), 2);
    EXPECT_EQ(f.sourceRow(2), 3);
}

TEST(RouteFilter, TheFastTextsAreTheCellsAsShown) {
    app();
    std::vector<RouteRow> rows = {route(0, 0, 0xac1000fe, 2, 0),
                                  route(0xffffffff, 0xffffffff, 0x7f000001, 0x1a, 0xffffffff, 2),
                                  route(0x0a000100, 0xffffff00, 0, 0xffffffff, 2147483647, 10002),
                                  route(0xc0a80100, 0xffffff00, 0x0a0b0c0d, 0, 255, 77)};
    rows[1].persistent = true;
    rows[2].table = 100;
    rows[3].table = 255;
    RouteRow six = route(0, 0, 0, 3, 256);
    six.family = familyIpv6;
    six.prefixLength = 64;
    six.destination6 = {0x20, 0x01, 0x0d, 0xb8};
    six.table = 254;
    rows.push_back(six);
    RouteRow stored = route(0x0b000000, 0xff000000, 0x0a000009, 0);
    stored.storeOnly = true;
    stored.setStored({"011.0.0.0", "255.0.0.0", "10.0.0.9", "1"}, "011.0.0.0,255.0.0.0,10.0.0.9,1");
    rows.push_back(stored);

    RouteTableNames names;
    for (const bool tables : {false, true}) {
        RowTextIndex fast;
        indexRouteRows(fast, rows, tables, names);
        RouteModel m;
        m.setTables(tables, names);
        m.reset(rows, -1);
        RowTextIndex slow;
        for (int r = 0; r < m.rowCount(); ++r) {
            for (int c = 0; c < m.columnCount(); ++c)
                slow.addCell(m.cellText(r, c));
            slow.endRow();
        }
        EXPECT_TRUE(fast == slow) << "tables " << tables;
    }
}

TEST(RouteFilter, NarrowsABigTableToExactlyTheMatchingRows) {
    app();
    RouteModel m;
    m.reset(bigTable(100604), 0);
    ASSERT_EQ(m.rowCount(), 100604);
    for (const QString& needle :
         {QStringLiteral("20.1.7"), QStringLiteral("0X1A"), QStringLiteral("172.16.0.2"),
          QStringLiteral("netmgmt"), QStringLiteral("21.100.34.0"), QStringLiteral("nothing")}) {
        m.setFilterText(needle);
        const std::vector<int> expected = matchingByText(m, needle);
        EXPECT_EQ(m.rowCount(), static_cast<int>(expected.size())) << qPrintable(needle);
        EXPECT_EQ(shownSources(m), expected) << qPrintable(needle);
        EXPECT_TRUE(m.filtering());
    }
    m.setFilterText(QStringLiteral("21.100.34.0"));
    ASSERT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.cellText(0, fwcol::Destination), "21.100.34.0");
    m.setFilterText(QString());
    EXPECT_FALSE(m.filtering());
    EXPECT_EQ(m.rowCount(), 100604);
}

TEST(RouteFilter, RowNumbersAreTheShownRowsThroughChanges) {
    app();
    RouteModel m;
    QAbstractItemModelTester tester(&m, fatal);
    m.coloured = [] { return true; };
    std::vector<RouteRow> rows = bigTable(40); // 20.0.0.0 ... 20.0.38.0
    m.reset(rows, 0);
    m.setFilterText(QStringLiteral("20.0.1")); // 20.0.1.0 and 20.0.10.0 ... 20.0.19.0
    ASSERT_EQ(m.rowCount(), 11);
    EXPECT_EQ(m.cellText(1, fwcol::Destination), "20.0.10.0");
    EXPECT_EQ(m.row(1).destination, rows[11].destination);

    // Shown rows 1 and 2 go; the hidden rows stay.
    m.removeRowsAt({1, 2});
    EXPECT_EQ(m.rowCount(), 9);
    EXPECT_EQ(m.rows().size(), 38u);
    EXPECT_EQ(m.cellText(1, fwcol::Destination), "20.0.12.0");
    ASSERT_TRUE(m.removeRows(0, 2)); // 20.0.1.0 and 20.0.12.0
    EXPECT_EQ(m.rows().size(), 36u);
    EXPECT_EQ(m.cellText(0, fwcol::Destination), "20.0.13.0");
    EXPECT_EQ(m.activeDefault(), 0); // the default route is hidden but still the active one

    // Appended rows that match are shown, others are kept hidden.
    m.append({route(0x14000100 | 0xff, 0xffffffff, 0, 5), route(0x1e000000, 0xff000000, 0, 5)});
    EXPECT_EQ(m.rows().size(), 38u);
    EXPECT_EQ(m.rowCount(), 8);
    EXPECT_EQ(m.shownRow(m.rows().size() - 1), -1);

    // The Persistent column is searched as it stands now.
    m.setFilterText(QStringLiteral("yes"));
    EXPECT_EQ(m.rowCount(), 0);
    m.setPersistent(PersistentNames({"20.0.5.0,255.255.255.0,172.16.5.2,1"}));
    ASSERT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.cellText(0, fwcol::Destination), "20.0.5.0");

    // A fill keeps the typed text; so does showing the Table column.
    m.reset(bigTable(40), 0);
    EXPECT_EQ(m.rowCount(), 0);
    m.setFilterText(QStringLiteral("0x2"));
    const int withHex = m.rowCount();
    EXPECT_GT(withHex, 0);
    m.setTables(true, RouteTableNames());
    EXPECT_EQ(m.rowCount(), withHex);
    EXPECT_EQ(m.filterText(), "0x2");
}

TEST(ConnFilter, NarrowsAndKeepsNarrowingThroughSortsAndListings) {
    app();
    ConnectionModel m(0, 7);
    QAbstractItemModelTester tester(&m, fatal);
    const auto conn = [](QStringList texts) {
        ConnRow r;
        r.texts = std::move(texts);
        r.dataWord = r.texts.value(0).startsWith(QLatin1String("TCP")) ? 1 : 0;
        return r;
    };
    m.setRows({conn({"TCP", "10.0.0.2", "8080", "10.0.0.9", "52336", "ESTABLISHED", "0x2"}),
               conn({"UDP", "0.0.0.0", "68"}),
               conn({"TCP", "127.0.0.1", "631", "0.0.0.0", "0", "LISTENING", "0x1"}),
               conn({"TCPv6", "::", "49702", "::", "0", "listening", "0x1"})});
    m.setFilterText(QStringLiteral("Listen"));
    ASSERT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.index(1, 0).data().toString(), "TCPv6");
    EXPECT_EQ(m.index(1, 0).data(connDataWordRole).toInt(), 1);
    m.armColumnClicks();
    m.columnClick(conncol::LocalPort); // ascending: 631 before 49702
    ASSERT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.index(0, conncol::LocalPort).data().toString(), "631");
    m.columnClick(conncol::LocalPort); // descending
    EXPECT_EQ(m.index(0, conncol::LocalPort).data().toString(), "49702");
    EXPECT_EQ(m.rows().size(), 4u); // the report still has every row
    ASSERT_TRUE(m.insertColumn(7));
    EXPECT_EQ(m.rowCount(), 2);
    m.setRows({conn({"UDP", "0.0.0.0", "5353"})});
    EXPECT_EQ(m.rowCount(), 0);
    m.setFilterText(QString());
    EXPECT_EQ(m.rowCount(), 1);
}

TEST(ConnSort, NumbersByValueEmptyFirstTextsAfter) {
    // The ports of the listing as they came, and as the click sorts them.
    std::vector<ConnRow> rows;
    for (const char* port : {"49702", "52336", "631", "68", "8080", "", "http", "0x10", "0x2"}) {
        ConnRow r;
        r.texts = {QStringLiteral("TCP"), QStringLiteral("10.0.0.1"), QString::fromLatin1(port)};
        rows.push_back(r);
    }
    sortConnRows(rows, conncol::LocalPort, true);
    QStringList ports;
    for (const ConnRow& r : rows)
        ports << r.text(conncol::LocalPort);
    EXPECT_EQ(ports,
              (QStringList{"", "0x2", "0x10", "68", "631", "8080", "49702", "52336", "http"}));
    sortConnRows(rows, conncol::LocalPort, false);
    EXPECT_EQ(rows.front().text(conncol::LocalPort), "http");
    EXPECT_EQ(rows.back().text(conncol::LocalPort), "");

    EXPECT_LT(compareConnCells(QStringLiteral("9"), QStringLiteral("10")), 0);
    EXPECT_EQ(compareConnCells(QStringLiteral("080"), QStringLiteral("80")), 0);
    // Addresses are texts, compared as before.
    EXPECT_LT(compareConnCells(QStringLiteral("10.0.0.10"), QStringLiteral("10.0.0.9")), 0);
    EXPECT_LT(compareConnCells(QStringLiteral("99999"), QStringLiteral("10.0.0.1")), 0);
    // Too long for a number, or not a whole one: text.
    EXPECT_GT(compareConnCells(QStringLiteral("1234567890123456789012"), QStringLiteral("5")), 0);
    EXPECT_GT(compareConnCells(QStringLiteral("0x"), QStringLiteral("5")), 0);
    EXPECT_GT(compareConnCells(QStringLiteral("-1"), QStringLiteral("5")), 0);
}
