// The Routes page and the report with IPv6 routes, every routing table and the policy rules,
// against the kernel in a private network namespace.
#include "../gui/gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"
#include "platform/ifindex.h"
#include "report/report_layout.h"
#include "routing/frmmodifyroutes.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "routing/routespage.h"
#include "session/options.h"
#include "shell/frmmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <net/if.h>
#include <tuple>

using namespace corvane;
using namespace corvane::test;

namespace {

class RoutesDualNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        // Table 100 has a name, table 1000 has none.
        const QString names = dir.filePath(QStringLiteral("iproute2"));
        sh("mkdir -p '" + names.toStdString() + "' && printf '100\\tvpn\\n' > '" +
           names.toStdString() + "/rt_tables' && chmod 644 '" + names.toStdString() +
           "/rt_tables'");
        qputenv("CORVANE_RT_TABLES_DIR", names.toLocal8Bit());
        sh("ip link set lo up && ip link add dv0 type veth peer name dv1");
        sh("sysctl -qw net.ipv6.conf.dv0.accept_dad=0 net.ipv6.conf.dv1.accept_dad=0");
        sh("ip link set dv0 up && ip link set dv1 up");
        sh("ip -6 addr add 2001:db8:1::1/64 dev dv0 nodad && ip addr add 10.9.0.1/24 dev dv0");
        sh("ip -6 route add default via fe80::1 dev dv0 metric 100");
        sh("ip -6 route add 2001:db8:99::/48 via 2001:db8:1::fe dev dv0 metric 50 proto static");
        sh("ip route add 10.99.0.0/16 via 10.9.0.254 dev dv0 table 100");
        sh("ip -6 route add 2001:db8:100::/48 dev dv0 table 100");
        sh("ip route add 10.77.0.0/16 dev dv0 table 1000");
        sh("ip rule add from 10.9.0.0/24 lookup 100 priority 1000");
        sh("ip rule add not fwmark 0x10/0xff iif dv0 lookup 1000 priority 1001");
        sh("ip -6 rule add to 2001:db8:5::/64 oif dv0 prohibit priority 1002");
        index_ = if_nametoindex("dv0");
    }
    void TearDown() override {
        if (inPrivateNetns()) {
            shMayFail("ip link del dv0 2>/dev/null");
            shMayFail("ip rule del priority 1000 2>/dev/null; ip rule del priority 1001 "
                      "2>/dev/null; ip -6 rule del priority 1002 2>/dev/null");
        }
        qunsetenv("CORVANE_RT_TABLES_DIR");
        MainWindowFixture::TearDown();
    }
    TfrmMain& refreshed(RuntimeOptions run) {
        TfrmMain& w = window ? *window : make();
        setOption(Option::ColoredTables, true);
        setRuntime(run);
        w.RefreshNetworkStatus();
        return w;
    }
    static RuntimeOptions runOf(bool ipv6, bool tables, bool localhost = false,
                                bool broadcasts = false) {
        RuntimeOptions o;
        o.optShowIpv6 = ipv6;
        o.optAllRoutingTables = tables;
        o.optIgnoreLocalhost = localhost;
        o.optIgnoreBroadcasts = broadcasts;
        return o;
    }
    RouteModel& model() const { return *PageProbe::model(window->tsRoutes); }
    // The first row with this destination (and mask), -1 without one.
    int rowOf(const QString& dest, const QString& mask = {}) const {
        for (int r = 0; r < model().rowCount(); ++r)
            if (model().cellText(r, fwcol::Destination) == dest &&
                (mask.isEmpty() || model().cellText(r, fwcol::Mask) == mask))
                return r;
        return -1;
    }
    QString cell(int row, int column) const { return model().cellText(row, column); }
    QString report() const {
        ReportInput in = window->reportInput();
        setReportContext(in, currentOptions().run, false);
        return buildReportBlock(in);
    }
    QString indexText() const {
        return QStringLiteral("0x") + QString::number(index_, 16).toUpper();
    }
    unsigned index_ = 0;
};

} // namespace

// With both options off the page and its report section are those of the forward table
// alone: its rows, in its order, with today's seven columns and no rules.
TEST_F(RoutesDualNetns, BothOptionsOffShowTheForwardTableAlone) {
    CORVANE_REQUIRE_NETNS();
    for (const bool localhost : {false, true}) {
        refreshed(runOf(false, false, localhost, localhost));
        const RouteTableRead today = readRouteTable({localhost, localhost});
        ASSERT_TRUE(today.ok);
        ASSERT_EQ(model().rowCount(), static_cast<int>(today.fill.rows.size()));
        EXPECT_EQ(model().columnCount(), fwcol::Count);
        for (int r = 0; r < model().rowCount(); ++r) {
            EXPECT_FALSE(model().row(r).ipv6());
            for (int c = 0; c < fwcol::Count; ++c)
                EXPECT_EQ(cell(r, c), routeCellText(today.fill.rows[static_cast<size_t>(r)], c));
        }
        EXPECT_EQ(rowOf(QStringLiteral("10.99.0.0")), -1);
        EXPECT_TRUE(window->tsRoutes->rulesPanel->isHidden());
        EXPECT_EQ(window->tsRoutes->ruleCount(), 0);
        const QString text = report();
        EXPECT_TRUE(text.contains(QStringLiteral("IF Index  Metric    Persistent\n")));
        EXPECT_FALSE(text.contains(QStringLiteral("Policy Rules")));
        EXPECT_FALSE(text.contains(QStringLiteral("2001:db8")));
    }
}

TEST_F(RoutesDualNetns, Ipv6RoutesFollowTheIpv4OnesAndAreFiltered) {
    CORVANE_REQUIRE_NETNS();
    refreshed(runOf(true, false));
    EXPECT_EQ(model().columnCount(), fwcol::Count);
    int firstV6 = -1;
    for (int r = 0; r < model().rowCount(); ++r) {
        if (model().row(r).ipv6() && firstV6 < 0)
            firstV6 = r;
        if (firstV6 >= 0) {
            EXPECT_TRUE(model().row(r).ipv6()) << "IPv4 row " << r << " after the IPv6 ones";
        }
    }
    ASSERT_GT(firstV6, 0);

    const int routed = rowOf(QStringLiteral("2001:db8:99::"), QStringLiteral("/48"));
    ASSERT_GE(routed, 0);
    EXPECT_EQ(cell(routed, fwcol::NextHop), QStringLiteral("2001:db8:1::fe"));
    EXPECT_EQ(cell(routed, fwcol::Index), indexText());
    EXPECT_EQ(cell(routed, fwcol::Metric), QStringLiteral("50"));
    EXPECT_EQ(cell(routed, fwcol::Protocol), QStringLiteral("PROTO_IP_NETMGMT"));
    EXPECT_EQ(cell(routed, fwcol::Persistent), QString());
    // What a change needs to name this route exactly.
    const RouteRow& row = model().row(routed);
    EXPECT_EQ(row.family, familyIpv6);
    EXPECT_EQ(row.table, CORVANE_TABLE_MAIN);
    EXPECT_EQ(row.prefixLength, 48);
    EXPECT_EQ(row.nextHopFamily, familyIpv6);

    // The default route: tagged and coloured as an IPv4 one of the same protocol.
    const int def = rowOf(QStringLiteral("::"), QStringLiteral("/0"));
    ASSERT_GE(def, 0);
    EXPECT_EQ(cell(def, fwcol::NextHop), QStringLiteral("fe80::1"));
    EXPECT_EQ(model().row(def).nextHopZone, index_);
    EXPECT_EQ(model().index(def, 0).data(routeTagRole).toInt(), 3 | routeTagDefaultBit);
    EXPECT_EQ(model().index(def, 0).data(Qt::ForegroundRole).value<QBrush>().color(),
              QColor(0, 0, 255));
    // The host route of the own address, from the local table, is red.
    const int own = rowOf(QStringLiteral("2001:db8:1::1"), QStringLiteral("/128"));
    ASSERT_GE(own, 0);
    EXPECT_EQ(model().row(own).table, CORVANE_TABLE_LOCAL);
    EXPECT_EQ(model().index(own, 0).data(Qt::ForegroundRole).value<QBrush>().color(),
              QColor(255, 0, 0));
    // Other tables only with all tables.
    EXPECT_EQ(rowOf(QStringLiteral("2001:db8:100::")), -1);
    EXPECT_GE(rowOf(QStringLiteral("::1"), QStringLiteral("/128")), 0);
    EXPECT_GE(rowOf(QStringLiteral("ff00::"), QStringLiteral("/8")), 0);

    const QString text = report();
    EXPECT_TRUE(text.contains(QStringLiteral("\n2001:db8:99::       /48                 "
                                             "2001:db8:1::fe      ") +
                              indexText()));

    refreshed(runOf(true, false, true, false));
    EXPECT_EQ(rowOf(QStringLiteral("::1")), -1);
    for (int r = 0; r < model().rowCount(); ++r)
        EXPECT_NE(model().row(r).ifIndex, 1u) << r;
    EXPECT_GE(rowOf(QStringLiteral("ff00::"), QStringLiteral("/8")), 0);
    refreshed(runOf(true, false, false, true));
    EXPECT_GE(rowOf(QStringLiteral("::1"), QStringLiteral("/128")), 0);
    for (int r = 0; r < model().rowCount(); ++r)
        if (model().row(r).ipv6()) {
            EXPECT_FALSE(cell(r, fwcol::Destination).startsWith(QLatin1String("ff"))) << r;
        }
    EXPECT_GE(rowOf(QStringLiteral("2001:db8:99::")), 0);
}

TEST_F(RoutesDualNetns, AllTablesAddTheTableColumnAndTheRules) {
    CORVANE_REQUIRE_NETNS();
    refreshed(runOf(true, true));
    RoutesPage& page = *window->tsRoutes;
    ASSERT_EQ(model().columnCount(), fwcol::CountWithTable);
    EXPECT_EQ(model().headerData(fwcol::Table, Qt::Horizontal).toString(), QStringLiteral("Table"));
    const int vpn = rowOf(QStringLiteral("10.99.0.0"));
    ASSERT_GE(vpn, 0);
    EXPECT_EQ(cell(vpn, fwcol::Table), QStringLiteral("vpn"));
    EXPECT_EQ(cell(vpn, fwcol::NextHop), QStringLiteral("10.9.0.254"));
    EXPECT_EQ(cell(vpn, fwcol::Mask), QStringLiteral("255.255.0.0"));
    EXPECT_EQ(model().row(vpn).table, 100u);
    const int unnamed = rowOf(QStringLiteral("10.77.0.0"));
    ASSERT_GE(unnamed, 0);
    EXPECT_EQ(cell(unnamed, fwcol::Table), QStringLiteral("1000"));
    const int v6 = rowOf(QStringLiteral("2001:db8:100::"), QStringLiteral("/48"));
    ASSERT_GE(v6, 0);
    EXPECT_EQ(cell(v6, fwcol::Table), QStringLiteral("vpn"));
    // The forward table's rows learn their table.
    const int net = rowOf(QStringLiteral("10.9.0.0"), QStringLiteral("255.255.255.0"));
    ASSERT_GE(net, 0);
    EXPECT_EQ(cell(net, fwcol::Table), QStringLiteral("main"));
    const int own = rowOf(QStringLiteral("10.9.0.1"), QStringLiteral("255.255.255.255"));
    ASSERT_GE(own, 0);
    EXPECT_EQ(cell(own, fwcol::Table), QStringLiteral("local"));
    // Order: the forward table's rows, other IPv4 tables, then IPv6.
    EXPECT_LT(net, vpn);
    EXPECT_LT(vpn, unnamed);
    EXPECT_LT(unnamed, rowOf(QStringLiteral("::"), QStringLiteral("/0")));

    ASSERT_FALSE(page.rulesPanel->isHidden());
    QStringList rules;
    for (int r = 0; r < page.ruleCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < rulecol::Count; ++c)
            cells << page.ruleText(r, c);
        rules << cells.join(QLatin1Char('|'));
    }
    EXPECT_TRUE(rules.contains(QStringLiteral("1000|IPv4|from 10.9.0.0/24|lookup vpn")))
        << rules.join('\n').toStdString();
    EXPECT_TRUE(rules.contains(
        QStringLiteral("1001|IPv4|not from all fwmark 0x10/0xff iif dv0|lookup 1000")));
    EXPECT_TRUE(
        rules.contains(QStringLiteral("1002|IPv6|from all to 2001:db8:5::/64 oif dv0|prohibit")));
    EXPECT_TRUE(rules.contains(QStringLiteral("32766|IPv4|from all|lookup main")));
    EXPECT_TRUE(rules.contains(QStringLiteral("0|IPv6|from all|lookup local")));
    EXPECT_EQ(page.lvRules->model()->rowCount(), page.ruleCount());

    const QString text = report();
    EXPECT_TRUE(text.contains(QStringLiteral("IF Index  Metric    Persistent  Table\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n10.99.0.0           255.255.0.0         "
                                             "10.9.0.254          ") +
                              pad(indexText(), 10) + pad(u"0", 10) + pad(u"", 12) +
                              QStringLiteral("vpn\n")))
        << text.toStdString();
    const qsizetype rulesAt = text.indexOf(QStringLiteral("\nPolicy Rules\n"));
    ASSERT_GT(rulesAt, text.indexOf(QStringLiteral("\nRouting Table\n")));
    EXPECT_LT(rulesAt, text.indexOf(QStringLiteral("\nNetstat Table\n")));
    EXPECT_TRUE(text.contains(
        QStringLiteral("\nPriority  Family  Selectors                               Action\n")));
    EXPECT_TRUE(text.contains(QStringLiteral(
        "\n1000      IPv4    from 10.9.0.0/24                        lookup vpn\n")));

    if (const QByteArray shots = qgetenv("CORVANE_SHOTS_DIR"); !shots.isEmpty()) {
        window->resize(1000, 700);
        showAndSettle();
        refreshed(runOf(true, true));
        window->pcMain->setCurrentWidget(&page);
        QCoreApplication::processEvents();
        window->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/routes_dual.png"));
    }

    // Back to one table: today's columns, no rules.
    refreshed(runOf(true, false));
    EXPECT_EQ(model().columnCount(), fwcol::Count);
    EXPECT_TRUE(page.rulesPanel->isHidden());
    EXPECT_EQ(rowOf(QStringLiteral("10.99.0.0")), -1);
    EXPECT_FALSE(report().contains(QStringLiteral("Policy Rules")));
}

// IPv6 off keeps the IPv6 rules and routes out of the tables' view as well.
TEST_F(RoutesDualNetns, AllTablesWithoutIpv6ListIpv4Alone) {
    CORVANE_REQUIRE_NETNS();
    refreshed(runOf(false, true));
    for (int r = 0; r < model().rowCount(); ++r)
        EXPECT_FALSE(model().row(r).ipv6()) << r;
    EXPECT_GE(rowOf(QStringLiteral("10.99.0.0")), 0);
    for (int r = 0; r < window->tsRoutes->ruleCount(); ++r)
        EXPECT_EQ(window->tsRoutes->ruleText(r, rulecol::Family), QStringLiteral("IPv4"));
    EXPECT_GT(window->tsRoutes->ruleCount(), 0);
}

namespace {

// Routes added through the page's Add Route dialog and deleted through its Delete action, as a
// user does it; the kernel is asked after each step.
class RoutesDualChanges : public RoutesDualNetns {
protected:
    void SetUp() override {
        RoutesDualNetns::SetUp();
        if (inPrivateNetns())
            nameConnectionsAfterInterfaces();
    }
    // The kernel's routes for these selectors as "dst gateway dev metric", one a line.
    static std::string kernel(const std::string& selectors) {
        return shOut(
            "ip -j " + selectors +
            " | jq -r '.[] | \"\\(.dst) \\(.gateway // \"-\") \\(.dev) \\(.metric // 0)\"'");
    }
    QString dv0() const {
        const QString index = interfaceIndexText(index_);
        for (int r = 0; r < window->tsInterface->rowCount(); ++r)
            if (window->tsInterface->cellText(r, ifcol::Index) == index)
                return window->tsInterface->cellText(r, ifcol::Description);
        return {};
    }
    struct Typed {
        QString network, mask, nextHop, metric, table;
        bool persistent = false;
    };
    // Answers the Add Route dialog with what is typed and Ok; records what it offered.
    void answerAdd(const Typed& t, QStringList& tables, bool& tableShown) {
        beforeModalAnswer = [this, t, &tables, &tableShown](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
            d.setResult(QDialog::Rejected);
            d.FormShow();
            d.FormActivate();
            tableShown = d.cbxTable->isVisibleTo(&d);
            tables.clear();
            for (int i = 0; i < d.cbxTable->count(); ++i)
                tables << d.cbxTable->itemText(i);
            d.cbxInterfaces->setCurrentIndex(d.cbxInterfaces->findText(dv0()));
            d.cbxInterfacesChange();
            d.edtNetwork->setText(t.network);
            d.edtNetworkExit();
            if (!t.mask.isEmpty())
                d.cbxMask->setEditText(t.mask);
            d.edtNextHop->setText(t.nextHop);
            d.cbxMetric->setEditText(t.metric);
            if (!t.table.isEmpty())
                d.cbxTable->setEditText(t.table);
            d.cbPersistent->setChecked(t.persistent);
            if (d.btnOk->isEnabled())
                d.btnOkClick();
            modalAnswer = d.result();
        };
    }
    // Selects the row and deletes it through the page's action, saying Yes to the question.
    void deleteRow(int row) {
        window->tsRoutes->lvFwTable->selectRow(row);
        ASSERT_TRUE(window->acDeleteRoute->isEnabled());
        prompts.answer(MsgAnswer::Yes);
        window->acDeleteRoute->trigger();
    }
    int rowIn(const char* dest, const char* mask, const QString& table) const {
        for (int r = 0; r < model().rowCount(); ++r)
            if (cell(r, fwcol::Destination) == QLatin1String(dest) &&
                cell(r, fwcol::Mask) == QLatin1String(mask) && cell(r, fwcol::Table) == table)
                return r;
        return -1;
    }
    std::vector<QString> texts() const {
        std::vector<QString> out;
        for (const MessageRequest& m : prompts.messages)
            out.push_back(m.text);
        return out;
    }
};

} // namespace

TEST_F(RoutesDualChanges, AnIpv6RouteIsAddedAndDeletedThroughTheWindow) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed(runOf(true, false));
    QStringList tables;
    bool tableShown = true;
    answerAdd({"2001:db8:5::/64", {}, "2001:db8:1::fe", "70", {}}, tables, tableShown);
    w.acAddRoute->trigger();
    EXPECT_FALSE(tableShown) << "the table is chosen only with every table shown";
    EXPECT_EQ(modalAnswer, QDialog::Accepted);
    EXPECT_EQ(texts(), std::vector<QString>{"Route successfully added."});
    EXPECT_EQ(kernel("-6 route show table main 2001:db8:5::/64"),
              "2001:db8:5::/64 2001:db8:1::fe dv0 70\n");

    // The prefix length typed in the mask box instead, with host bits in the network.
    prompts.messages.clear();
    answerAdd({"2001:db8:7::1", "/64", "2001:db8:1::fe", "71", {}}, tables, tableShown);
    w.acAddRoute->trigger();
    EXPECT_EQ(texts(), (std::vector<QString>{"Network address 2001:db8:7:: has been aligned "
                                             "according to given prefix length 64.",
                                             "Route successfully added."}));
    EXPECT_EQ(kernel("-6 route show table main 2001:db8:7::/64"),
              "2001:db8:7::/64 2001:db8:1::fe dv0 71\n");

    w.RefreshNetworkStatus();
    const int row = rowOf(QStringLiteral("2001:db8:5::"), QStringLiteral("/64"));
    ASSERT_GE(row, 0);
    EXPECT_EQ(cell(row, fwcol::NextHop), QStringLiteral("2001:db8:1::fe"));
    EXPECT_EQ(cell(row, fwcol::Metric), QStringLiteral("70"));
    EXPECT_EQ(cell(row, fwcol::Index), indexText());
    ASSERT_GE(rowOf(QStringLiteral("2001:db8:7::"), QStringLiteral("/64")), 0);

    prompts.messages.clear();
    deleteRow(row);
    ASSERT_EQ(prompts.messages.size(), 1U) << "the question alone";
    EXPECT_EQ(prompts.messages[0].caption, "Delete");
    EXPECT_EQ(kernel("-6 route show table main 2001:db8:5::/64"), "");
    EXPECT_EQ(rowOf(QStringLiteral("2001:db8:5::"), QStringLiteral("/64")), -1);
    EXPECT_EQ(kernel("-6 route show table main 2001:db8:7::/64"),
              "2001:db8:7::/64 2001:db8:1::fe dv0 71\n")
        << "only the selected route goes";
    EXPECT_GE(rowOf(QStringLiteral("2001:db8:99::"), QStringLiteral("/48")), 0);
    w.RefreshNetworkStatus();
    EXPECT_EQ(rowOf(QStringLiteral("2001:db8:5::"), QStringLiteral("/64")), -1);
    EXPECT_GE(rowOf(QStringLiteral("2001:db8:7::"), QStringLiteral("/64")), 0);
}

// The table is offered with every table shown: chosen by its name or typed as its number.
TEST_F(RoutesDualChanges, RoutesInAnotherTableAreAddedAndDeletedThere) {
    CORVANE_REQUIRE_NETNS();
    // The same routes in main, which the deletion must leave alone.
    sh("ip -6 route add 2001:db8:6::/64 via 2001:db8:1::fe dev dv0 metric 80 && "
       "ip route add 10.98.0.0/16 via 10.9.0.254 dev dv0 metric 81");
    TfrmMain& w = refreshed(runOf(true, true));
    QStringList tables;
    bool tableShown = false;
    answerAdd({"2001:db8:6::/64", {}, "2001:db8:1::fe", "80", "vpn"}, tables, tableShown);
    w.acAddRoute->trigger();
    EXPECT_TRUE(tableShown);
    EXPECT_EQ(tables.value(0), QStringLiteral("main"));
    EXPECT_TRUE(tables.contains(QStringLiteral("vpn"))) << tables.join(',').toStdString();
    EXPECT_EQ(texts(), std::vector<QString>{"Route successfully added."});
    EXPECT_EQ(kernel("-6 route show table 100 2001:db8:6::/64"),
              "2001:db8:6::/64 2001:db8:1::fe dv0 80\n");

    prompts.messages.clear();
    answerAdd({"10.98.0.0", "255.255.0.0", "10.9.0.254", "81", "100"}, tables, tableShown);
    w.acAddRoute->trigger();
    EXPECT_EQ(texts(), std::vector<QString>{"Route successfully added."});
    EXPECT_EQ(kernel("route show table 100 10.98.0.0/16"), "10.98.0.0/16 10.9.0.254 dv0 81\n");

    w.RefreshNetworkStatus();
    for (const auto& [dest, mask, hop, metric] :
         {std::tuple{"2001:db8:6::", "/64", "2001:db8:1::fe", "80"},
          std::tuple{"10.98.0.0", "255.255.0.0", "10.9.0.254", "81"}}) {
        const int row = rowIn(dest, mask, QStringLiteral("vpn"));
        ASSERT_GE(row, 0) << dest;
        EXPECT_EQ(cell(row, fwcol::NextHop), QString::fromLatin1(hop));
        EXPECT_EQ(cell(row, fwcol::Metric), QString::fromLatin1(metric));
        prompts.messages.clear();
        deleteRow(row);
        EXPECT_EQ(prompts.messages.size(), 1U) << dest << ": the question alone";
        EXPECT_EQ(rowIn(dest, mask, QStringLiteral("vpn")), -1) << dest;
        EXPECT_GE(rowIn(dest, mask, QStringLiteral("main")), 0) << dest;
    }
    EXPECT_EQ(kernel("-6 route show table 100 2001:db8:6::/64"), "");
    EXPECT_EQ(kernel("route show table 100 10.98.0.0/16"), "");
    EXPECT_EQ(kernel("-6 route show table main 2001:db8:6::/64"),
              "2001:db8:6::/64 2001:db8:1::fe dv0 80\n");
    EXPECT_EQ(kernel("route show table main 10.98.0.0/16"), "10.98.0.0/16 10.9.0.254 dv0 81\n");
    // The table's own routes stay.
    EXPECT_EQ(kernel("-6 route show table 100 2001:db8:100::/48"),
              "2001:db8:100::/48 - dv0 1024\n");
    EXPECT_EQ(kernel("route show table 100 10.99.0.0/16"), "10.99.0.0/16 10.9.0.254 dv0 0\n");
    w.RefreshNetworkStatus();
    EXPECT_EQ(rowIn("2001:db8:6::", "/64", QStringLiteral("vpn")), -1);
    EXPECT_EQ(rowIn("10.98.0.0", "255.255.0.0", QStringLiteral("vpn")), -1);
    EXPECT_GE(rowIn("2001:db8:6::", "/64", QStringLiteral("main")), 0);
}

// Persistent IPv6 routes and routes of table 100: stored with their table and interface,
// brought back by the restore command once `ip` took them away, marked on the page, and
// forgotten when deleted through the window.
TEST_F(RoutesDualChanges, PersistentIpv6AndTable100RoutesComeBackAndGoWhenDeleted) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed(runOf(true, true));
    QStringList tables;
    bool tableShown = false;
    const std::vector<Typed> typed = {
        {"2001:db8:5::/64", {}, "fe80::1", "0", "main", true},
        {"10.98.0.0", "255.255.0.0", "10.9.0.254", "81", "vpn", true},
        {"2001:db8:6::/64", {}, {}, "7", "100", true},
    };
    for (const Typed& t : typed) {
        prompts.messages.clear();
        answerAdd(t, tables, tableShown);
        w.acAddRoute->trigger();
        EXPECT_EQ(texts(), std::vector<QString>{"Route successfully added."})
            << t.network.toStdString();
    }
    const std::vector<std::string> names = {"inet6,2001:db8:5::/64,fe80::1,1024,254,dv0",
                                            "inet,10.98.0.0/16,10.9.0.254,81,100,dv0",
                                            "inet6,2001:db8:6::/64,::,7,100,dv0"};
    EXPECT_EQ(ReadWidePersistentRouteNames(), names);
    EXPECT_TRUE(ReadPersistentRouteNames().empty()) << "the first key holds none of them";

    const auto kernelNow = [] {
        return kernel("-6 route show table main 2001:db8:5::/64") +
               kernel("route show table 100 10.98.0.0/16") +
               kernel("-6 route show table 100 2001:db8:6::/64");
    };
    const std::string made = "2001:db8:5::/64 fe80::1 dv0 1024\n"
                             "10.98.0.0/16 10.9.0.254 dv0 81\n"
                             "2001:db8:6::/64 - dv0 7\n";
    EXPECT_EQ(kernelNow(), made);
    w.RefreshNetworkStatus();
    const auto persistentCell = [&](const char* dest, const char* mask, const char* table) {
        const int row = rowIn(dest, mask, QString::fromLatin1(table));
        return row < 0 ? QStringLiteral("missing") : cell(row, fwcol::Persistent);
    };
    EXPECT_EQ(persistentCell("2001:db8:5::", "/64", "main"), "yes");
    EXPECT_EQ(persistentCell("10.98.0.0", "255.255.0.0", "vpn"), "yes");
    EXPECT_EQ(persistentCell("2001:db8:6::", "/64", "vpn"), "yes");
    EXPECT_EQ(persistentCell("2001:db8:99::", "/48", "main"), "") << "a route nobody stored";

    sh("ip -6 route del 2001:db8:5::/64 via fe80::1 dev dv0 && ip route del 10.98.0.0/16 table "
       "100 && ip -6 route del 2001:db8:6::/64 table 100");
    EXPECT_EQ(kernelNow(), "");
    const std::string restore = std::string(CORVANE_BIN) + " --restore-persistent-routes";
    EXPECT_EQ(shOut(restore),
              "applied " + names[0] + "\napplied " + names[1] + "\napplied " + names[2] + "\n");
    EXPECT_EQ(kernelNow(), made);
    // Present now: applied again, nothing added twice.
    EXPECT_EQ(shMayFail(restore + " >/dev/null"), 0);
    EXPECT_EQ(kernelNow(), made);

    // Gone from the kernel, the stored routes show as inactive rows when asked for.
    sh("ip -6 route del 2001:db8:9::/64 2>/dev/null; true");
    ASSERT_TRUE(SetPersistent("inet6,2001:db8:9::/64,::,5,254,dv0", true));
    setOption(Option::ShowInactiveRoutes, true);
    w.RefreshNetworkStatus();
    const int inactive = rowIn("2001:db8:9::", "/64", QStringLiteral("main"));
    ASSERT_GE(inactive, 0);
    EXPECT_TRUE(model().row(inactive).inactive());
    EXPECT_EQ(cell(inactive, fwcol::Persistent), "yes");
    EXPECT_TRUE(report().contains(QStringLiteral("2001:db8:9::")));
    prompts.messages.clear();
    deleteRow(inactive);
    EXPECT_FALSE(IsPersistent("inet6,2001:db8:9::/64,::,5,254,dv0"));

    // Deleted through the window: out of the kernel and out of the store.
    for (const auto& [dest, mask, table] :
         {std::tuple{"2001:db8:5::", "/64", "main"}, std::tuple{"10.98.0.0", "255.255.0.0", "vpn"},
          std::tuple{"2001:db8:6::", "/64", "vpn"}}) {
        w.RefreshNetworkStatus();
        const int row = rowIn(dest, mask, QString::fromLatin1(table));
        ASSERT_GE(row, 0) << dest;
        prompts.messages.clear();
        deleteRow(row);
        EXPECT_EQ(prompts.messages.size(), 1U) << dest << ": the question alone";
    }
    EXPECT_TRUE(ReadWidePersistentRouteNames().empty());
    EXPECT_EQ(kernelNow(), "");
    EXPECT_EQ(shMayFail(restore + " >/dev/null"), 0);
    EXPECT_EQ(kernelNow(), "") << "nothing comes back";
}
