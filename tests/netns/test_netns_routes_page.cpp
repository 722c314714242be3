// The Routes page of the real main window against the kernel's routing table in a private
// network namespace: the rows, the persistent store, deletion and the re-apply mode.
#include "../gui/gui_fixture.h"
#include "netns.h"
#include "platform/resulttext.h"
#include "routing/persistentroutes.h"
#include "routing/restore.h"
#include "routing/routespage.h"
#include "shell/machinestore.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFont>
#include <QItemSelectionModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <sstream>

using namespace corvane;
using namespace corvane::test;

namespace {

class RoutesPageNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        sh("ip link set lo up; ip link add ra type veth peer name ra-p && ip link set ra-p up && "
           "ip link set ra up && ip addr add 10.20.0.1/24 dev ra && "
           "ip addr add 192.168.77.1/24 dev ra");
        sh("ip route add 10.30.0.0/16 via 10.20.0.2 && "
           "ip route add 10.31.0.0/16 via 10.20.0.2 proto static && "
           "ip route add 10.32.0.0/16 via 10.20.0.2 && "
           "ip route add default via 10.20.0.2 metric 20 && "
           "ip route add default via 10.20.0.3 metric 10");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del ra 2>/dev/null");
        MainWindowFixture::TearDown();
    }
    TfrmMain& refreshed(RuntimeOptions options = {}) {
        TfrmMain& w = window ? *window : make();
        setOption(Option::ColoredTables, true);
        setOption(Option::ShowInactiveRoutes, true);
        setRuntime(options);
        w.RefreshNetworkStatus();
        return w;
    }
    int rowOf(const QString& dest, const QString& hop = {}, const QString& metric = {}) const {
        const RouteModel& m = *window->tsRoutes->lvFwTableModel;
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.index(r, 0).data().toString() == dest &&
                (hop.isEmpty() || m.index(r, 2).data().toString() == hop) &&
                (metric.isEmpty() || m.index(r, 4).data().toString() == metric))
                return r;
        return -1;
    }
    QString text(int row, int column) const {
        return window->tsRoutes->lvFwTableModel->index(row, column).data().toString();
    }
    void select(std::initializer_list<int> rows) {
        window->tsRoutes->lvFwTable->clearSelection();
        for (int r : rows)
            window->tsRoutes->lvFwTable->selectionModel()->select(
                window->tsRoutes->lvFwTableModel->index(r, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    static RoutesPageNetns* self;
    static int deleteInChild() {
        self->prompts.answer(MsgAnswer::Yes);
        self->window->tsRoutes->acDeleteRouteExecute();
        return self->prompts.messages.back().caption == "Error" ? 0 : 1;
    }
};
RoutesPageNetns* RoutesPageNetns::self = nullptr;

TEST_F(RoutesPageNetns, RowsDefaultRoutesFiltersAndPersistentStore) {
    CORVANE_REQUIRE_NETNS();
    SetPersistent("10.30.0.0,255.255.0.0,10.20.0.2,0", true);
    SetPersistent("10.99.0.0,255.255.0.0,10.20.0.2,1", true);
    TfrmMain& w = refreshed();
    EXPECT_EQ(w.pcMain->tabText(w.pcMain->indexOf(w.tsRoutes)), "Routes");
    const int near = rowOf("0.0.0.0", "10.20.0.3");
    const int far = rowOf("0.0.0.0", "10.20.0.2");
    ASSERT_GE(near, 0);
    ASSERT_GE(far, 0);
    EXPECT_EQ(text(near, 4), "10");
    EXPECT_EQ(text(far, 4), "20");
    EXPECT_TRUE(
        w.tsRoutes->lvFwTableModel->index(near, 0).data(Qt::FontRole).value<QFont>().underline());
    EXPECT_FALSE(w.tsRoutes->lvFwTableModel->index(far, 0).data(Qt::FontRole).isValid());

    // Several protocols: kernel-made local routes, our own and the "static" one.
    QSet<QString> protocols;
    for (int r = 0; r < w.tsRoutes->lvFwTableModel->rowCount(); ++r)
        protocols.insert(text(r, 6));
    EXPECT_GE(protocols.size(), 3) << protocols.values().join(",").toStdString();

    const int stored = rowOf("10.30.0.0");
    ASSERT_GE(stored, 0);
    const QString metric = text(stored, 4);
    EXPECT_EQ(text(stored, 5), metric == "0" ? "yes" : "");
    const int grey = rowOf("10.99.0.0");
    ASSERT_GE(grey, 0);
    EXPECT_EQ(text(grey, 3), "n.a.");
    EXPECT_EQ(text(grey, 6), "n.a.");
    EXPECT_EQ(text(grey, 5), "yes");
    EXPECT_EQ(
        w.tsRoutes->lvFwTableModel->index(grey, 0).data(Qt::ForegroundRole).value<QBrush>().color(),
        QColor(192, 192, 192));
    select({grey});
    EXPECT_TRUE(w.acDeleteRoute->isEnabled());
    EXPECT_FALSE(w.acModifyRoute->isEnabled());

    // Broadcast and loopback routes go with the filters, and the caption says so.
    EXPECT_GE(rowOf("192.168.77.255"), 0);
    refreshed({.optIgnoreLocalhost = true, .optIgnoreBroadcasts = true});
    EXPECT_EQ(rowOf("192.168.77.255"), -1);
    EXPECT_GE(rowOf("10.20.0.255"), 0); // its classful network is 10.0.0.0/8
    EXPECT_EQ(rowOf("127.0.0.0"), -1);
    EXPECT_EQ(w.pcMain->tabText(w.pcMain->indexOf(w.tsRoutes)), "Routes (filtered)");
}

TEST_F(RoutesPageNetns, DeletionOneSeveralRefusedAndRestore) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const QString name = QString("10.30.0.0,255.255.0.0,10.20.0.2,") + text(rowOf("10.30.0.0"), 4);
    SetPersistent(name.toStdString(), true);
    refreshed();

    // One row: its question, then the route and its stored value are gone.
    select({rowOf("10.30.0.0")});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(prompts.messages.back().text,
              "Delete routing entry for 10.30.0.0 mask 255.255.0.0 via 10.20.0.2?");
    EXPECT_EQ(rowOf("10.30.0.0"), -1);
    EXPECT_FALSE(IsPersistent(name.toStdString()));
    EXPECT_EQ(shOut("ip route show 10.30.0.0/16"), "");

    // A refused deletion (no privileges) is reported and changes nothing.
    select({rowOf("10.31.0.0")});
    self = this;
    EXPECT_EQ(runUnprivileged(&RoutesPageNetns::deleteInChild), 0);
    EXPECT_NE(shOut("ip route show 10.31.0.0/16"), "");

    // Several rows at once.
    select({rowOf("10.31.0.0"), rowOf("10.32.0.0")});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(prompts.messages.back().text, "Delete 2 selected routing entries?");
    EXPECT_EQ(shOut("ip route show 10.31.0.0/16") + shOut("ip route show 10.32.0.0/16"), "");

    // The re-apply mode brings the stored route back, and a second run changes nothing.
    SetPersistent(name.toStdString(), true);
    std::ostringstream first;
    EXPECT_EQ(restorePersistentRoutes(first), 0) << first.str();
    EXPECT_EQ(first.str(), "applied " + name.toStdString() + "\n");
    EXPECT_NE(shOut("ip route show 10.30.0.0/16"), "");
    std::ostringstream second;
    EXPECT_EQ(restorePersistentRoutes(second), 0) << second.str();
    EXPECT_EQ(shOut("ip route show 10.30.0.0/16 | wc -l"), "1\n");
    SetPersistent("10.40.0.0,255.255.0.0,10.99.9.9,1", true);
    std::ostringstream failing;
    EXPECT_EQ(restorePersistentRoutes(failing), 1);
    EXPECT_NE(failing.str().find("failed 10.40.0.0,255.255.0.0,10.99.9.9,1: "), std::string::npos);
}

// Grey rows of names that are no routes go with the name they are stored under.
TEST_F(RoutesPageNetns, MalformedStoredNamesAreDeletedByTheirOwnName) {
    CORVANE_REQUIRE_NETNS();
    const std::vector<std::string> odd = {"10.98.0.0,255.255.0.0,10.20.0.2",
                                          "10.97.0.0,255.255.0.0,10.20.0.2,1,9", "Odd,Name"};
    // Stored by hand (or by another tool): the program itself stores no such name.
    for (const std::string& name : odd)
        machineStore().open(persistentRoutesKey, true)->writeString(name, "");
    TfrmMain& w = refreshed();
    select({rowOf("10.98.0.0"), rowOf("10.97.0.0"), rowOf("Odd")});
    ASSERT_EQ(w.tsRoutes->lvFwTable->selectionModel()->selectedRows().size(), 3);
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    for (const std::string& name : odd)
        EXPECT_FALSE(IsPersistent(name)) << name;
    EXPECT_TRUE(ReadPersistentRouteNames().empty());
    refreshed();
    EXPECT_EQ(rowOf("10.98.0.0") + rowOf("10.97.0.0") + rowOf("Odd"), -3);
}

// A store damaged while the program runs is told by the refresh that reads it, once, and the
// routes it still holds are shown.
TEST_F(RoutesPageNetns, AStoreDamagedMeanwhileIsToldOnce) {
    CORVANE_REQUIRE_NETNS();
    make();
    showAndSettle(); // until then, the store's notices wait for the window
    const size_t before = prompts.messages.size();
    QFile file(dir.filePath(QStringLiteral("store/machine.reg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\PersistentRoutes]\n"
               "\"10.96.0.0,255.255.0.0,10.20.0.2,1\" = str:\"\"\n\"10.95.0.0\" = int:\n");
    file.close();
    refreshed();
    refreshed();
    ASSERT_EQ(prompts.messages.size(), before + 1);
    EXPECT_EQ(prompts.messages.back().icon, MsgIcon::Warning);
    EXPECT_TRUE(prompts.messages.back().text.contains(QStringLiteral("(line 3: ")))
        << prompts.messages.back().text.toStdString();
    EXPECT_GE(rowOf("10.96.0.0"), 0);
}

// The selected routes are deleted, whatever happens to the table while a box stands open.
TEST_F(RoutesPageNetns, ErrorBoxOpenWhileTheAutomaticUpdateRuns) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.0.0.0/8 via 10.20.0.2 && ip route add 10.66.0.0/16 via 10.20.0.2 && "
       "ip route add 172.16.0.0/16 via 10.20.0.2 && ip route add 172.16.1.255/32 via 10.20.0.2");
    const std::string neighbour = "172.16.1.255,255.255.255.255,10.20.0.2,0";
    SetPersistent(neighbour, true);
    SetPersistent("172.16.0.0,255.255.0.0,10.20.0.2,0", true);
    setOption(Option::AutoUpdate, true);
    TfrmMain& w = refreshed();
    ASSERT_TRUE(w.tmrAutoUpdate->isActive());

    select({rowOf("10.0.0.0"), rowOf("10.66.0.0"), rowOf("172.16.0.0")});
    prompts.answer(MsgAnswer::Yes);
    bool errorShown = false;
    prompts.whileOpen = [&](const MessageRequest& box) {
        if (box.caption == "Delete") {
            sh("ip route del 10.66.0.0/16"); // someone else was quicker: refused below
            return;
        }
        errorShown = true;
        sh("ip route add 172.20.0.0/16 via 10.20.0.2");
        QTest::qWait(2500); // automatic updates fire meanwhile
        // The list stands as the deletion left it so far.
        EXPECT_EQ(rowOf("10.0.0.0"), -1);
        EXPECT_GE(rowOf("10.66.0.0"), 0);
        EXPECT_EQ(rowOf("172.20.0.0"), -1);
    };
    w.tsRoutes->acDeleteRouteExecute();
    prompts.whileOpen = nullptr;

    ASSERT_TRUE(errorShown);
    ASSERT_EQ(prompts.messages.size(), 2U);
    EXPECT_TRUE(prompts.messages.back().text.startsWith(
        "Couldn't DeleteIpForwardEntry (10.66.0.0 255.255.0.0.) failed: "));
    EXPECT_EQ(shOut("ip route show 10.0.0.0/8") + shOut("ip route show 172.16.0.0/16"), "");
    EXPECT_NE(shOut("ip route show 172.16.1.255"), "");
    EXPECT_TRUE(IsPersistent(neighbour));
    EXPECT_FALSE(IsPersistent("172.16.0.0,255.255.0.0,10.20.0.2,0"));
    // The update held back while the box stood open has run since.
    EXPECT_GE(rowOf("172.20.0.0"), 0);
    EXPECT_EQ(rowOf("10.66.0.0"), -1);
}

TEST_F(RoutesPageNetns, ConfirmationOpenWhileOthersChangeTheTable) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.0.0.0/8 via 10.20.0.2 && ip route add 10.66.0.0/16 via 10.20.0.2 && "
       "ip route add 172.16.0.0/16 via 10.20.0.2 && ip route add 172.16.1.255/32 via 10.20.0.2 && "
       "ip route add 172.20.0.0/16 via 10.20.0.2");
    setOption(Option::AutoUpdate, false); // so the deletion asks for its own refresh
    TfrmMain& w = refreshed();
    const int* refreshCount = countRefreshes();
    const auto routeCount = [] { return shOut("ip -4 route show table all | wc -l"); };
    const std::string before = routeCount();

    // A route that sorts first appears, and a refresh is asked for.
    select({rowOf("172.16.0.0")});
    prompts.answer(MsgAnswer::Yes);
    prompts.whileOpen = [&](const MessageRequest&) {
        sh("ip route add 10.1.0.0/16 via 10.20.0.2");
        w.RefreshNetworkStatus();
        EXPECT_EQ(rowOf("10.1.0.0"), -1);
    };
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(shOut("ip route show 172.16.0.0/16"), "");
    EXPECT_EQ(routeCount(), before); // one added by the other, one deleted
    EXPECT_EQ(*refreshCount, 1);
    EXPECT_GE(rowOf("10.1.0.0"), 0);

    // The table shrinks below the selected rows' old positions.
    select({rowOf("172.16.1.255"), rowOf("172.20.0.0")});
    prompts.answer(MsgAnswer::Yes);
    prompts.whileOpen = [&](const MessageRequest&) {
        sh("ip route del 10.0.0.0/8 && ip route del 10.1.0.0/16 && ip route del 10.66.0.0/16 && "
           "ip route del 10.30.0.0/16 && ip addr del 192.168.77.1/24 dev ra");
        w.RefreshNetworkStatus();
    };
    w.tsRoutes->acDeleteRouteExecute();
    prompts.whileOpen = nullptr;
    EXPECT_EQ(prompts.messages.size(), 2U); // the two questions, no error
    EXPECT_EQ(shOut("ip route show 172.16.1.255") + shOut("ip route show 172.20.0.0/16"), "");
    EXPECT_NE(shOut("ip route show 10.31.0.0/16"), "");
    EXPECT_EQ(*refreshCount, 2);
}

// Routes that differ only in metric are different routes.
TEST_F(RoutesPageNetns, DeletionTellsRoutesApartByMetricOrRefuses) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add default via 10.20.0.4 metric 50 && "
       "ip route add default via 10.20.0.4 metric 100 && "
       "ip route add 10.90.0.0/16 via 10.20.0.2 metric 5 && "
       "ip route add 10.90.0.0/16 via 10.20.0.2 metric 5 tos 0x10");
    const std::string near = "0.0.0.0,0.0.0.0,10.20.0.4,50";
    const std::string far = "0.0.0.0,0.0.0.0,10.20.0.4,100";
    SetPersistent(near, true);
    SetPersistent(far, true);
    TfrmMain& w = refreshed();

    select({rowOf("0.0.0.0", "10.20.0.4", "100")});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    const std::string defaults = shOut("ip route show default");
    EXPECT_NE(defaults.find("via 10.20.0.4 dev ra metric 50 "), std::string::npos) << defaults;
    EXPECT_EQ(defaults.find("metric 100"), std::string::npos) << defaults;
    EXPECT_TRUE(IsPersistent(near));
    EXPECT_FALSE(IsPersistent(far));
    EXPECT_EQ(prompts.messages.back().caption.toStdString(), "Delete");

    // Two routes the row cannot tell apart (they differ in type of service): neither goes.
    const int twin = rowOf("10.90.0.0");
    select({twin});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(prompts.messages.back().caption.toStdString(), "Error");
    EXPECT_EQ(prompts.messages.back().text.toStdString(),
              "Couldn't DeleteIpForwardEntry (10.90.0.0 255.255.0.0.) failed: " +
                  resultText(ERROR_ROUTE_AMBIGUOUS).toStdString());
    EXPECT_EQ(shOut("ip route show 10.90.0.0/16 | wc -l"), "2\n");
    EXPECT_EQ(text(twin, 0).toStdString(), "10.90.0.0");
    EXPECT_FALSE(w.tsRoutes->lvFwTable->selectionModel()->isRowSelected(twin, {}));
}

// An IPv4 route through an IPv6 gateway: the table cannot name its next hop. Shown with
// 0.0.0.0, never as an on-link route, and never stored or restored as one.
TEST_F(RoutesPageNetns, IpRouteThroughAnIpv6Gateway) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.60.0.0/16 via inet6 fe80::1 dev ra metric 9");
    const std::string kernelRoute = shOut("ip route show 10.60.0.0/16");
    // Stored by hand: the program itself never stores such a name.
    const std::string name = "10.60.0.0,255.255.0.0,0.0.0.0,9";
    EXPECT_FALSE(SetPersistent(name, true));
    machineStore().open(persistentRoutesKey, true)->writeString(name, "");
    TfrmMain& w = refreshed();
    int live = -1, grey = -1;
    for (int r = 0; r < w.tsRoutes->lvFwTableModel->rowCount(); ++r)
        if (text(r, 0) == "10.60.0.0")
            (text(r, 3) == "n.a." ? grey : live) = r;
    ASSERT_GE(live, 0);
    EXPECT_EQ(text(live, 2), "0.0.0.0");
    EXPECT_EQ(text(live, 5), "");
    EXPECT_GE(grey, 0); // the stored name stays a row of its own

    std::ostringstream out;
    EXPECT_EQ(restorePersistentRoutes(out), 1);
    EXPECT_NE(out.str().find("failed " + name + ": the next hop 0.0.0.0"), std::string::npos)
        << out.str();
    EXPECT_EQ(shOut("ip route show 10.60.0.0/16"), kernelRoute);

    // Deleting the row deletes that route, and leaves the stored name alone.
    select({live});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(shOut("ip route show 10.60.0.0/16"), "");
    EXPECT_TRUE(IsPersistent(name));
}

} // namespace
