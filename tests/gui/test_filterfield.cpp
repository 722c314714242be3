// The filter fields of the Routes and Netstat pages in the real window: Ctrl+F puts the
// cursor in them, typing narrows the list, Escape shows every row again, and the page's tab
// says "(filtered)" meanwhile. The report keeps every row.
#include "gui_fixture.h"

#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace corvane;
using namespace corvane::test;

namespace {

RouteRow route(std::uint32_t destination, DWORD index) {
    RouteRow r;
    r.destination = destination;
    r.mask = 0xffffff00;
    r.nextHop = 0xac100002;
    r.ifIndex = index;
    r.metric = 1;
    r.protocol = 3;
    r.type = 4;
    return r;
}

ConnRow conn(QStringList texts) {
    ConnRow r;
    r.texts = std::move(texts);
    r.dataWord = 1;
    return r;
}

class FilterField : public MainWindowFixture {
protected:
    TfrmMain& shown() {
        TfrmMain& w = make();
        showAndSettle();
        EXPECT_TRUE(
            QTest::qWaitFor([&w] { return !w.firstShowPending() && !w.refresh->busy(); }, 60000));
        RuntimeOptions run = currentOptions().run;
        run.optIgnoreLocalhost = run.optIgnoreBroadcasts = false;
        setRuntime(run);
        w.tmrAutoUpdate->stop(); // only the rows put in below
        w.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }
    QString caption(QWidget* page) const {
        return window->pcMain->tabText(window->pcMain->indexOf(page));
    }
};

} // namespace

TEST_F(FilterField, RoutesCtrlFTypingEscapeAndTheCaption) {
    TfrmMain& w = shown();
    RoutesPage* page = w.tsRoutes;
    w.pcMain->setCurrentWidget(page);
    std::vector<RouteRow> rows;
    for (std::uint32_t i = 0; i < 40; ++i)
        rows.push_back(route(0x14000000 | i << 8, 2 + i % 3)); // 20.0.i.0
    PageProbe::model(page)->reset(rows, -1);
    QAbstractItemModel* shownRows = page->lvFwTable->model();
    ASSERT_EQ(shownRows->rowCount(), 40);

    page->lvFwTable->setFocus();
    QTest::keyClick(page->lvFwTable, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(page->edtFilter->hasFocus());
    QTest::keyClicks(page->edtFilter, QStringLiteral("20.0.1"));
    EXPECT_EQ(shownRows->rowCount(), 11); // 20.0.1.0 and 20.0.10.0 to 20.0.19.0
    EXPECT_EQ(caption(page), "Routes (filtered)");
    EXPECT_EQ(page->routeCount(), 40); // the report lists every route
    QTest::keyClicks(page->edtFilter, QStringLiteral("7."));
    ASSERT_EQ(shownRows->rowCount(), 1);
    EXPECT_EQ(shownRows->index(0, fwcol::Destination).data().toString(), "20.0.17.0");
    // Case does not matter: the index column's hexadecimal in capitals matches.
    page->edtFilter->setText(QStringLiteral("0X4"));
    EXPECT_EQ(shownRows->rowCount(), 13);

    // Escape from the list as well as from the field.
    page->lvFwTable->setFocus();
    QTest::keyClick(page->lvFwTable, Qt::Key_Escape);
    EXPECT_TRUE(page->edtFilter->text().isEmpty());
    EXPECT_EQ(shownRows->rowCount(), 40);
    EXPECT_EQ(caption(page), "Routes");
    QTest::keyClick(page->lvFwTable, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(page->edtFilter, QStringLiteral("nothing"));
    EXPECT_EQ(shownRows->rowCount(), 0);
    QTest::keyClick(page->edtFilter, Qt::Key_Escape);
    EXPECT_EQ(shownRows->rowCount(), 40);

    // The option filters still name the caption, the field empty or not.
    RuntimeOptions run = currentOptions().run;
    run.optIgnoreBroadcasts = true;
    setRuntime(run);
    page->edtFilter->setText(QStringLiteral("20"));
    page->edtFilter->clear();
    EXPECT_EQ(caption(page), "Routes (filtered)");
}

TEST_F(FilterField, NetstatCtrlFTypingEscapeAndTheCaption) {
    TfrmMain& w = shown();
    NetstatPage* page = w.tsConnections;
    w.pcMain->setCurrentWidget(page);
    PageProbe::model(page)->setRows(
        {conn({"TCP", "10.0.0.2", "8080", "10.0.0.9", "52336", "ESTABLISHED", "0x2"}),
         conn({"TCP", "127.0.0.1", "631", "0.0.0.0", "0", "LISTENING", "0x1"}),
         conn({"TCPv6", "::", "49702", "::", "0", "LISTENING", "0x1"})});
    QAbstractItemModel* shownRows = page->lvConnections->model();
    page->lvConnections->setFocus();
    QTest::keyClick(page->lvConnections, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(page->edtFilter->hasFocus());
    QTest::keyClicks(page->edtFilter, QStringLiteral("listen"));
    EXPECT_EQ(shownRows->rowCount(), 2);
    EXPECT_EQ(caption(page), "Netstat (filtered)");
    EXPECT_EQ(page->connectionCount(), 3);
    QTest::keyClick(page->edtFilter, Qt::Key_Escape);
    EXPECT_EQ(shownRows->rowCount(), 3);
    EXPECT_EQ(caption(page), "Netstat");
}
