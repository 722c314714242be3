// The Routes page of the real main window against the kernel's routing table in a private
// network namespace: the rows, the persistent store, deletion and the re-apply mode.
#include "../gui/gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "netns.h"
#include "platform/ifindex.h"
#include "platform/resulttext.h"
#include "routing/frmroutelist.h"
#include "routing/persistentroutes.h"
#include "routing/restore.h"
#include "routing/routespage.h"
#include "session/machinestore.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <net/if.h>
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
        const RouteModel& m = *PageProbe::model(window->tsRoutes);
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.index(r, 0).data().toString() == dest &&
                (hop.isEmpty() || m.index(r, 2).data().toString() == hop) &&
                (metric.isEmpty() || m.index(r, 4).data().toString() == metric))
                return r;
        return -1;
    }
    QString text(int row, int column) const {
        return PageProbe::model(window->tsRoutes)->index(row, column).data().toString();
    }
    void select(std::initializer_list<int> rows) {
        window->tsRoutes->lvFwTable->clearSelection();
        for (int r : rows)
            window->tsRoutes->lvFwTable->selectionModel()->select(
                PageProbe::model(window->tsRoutes)->index(r, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    static RoutesPageNetns* self;
    // Answers the Delete Routes by List dialog: shown, the list given, filled, Ok pressed.
    void answerDeleteList(const std::vector<ListRoute>& list, const char* face,
                          const char* metric) {
        QString description;
        const QString index = interfaceIndexText(if_nametoindex(face));
        for (int r = 0; r < window->tsInterface->rowCount(); ++r)
            if (window->tsInterface->cellText(r, ifcol::Index) == index)
                description = window->tsInterface->cellText(r, ifcol::Description);
        beforeModalAnswer = [this, list, description, metric](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmDelRouteList&>(dialog);
            d.setResult(QDialog::Rejected);
            d.FormShow();
            d.FormActivate();
            d.routeList->setRoutes(list);
            d.btnOk->setEnabled(true);
            d.cbxInterfaces->setEditText(description);
            d.cbxMetric->setEditText(QString::fromLatin1(metric));
            d.btnOkClick();
            modalAnswer = d.result();
        };
    }
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
        PageProbe::model(w.tsRoutes)->index(near, 0).data(Qt::FontRole).value<QFont>().underline());
    EXPECT_FALSE(PageProbe::model(w.tsRoutes)->index(far, 0).data(Qt::FontRole).isValid());

    // Several protocols: kernel-made local routes, our own and the "static" one.
    QSet<QString> protocols;
    for (int r = 0; r < PageProbe::model(w.tsRoutes)->rowCount(); ++r)
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
    EXPECT_EQ(PageProbe::model(w.tsRoutes)
                  ->index(grey, 0)
                  .data(Qt::ForegroundRole)
                  .value<QBrush>()
                  .color(),
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

    // Two routes the row cannot tell apart (they differ in type of service): neither goes,
    // and their stored name, taken out before the kernel was asked, is back.
    const std::string twinName = "10.90.0.0,255.255.0.0,10.20.0.2,5";
    SetPersistent(twinName, true);
    refreshed();
    const int twin = rowOf("10.90.0.0");
    select({twin});
    prompts.answer(MsgAnswer::Yes);
    w.tsRoutes->acDeleteRouteExecute();
    EXPECT_EQ(prompts.messages.back().caption.toStdString(), "Error");
    EXPECT_EQ(prompts.messages.back().text.toStdString(),
              "Couldn't DeleteIpForwardEntry (10.90.0.0 255.255.0.0.) failed: " +
                  resultText(ERROR_ROUTE_AMBIGUOUS).toStdString());
    EXPECT_EQ(shOut("ip route show 10.90.0.0/16 | wc -l"), "2\n");
    EXPECT_TRUE(IsPersistent(twinName));
    EXPECT_EQ(text(twin, 0).toStdString(), "10.90.0.0");
    EXPECT_FALSE(w.tsRoutes->lvFwTable->selectionModel()->isRowSelected(twin, {}));
}

namespace {
// The kernel's deletion, watched: which of the watched names the store holds at each call.
Entry<decltype(&::DeleteIpForwardEntry)> boundDeleteForward;
std::vector<std::string> watchedNames;
std::vector<std::vector<std::string>> storedAtDeletion;
DWORD deleteForwardWatched(MIB_IPFORWARDROW* row) {
    std::vector<std::string>& stored = storedAtDeletion.emplace_back();
    for (const std::string& name : watchedNames)
        if (IsPersistent(name))
            stored.push_back(name);
    return boundDeleteForward(row);
}
} // namespace

// A route keeper puts back any stored route it finds missing: every name leaves the store
// before the first route leaves the kernel, and only refused routes that were stored get
// theirs back, at the end.
TEST_F(RoutesPageNetns, StoredNamesLeaveBeforeAnyRouteIsDeleted) {
    CORVANE_REQUIRE_NETNS();
    // Two twins the row cannot tell apart are refused; one stored, one not.
    sh("ip route add 10.45.0.0/16 via 10.20.0.2 metric 5 && "
       "ip route add 10.45.0.0/16 via 10.20.0.2 metric 5 tos 0x10 && "
       "ip route add 10.46.0.0/16 via 10.20.0.2 && ip route add 10.47.0.0/16 via 10.20.0.2 && "
       "ip route add 10.48.0.0/16 via 10.20.0.2 metric 6 && "
       "ip route add 10.48.0.0/16 via 10.20.0.2 metric 6 tos 0x10");
    const std::string twin = "10.45.0.0,255.255.0.0,10.20.0.2,5";
    const std::string second = "10.46.0.0,255.255.0.0,10.20.0.2,0";
    const std::string third = "10.47.0.0,255.255.0.0,10.20.0.2,0";
    const std::string unstoredTwin = "10.48.0.0,255.255.0.0,10.20.0.2,6";
    for (const std::string& name : {twin, second, third})
        ASSERT_TRUE(SetPersistent(name, true));
    setOption(Option::AutoUpdate, true);
    TfrmMain& w = refreshed();
    select({rowOf("10.45.0.0"), rowOf("10.46.0.0"), rowOf("10.47.0.0"), rowOf("10.48.0.0")});

    watchedNames = {twin, second, third, unstoredTwin};
    storedAtDeletion.clear();
    boundDeleteForward = iphlp().DeleteIpForwardEntry;
    iphlp().DeleteIpForwardEntry.set(&deleteForwardWatched);
    std::vector<std::string> kernelWhileSaid;
    prompts.answer(MsgAnswer::Yes);
    prompts.whileOpen = [&](const MessageRequest& box) {
        if (box.caption == "Error" && kernelWhileSaid.empty())
            kernelWhileSaid = {shOut("ip route show 10.46.0.0/16"),
                               shOut("ip route show 10.47.0.0/16")};
    };
    w.tsRoutes->acDeleteRouteExecute();
    prompts.whileOpen = nullptr;
    iphlp().DeleteIpForwardEntry = boundDeleteForward;

    ASSERT_EQ(storedAtDeletion.size(), 4U);
    for (const std::vector<std::string>& stored : storedAtDeletion)
        EXPECT_TRUE(stored.empty()) << stored.front();
    // At the first refusal the later routes were still in the kernel, no longer stored: what
    // a crash there would leave.
    ASSERT_EQ(kernelWhileSaid.size(), 2U);
    EXPECT_NE(kernelWhileSaid[0], "");
    EXPECT_NE(kernelWhileSaid[1], "");
    EXPECT_EQ(shOut("ip route show 10.46.0.0/16") + shOut("ip route show 10.47.0.0/16"), "");
    EXPECT_EQ(shOut("ip route show 10.45.0.0/16 | wc -l"), "2\n");
    EXPECT_TRUE(IsPersistent(twin));
    EXPECT_FALSE(IsPersistent(second));
    EXPECT_FALSE(IsPersistent(third));
    EXPECT_FALSE(IsPersistent(unstoredTwin)) << "a refused route gains no name";
    EXPECT_EQ(ReadPersistentRouteNames().size(), 1U);
    // A refresh shows the refused routes as they are: the stored one still marked.
    refreshed();
    EXPECT_EQ(rowOf("10.46.0.0"), -1);
    EXPECT_EQ(text(rowOf("10.45.0.0"), fwcol::Persistent), "yes");
    EXPECT_EQ(text(rowOf("10.48.0.0"), fwcol::Persistent), "");
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
    for (int r = 0; r < PageProbe::model(w.tsRoutes)->rowCount(); ++r)
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

// The metric column shows 4294967295 as "-1", and "-1" typed in the dialog is what names it.
TEST_F(RoutesPageNetns, DeleteByListNamesTheHighestMetricAsMinusOne) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.80.0.0/16 via 10.20.0.2 metric 4294967295 && "
       "ip route add 10.81.0.0/16 via 10.20.0.2 metric 1");
    TfrmMain& w = refreshed();
    ASSERT_GE(rowOf("10.80.0.0"), 0);
    EXPECT_EQ(text(rowOf("10.80.0.0"), 4), "-1");
    const std::vector<ListRoute> list{{"10.80.0.0", "255.255.0.0", 1},
                                      {"10.81.0.0", "255.255.0.0", 2}};
    answerDeleteList(list, "ra", "-1");
    prompts.answer(MsgAnswer::Yes);
    w.acDelList->setEnabled(true);
    w.acDelList->trigger();
    ASSERT_FALSE(prompts.messages.empty());
    EXPECT_EQ(prompts.messages.back().text,
              "Delete routing entry for 10.80.0.0 mask 255.255.0.0 via 10.20.0.2?");
    EXPECT_EQ(shOut("ip route show 10.80.0.0/16"), "");
    EXPECT_NE(shOut("ip route show 10.81.0.0/16"), "") << "metric 1 is not -1";
}

// Thousands of routes by list on a table of thousands: quick, the window painting all through,
// the list left alone by refreshes until the deletion is done, and a long run of refusals
// told in a few boxes.
TEST_F(RoutesPageNetns, DeleteByListOfThousandsKeepsTheWindowAlive) {
    CORVANE_REQUIRE_NETNS();
    constexpr int routes = 3000;
    std::string batch;
    std::vector<ListRoute> list;
    for (int i = 0; i < routes; ++i) {
        const QString net = QStringLiteral("10.200.%1.%2").arg(i / 64).arg(4 * (i % 64));
        list.push_back({net, QStringLiteral("255.255.255.252"), i + 1});
        batch += "route add " + net.toStdString() + "/30 via 10.20.0.2 metric 1\n";
        // As many routes again that the list does not name.
        batch += "route add 10.201." + std::to_string(i / 64) + "." + std::to_string(4 * (i % 64)) +
                 "/30 via 10.20.0.2 metric 1\n";
    }
    const QString batchFile = dir.filePath(QStringLiteral("routes.batch"));
    {
        QFile f(batchFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(batch.c_str());
    }
    sh("ip -batch " + batchFile.toStdString());
    const std::string stored = "10.200.0.40,255.255.255.252,10.20.0.2,1";
    SetPersistent(stored, true);
    setOption(Option::AutoUpdate, true);
    TfrmMain& w = refreshed();
    const int listed = PageProbe::model(w.tsRoutes)->rowCount();
    ASSERT_GE(listed, 2 * routes);

    // Eight of them vanish behind the list's back once the question is answered.
    prompts.answer(MsgAnswer::Yes);
    prompts.whileOpen = [&](const MessageRequest& box) {
        if (box.caption == "Delete")
            sh("for i in 1 2 3 4 5 6 7 8; do ip route del 10.200.0.$((4 * i))/30; done");
    };
    // While the deletion runs, a 10 ms timer asks for refreshes and watches how often it gets
    // its turn.
    QElapsedTimer clock;
    double last = -1, longest = 0;
    int ticks = 0, resets = 0;
    bool deleting = false;
    QObject::connect(PageProbe::model(w.tsRoutes), &QAbstractItemModel::modelReset,
                     [&] { resets += deleting && w.refresh->changing() ? 1 : 0; });
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!deleting || !w.refresh->changing())
            return;
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
        ++ticks;
        w.RefreshNetworkStatus();
    });
    answerDeleteList(list, "ra", "1");
    beforeModalAnswer = [inner = beforeModalAnswer, &clock, &last, &deleting](QDialog& d) {
        inner(d);
        deleting = true;
        clock.start();
        last = 0;
    };
    ticker.start();
    w.acDelList->setEnabled(true);
    w.acDelList->trigger();
    const double took = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    deleting = false;
    ticker.stop();
    prompts.whileOpen = nullptr;

    EXPECT_LT(took, 20000) << "ms for " << routes << " routes";
    EXPECT_GT(ticks, 10);
    EXPECT_LT(longest, 2000) << "ms without an event handled";
    // Its own fill after Ok, the rows taken out before each of the five boxes and at the end;
    // no refresh.
    EXPECT_LE(resets, 7);
    EXPECT_EQ(shOut("ip -4 route show root 10.200.0.0/16 | wc -l"), "0\n");
    EXPECT_EQ(shOut("ip -4 route show root 10.201.0.0/16 | wc -l"), std::to_string(routes) + "\n");
    EXPECT_FALSE(IsPersistent(stored));
    // The question, five refusals of their own, and one box for the other three.
    ASSERT_EQ(prompts.messages.size(), 7U);
    EXPECT_EQ(prompts.messages[0].text,
              QStringLiteral("Delete %1 selected routing entries?").arg(routes));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(prompts.messages[i].text.startsWith(
            QStringLiteral("Couldn't DeleteIpForwardEntry (10.200.0.%1 255.255.255.252.) failed: ")
                .arg(4 * i)))
            << prompts.messages[i].text.toStdString();
    EXPECT_EQ(prompts.messages[6].text,
              "3 more routes could not be deleted; they stay in the list.");
    EXPECT_EQ(prompts.messages[6].caption, "Error");
    // The held-back refresh has run since: the refused ones are gone from the list too.
    EXPECT_EQ(rowOf("10.200.0.8"), -1);
    EXPECT_EQ(rowOf("10.200.0.36"), -1);
    EXPECT_GE(rowOf("10.201.0.0"), 0);
}

// A link taken down and up again between two change checks: the kernel dropped the routes
// through it without a word, and the next check must see it, although the link is up again.
TEST_F(RoutesPageNetns, ALinkBouncedBetweenTwoChecksEmptiesItsRoutes) {
    CORVANE_REQUIRE_NETNS();
    const std::string stored = "10.30.0.0,255.255.0.0,10.20.0.2,0";
    SetPersistent(stored, true);
    TfrmMain& w = refreshed();
    ASSERT_GE(rowOf("10.30.0.0"), 0);
    EXPECT_EQ(text(rowOf("10.30.0.0"), 5), "yes");
    while (w.refresh->IpCountsChanged()) {
    }
    sh("ip link set ra down && ip link set ra up");
    EXPECT_TRUE(w.refresh->IpCountsChanged());
    w.RefreshNetworkStatus();
    EXPECT_EQ(shOut("ip route show 10.30.0.0/16"), "");
    // Only the stored name is left, as a grey row of its own.
    std::vector<QString> indexes;
    for (int r = 0; r < PageProbe::model(w.tsRoutes)->rowCount(); ++r)
        if (text(r, 0) == "10.30.0.0")
            indexes.push_back(text(r, 3));
    EXPECT_EQ(indexes, std::vector<QString>{"n.a."});

    // A route gone and another come between two checks leave the count as it was; the check
    // sees them all the same, whether the kernel told of the removal or not.
    sh("ip route add 10.31.0.0/16 via 10.20.0.2 && ip route add 10.32.0.0/16 via 10.20.0.2");
    while (w.refresh->IpCountsChanged()) {
    }
    sh("ip route del 10.31.0.0/16 && ip route add 10.35.0.0/16 via 10.20.0.2");
    EXPECT_TRUE(w.refresh->IpCountsChanged());
    EXPECT_FALSE(w.refresh->IpCountsChanged());
    sh("ip link set ra down && ip link set ra up && ip route add 10.36.0.0/16 via 10.20.0.2 && "
       "ip route add 10.37.0.0/16 via 10.20.0.2");
    EXPECT_TRUE(w.refresh->IpCountsChanged());
    w.RefreshNetworkStatus();
    EXPECT_EQ(rowOf("10.32.0.0"), -1);
    EXPECT_EQ(rowOf("10.35.0.0"), -1);
    EXPECT_GE(rowOf("10.37.0.0"), 0);
}

} // namespace
