// The pages of the real main window together, offscreen, against a private network
// namespace: their models keep Qt's model rules through refills, sorts and deletions, and what
// happens on one page reaches the others only through the signals the window wires.
#include "../gui/gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"
#include "platform/ifindex.h"
#include "routing/persistentroutes.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class Pages : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        nameConnectionsAfterInterfaces();
        sh("ip link set lo up");
        for (const char* name : {"pg0", "pg2"}) {
            sh(std::string("ip link add ") + name + " type veth peer name " + name + "p");
            sh(std::string("ip link set ") + name + " up && ip link set " + name + "p up");
        }
        sh("ip addr add 10.66.0.1/24 dev pg0 && ip addr add 10.68.0.1/24 dev pg2");
        sh("ip route add 10.67.0.0/16 via 10.66.0.2 metric 3");
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("10.66.0.1");
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener_, 4), 0);
    }
    void TearDown() override {
        if (listener_ >= 0)
            ::close(listener_);
        if (inPrivateNetns())
            shMayFail("ip link del pg0 2>/dev/null; ip link del pg2 2>/dev/null");
        MainWindowFixture::TearDown();
    }

    int interfaceRow(const char* name) const {
        const QString index = interfaceIndexText(if_nametoindex(name));
        for (int r = 0; r < window->tsInterface->rowCount(); ++r)
            if (window->tsInterface->cellText(r, ifcol::Index) == index)
                return r;
        return -1;
    }
    int selectedInterfaceRow() const {
        const QModelIndexList rows =
            window->tsInterface->lvIfTable->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
    int routeRow(const QString& destination) const {
        const RouteModel& m = *PageProbe::model(window->tsRoutes);
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.index(r, fwcol::Destination).data().toString() == destination)
                return r;
        return -1;
    }

    int listener_ = -1;
};

TEST_F(Pages, ModelsKeepTheRulesThroughRefillsSortsAndDeletions) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = make();
    setRuntime({}); // nothing filtered: loopback rows too
    const auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;
    QAbstractItemModelTester tree(PageProbe::model(w.tsIP), fatal);
    QAbstractItemModelTester interfaces(PageProbe::model(w.tsInterface), fatal);
    QAbstractItemModelTester routes(PageProbe::model(w.tsRoutes), fatal);
    QAbstractItemModelTester connections(PageProbe::model(w.tsConnections), fatal);

    w.RefreshNetworkStatus();
    w.RefreshNetworkStatus();
    EXPECT_GE(PageProbe::model(w.tsIP)->rowCount(), 2);
    EXPECT_GE(w.tsInterface->rowCount(), 3);
    ASSERT_GE(routeRow(QStringLiteral("10.67.0.0")), 0);
    ASSERT_GT(PageProbe::model(w.tsConnections)->rowCount(), 0);

    ConnectionModel& conns = *PageProbe::model(w.tsConnections);
    for (const int column : {conncol::LocalPort, conncol::Protocol, conncol::LocalPort})
        conns.columnClick(column);
    // The owner column arrives after the model exists.
    EXPECT_EQ(conns.columnCount(), w.xpFamily ? 8 : 7);

    RouteModel& model = *PageProbe::model(w.tsRoutes);
    const int before = model.rowCount();
    model.removeRows(routeRow(QStringLiteral("10.67.0.0")), 1);
    EXPECT_EQ(model.rowCount(), before - 1);
    // A persistent name without its route comes back as a row of its own.
    setOption(Option::ShowInactiveRoutes, true);
    ASSERT_TRUE(SetPersistent("10.99.0.0,255.255.0.0,10.66.0.2,1", true));
    w.RefreshNetworkStatus();
    EXPECT_GE(routeRow(QStringLiteral("10.99.0.0")), 0);
    PageProbe::model(w.tsIP)->clear();
}

TEST_F(Pages, OnePagesEventsReachTheOthersThroughTheWindow) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = make();
    setRuntime({});
    QSignalSpy passes(w.tsIP, &IpInfoPage::adapterPassFinished);
    w.RefreshNetworkStatus();
    ASSERT_EQ(passes.count(), 1);
    const int pg0 = interfaceRow("pg0");
    const int pg2 = interfaceRow("pg2");
    ASSERT_GE(pg0, 0);
    ASSERT_GE(pg2, 0);
    const QString pg0Description = w.tsInterface->cellText(pg0, ifcol::Description);
    const QString pg2Description = w.tsInterface->cellText(pg2, ifcol::Description);
    // The pass's findings land on the Host Info page and in status panel 1.
    EXPECT_TRUE(w.tsHost->addresses().contains(QStringLiteral("10.66.0.1")));
    EXPECT_TRUE(w.panelText(1).contains(QStringLiteral("10.68.0.1")));

    // A route selects its interface's row, and the row its adapter node.
    QSignalSpy routeInterface(w.tsRoutes, &RoutesPage::routeInterfaceSelected);
    QSignalSpy interfaceChosen(w.tsInterface, &InterfacesPage::interfaceSelected);
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.67.0.0")));
    ASSERT_EQ(routeInterface.count(), 1);
    EXPECT_EQ(routeInterface.at(0).at(0).toString(), interfaceIndexText(if_nametoindex("pg0")));
    EXPECT_EQ(selectedInterfaceRow(), pg0);
    ASSERT_GE(interfaceChosen.count(), 1);
    EXPECT_EQ(interfaceChosen.last().at(0).toString(), pg0Description);
    EXPECT_EQ(w.tsIP->tvInfo->currentIndex().data().toString(), pg0Description);

    // A click on an adapter node selects its interface's row.
    QSignalSpy adapterClicks(w.tsIP, &IpInfoPage::adapterClicked);
    const QList<QStandardItem*> nodes =
        PageProbe::model(w.tsIP)->findItems(pg2Description, Qt::MatchExactly);
    ASSERT_EQ(nodes.size(), 1);
    w.tsIP->tvInfo->setCurrentIndex(nodes.first()->index());
    w.tsIP->tvInfoClick();
    ASSERT_EQ(adapterClicks.count(), 1);
    EXPECT_EQ(selectedInterfaceRow(), pg2);

    // An adapter the pass finds with several addresses marks its interface's row.
    EXPECT_EQ(ifRowDataWord(*PageProbe::model(w.tsInterface), pg0), 1);
    sh("ip addr add 10.66.0.9/24 dev pg0");
    w.RefreshNetworkStatus();
    ASSERT_EQ(passes.count(), 2);
    const auto r = passes.last().at(0).value<AdapterPassResult>();
    const DWORD pg0Index = if_nametoindex("pg0");
    EXPECT_EQ(std::count(r.severalIndexes.begin(), r.severalIndexes.end(), pg0Index), 1);
    EXPECT_EQ(ifRowDataWord(*PageProbe::model(w.tsInterface), interfaceRow("pg0")), 0x81);
    EXPECT_EQ(ifRowDataWord(*PageProbe::model(w.tsInterface), interfaceRow("pg2")), 1);
}

} // namespace
