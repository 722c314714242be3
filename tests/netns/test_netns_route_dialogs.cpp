// Adding and changing routes and finding the outgoing interface through the real main window,
// offscreen, against the kernel of a private network namespace; every result is read back
// from the kernel.
#include "../gui/gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"
#include "platform/iphelper.h"
#include "routing/frmip.h"
#include "routing/frmmodifyroutes.h"
#include "routing/frmroutelist.h"
#include "routing/persistentroutes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <net/if.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class RouteDialogs : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        nameConnectionsAfterInterfaces();
        sh("ip link set lo up");
        for (const char* name : {"rd0", "re0"}) {
            sh(std::string("ip link add ") + name + " type veth peer name " + name + "p");
            sh(std::string("ip link set ") + name + " up && ip link set " + name + "p up");
        }
        sh("ip addr add 10.40.0.1/24 dev rd0 && ip addr add 10.41.0.1/24 dev re0");
        sh("ip route add default via 10.40.0.254 metric 5 && "
           "ip route add default via 10.41.0.254 metric 50 && "
           "ip route add 10.70.0.0/16 via 10.41.0.2");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del rd0 2>/dev/null; ip link del re0 2>/dev/null");
        MainWindowFixture::TearDown();
    }

    TfrmMain& refreshed() {
        TfrmMain& w = window ? *window : make();
        setRuntime({}); // nothing filtered
        w.RefreshNetworkStatus();
        return w;
    }
    // The kernel's routes of the main table under prefix, as "dst gateway dev metric scope".
    static std::string kernelRoute(const std::string& prefix) {
        return shOut("ip -j route show table main " + prefix +
                     " | jq -r '.[] | \"\\(.dst) \\(.gateway // \"-\") \\(.dev) \\(.metric // 0) "
                     "\\(.scope // \"global\")\"'");
    }
    QString description(const char* name) const {
        const QString index = interfaceIndexText(if_nametoindex(name));
        for (int r = 0; r < window->tsInterface->rowCount(); ++r)
            if (window->tsInterface->cellText(r, ifcol::Index) == index)
                return window->tsInterface->cellText(r, ifcol::Description);
        return {};
    }
    int routeRow(const QString& destination, const QString& nextHop = {}) const {
        const RouteModel& m = *PageProbe::model(window->tsRoutes);
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.index(r, fwcol::Destination).data().toString() == destination &&
                (nextHop.isEmpty() || m.index(r, fwcol::NextHop).data().toString() == nextHop))
                return r;
        return -1;
    }
    // Answers the route dialog: shown as the real show does, filled, then Ok pressed; it
    // closes with OK only when the dialog accepts its input.
    void answerRouteDialog(const std::function<void(TfrmModifyRoutes&)>& fill) {
        beforeModalAnswer = [this, fill](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
            d.setResult(QDialog::Rejected);
            d.FormShow();
            d.FormActivate();
            fill(d);
            d.edtNetworkExit();
            if (d.btnOk->isEnabled())
                d.btnOkClick();
            modalAnswer = d.result();
        };
    }
    std::vector<QString> texts() const {
        std::vector<QString> out;
        for (const MessageRequest& m : prompts.messages)
            out.push_back(m.text);
        return out;
    }
    // The route dialog as the user works it: shown, filled, and Ok pressed whatever its state
    // from the last use; what the dialog kept is recorded after it.
    struct Kept {
        QString network, mask, nextHop;
        bool open = false;
    };
    void pressOk(const std::function<void(TfrmModifyRoutes&)>& fill, Kept& kept) {
        beforeModalAnswer = [this, fill, &kept](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
            d.setResult(QDialog::Rejected);
            d.FormShow();
            d.FormActivate();
            fill(d);
            d.btnOk->setEnabled(true);
            d.btnOkClick();
            kept = {d.edtNetwork->text(), d.cbxMask->currentText(), d.edtNextHop->text(),
                    d.result() != QDialog::Accepted};
            modalAnswer = d.result();
        };
    }
    // Every route of the main table, as "ip route" prints them.
    static std::string kernelRoutes() { return shOut("ip route show table main"); }
    static std::string protocolOf(const std::string& prefix) {
        return shOut("ip -j route show table main " + prefix + " | jq -r '.[] | .protocol'");
    }
};

TEST_F(RouteDialogs, AddAlignsTheNetworkAndProposesTheAdaptersGateway) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    QStringList offered;
    answerRouteDialog([&](TfrmModifyRoutes& d) {
        for (int i = 0; i < d.cbxInterfaces->count(); ++i)
            offered << d.cbxInterfaces->itemText(i);
        EXPECT_EQ(d.windowTitle(), "Add a route");
        EXPECT_TRUE(d.imgAdd->isVisibleTo(&d));
        EXPECT_FALSE(d.imgModify->isVisibleTo(&d));
        d.cbxInterfaces->setCurrentIndex(int(offered.indexOf(description("rd0"))));
        d.cbxInterfacesChange();
        EXPECT_EQ(d.edtNextHop->text(), "10.40.0.254") << "the tree's gateway of the adapter";
        d.edtNetwork->setText(QStringLiteral("10.1.2.3"));
        d.cbxMask->setEditText(QStringLiteral("255.0.0.0"));
        d.cbxMetric->setEditText(QStringLiteral("300"));
    });
    w.acAddRoute->trigger();
    EXPECT_TRUE(offered.contains(description("rd0")));
    EXPECT_TRUE(offered.contains(description("re0")));
    EXPECT_EQ(w.pcMain->currentWidget(), w.tsRoutes);
    EXPECT_EQ(frmModifyRoutes->edtNetwork->text(), "10.0.0.0");
    EXPECT_EQ(texts(), (std::vector<QString>{
                           "Network address 10.0.0.0 has been aligned according to given subnet "
                           "mask 255.0.0.0.",
                           "Route successfully added."}));
    EXPECT_EQ(kernelRoute("10.0.0.0/8"), "10.0.0.0/8 10.40.0.254 rd0 300 global\n");
    EXPECT_GE(routeRow(QStringLiteral("10.0.0.0")), 0) << "refreshed with Auto update off";
}

TEST_F(RouteDialogs, OwnAddressAsNextHopAddsAnOnLinkRouteAndPersistentOnesComeBack) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    answerRouteDialog([&](TfrmModifyRoutes& d) {
        d.cbxInterfaces->setEditText(description("rd0"));
        d.edtNetwork->setText(QStringLiteral("10.5.0.0"));
        d.cbxMask->setEditText(QStringLiteral("255.255.0.0"));
        d.edtNextHop->setText(QStringLiteral("10.40.0.1"));
        d.cbxMetric->setEditText(QStringLiteral("3"));
        d.cbPersistent->setChecked(true);
    });
    w.acAddRoute->trigger();
    EXPECT_EQ(kernelRoute("10.5.0.0/16"), "10.5.0.0/16 - rd0 3 link\n");
    EXPECT_TRUE(IsPersistent("10.5.0.0,255.255.0.0,10.40.0.1,3"));

    sh("ip route del 10.5.0.0/16");
    EXPECT_EQ(shMayFail(std::string(CORVANE_BIN) + " --restore-persistent-routes >/dev/null"), 0);
    EXPECT_EQ(kernelRoute("10.5.0.0/16"), "10.5.0.0/16 - rd0 3 link\n");
}

TEST_F(RouteDialogs, IncompleteInputKeepsTheDialogOpenAndAddsNothing) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    for (const char* metric : {"ten", ""}) {
        prompts.messages.clear();
        answerRouteDialog([&](TfrmModifyRoutes& d) {
            d.edtNetwork->setText(QStringLiteral("10.6.0.0"));
            d.cbxMask->setEditText(QStringLiteral("255.255.0.0"));
            d.cbxMetric->setEditText(QString::fromLatin1(metric));
        });
        w.acAddRoute->trigger();
        ASSERT_EQ(prompts.messages.size(), 1u) << metric;
        EXPECT_EQ(prompts.messages[0].text, "Invalid parameters.");
        EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(frmModifyRoutes->metric, -1);
    }
    // An interface typed that no item has.
    prompts.messages.clear();
    answerRouteDialog([&](TfrmModifyRoutes& d) {
        d.edtNetwork->setText(QStringLiteral("10.6.0.0"));
        d.cbxMetric->setEditText(QStringLiteral("1"));
        d.cbxInterfaces->setEditText(QStringLiteral("no such interface"));
    });
    w.acAddRoute->trigger();
    EXPECT_EQ(texts(), std::vector<QString>{"Invalid parameters."});
    EXPECT_EQ(kernelRoute("10.6.0.0/16"), "");

    // Without an active interface Ok cannot be pressed at all.
    sh("ip link set rd0 down && ip link set re0 down");
    setRuntime({false, false, false, true, false, false}); // loopback hidden too
    w.RefreshNetworkStatus();
    bool okEnabled = true;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
        d.FormActivate();
        okEnabled = d.btnOk->isEnabled();
        modalAnswer = QDialog::Rejected;
    };
    w.acAddRoute->trigger();
    EXPECT_FALSE(okEnabled);
}

// Texts that are no address were read as 0.0.0.0: a typo made a default route, or an on-link
// one, and said it was added.
TEST_F(RouteDialogs, TextsThatAreNoAddressAreRefusedByFieldAndChangeNothing) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const std::string before = kernelRoutes();
    struct Case {
        const char* network;
        const char* mask;
        const char* nextHop;
        const char* said;
    };
    for (const Case& c : {Case{"10.60.0.0", "255.255.x", "10.40.0.254", "network mask"},
                          Case{"10.80.0.0.5", "255.255.0.0", "10.40.0.254", "network address"},
                          Case{"10.60.0.0", "255.255.0.0", "10.0.0.22x", "next hop address"},
                          Case{"10.60.0.0", "255.0.255.0", "10.40.0.254", "network mask"}}) {
        prompts.messages.clear();
        Kept kept;
        pressOk(
            [&](TfrmModifyRoutes& d) {
                d.cbxInterfaces->setEditText(description("rd0"));
                d.edtNetwork->setText(QString::fromLatin1(c.network));
                d.cbxMask->setEditText(QString::fromLatin1(c.mask));
                d.edtNextHop->setText(QString::fromLatin1(c.nextHop));
            },
            kept);
        w.acAddRoute->trigger();
        ASSERT_EQ(prompts.messages.size(), 1U) << c.network << " " << c.mask << " " << c.nextHop;
        EXPECT_TRUE(prompts.messages[0].text.contains(QLatin1String(c.said)))
            << prompts.messages[0].text.toStdString();
        EXPECT_EQ(prompts.messages[0].caption, "Error");
        EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
        EXPECT_TRUE(kept.open) << "the dialog stays open";
        EXPECT_EQ(kept.network, c.network);
        EXPECT_EQ(kept.mask, c.mask);
        EXPECT_EQ(kept.nextHop, c.nextHop);
        EXPECT_EQ(kernelRoutes(), before);
    }
}

// The mask box offered its items as the text was typed: "255.255.25" and Enter became
// 255.255.252.0, a route the user never asked for.
TEST_F(RouteDialogs, TheMaskIsTheTextTyped) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const std::string before = kernelRoutes();
    QString maskAtOk;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
        d.setResult(QDialog::Rejected);
        d.show();
        d.cbxInterfaces->setCurrentIndex(d.cbxInterfaces->findText(description("rd0")));
        d.edtNetwork->setText(QStringLiteral("10.61.0.0"));
        d.edtNextHop->setText(QStringLiteral("10.40.0.2"));
        d.edtNetworkExit();
        d.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        QLineEdit* edit = d.cbxMask->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("255.255.25"));
        QTest::keyClick(edit, Qt::Key_Return);
        maskAtOk = d.cbxMask->currentText();
        modalAnswer = d.result();
        d.hide();
    };
    w.acAddRoute->trigger();
    EXPECT_EQ(maskAtOk.toStdString(), "255.255.25");
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_TRUE(prompts.messages[0].text.contains(QLatin1String("network mask")))
        << prompts.messages[0].text.toStdString();
    EXPECT_EQ(kernelRoutes(), before);
}

TEST_F(RouteDialogs, AModifyWithATypoKeepsTheOldRouteUntouched) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.64.0.0/16 via 10.40.0.2 metric 7");
    TfrmMain& w = refreshed();
    const std::string before = kernelRoutes();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.64.0.0")));
    Kept kept;
    pressOk([](TfrmModifyRoutes& d) { d.cbxMask->setEditText(QStringLiteral("255.255.x")); }, kept);
    w.acModifyRoute->trigger();
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_TRUE(prompts.messages[0].text.contains(QLatin1String("network mask \"255.255.x\"")))
        << prompts.messages[0].text.toStdString();
    EXPECT_TRUE(kept.open);
    EXPECT_EQ(kept.network, "10.64.0.0");
    EXPECT_EQ(kernelRoutes(), before);
    EXPECT_FALSE(w.tmrModifyUpdate->isActive());
}

// A stored name holds no interface: an on-link route is refused as persistent before anything
// changes, rather than added and silently left out of the store.
TEST_F(RouteDialogs, PersistentNeedsANextHop) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const std::string before = kernelRoutes();
    for (const char* hop : {"", "0.0.0.0"}) {
        prompts.messages.clear();
        Kept kept;
        pressOk(
            [&](TfrmModifyRoutes& d) {
                d.cbxInterfaces->setEditText(description("rd0"));
                d.edtNetwork->setText(QStringLiteral("10.65.0.0"));
                d.cbxMask->setEditText(QStringLiteral("255.255.0.0"));
                d.edtNextHop->setText(QString::fromLatin1(hop));
                d.cbPersistent->setChecked(true);
            },
            kept);
        w.acAddRoute->trigger();
        ASSERT_EQ(prompts.messages.size(), 1U) << hop;
        EXPECT_TRUE(prompts.messages[0].text.contains(QLatin1String("cannot be persistent")))
            << prompts.messages[0].text.toStdString();
        EXPECT_TRUE(kept.open);
        EXPECT_EQ(kernelRoutes(), before);
    }
    // Without Persistent the empty next hop still means a route on the link.
    prompts.messages.clear();
    Kept kept;
    pressOk(
        [&](TfrmModifyRoutes& d) {
            d.cbxInterfaces->setEditText(description("rd0"));
            d.edtNetwork->setText(QStringLiteral("10.65.0.0"));
            d.edtNextHop->clear();
            d.cbPersistent->setChecked(false);
        },
        kept);
    w.acAddRoute->trigger();
    EXPECT_EQ(texts(), std::vector<QString>{"Route successfully added."});
    EXPECT_EQ(kernelRoute("10.65.0.0/16"), "10.65.0.0/16 - rd0 1 link\n");
}

TEST_F(RouteDialogs, ModifyChangesMetricAndNextHopAndAnnouncesAfterTheRefresh) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.60.0.0/16 via 10.40.0.2 metric 7");
    ASSERT_TRUE(SetPersistent("10.60.0.0,255.255.0.0,10.40.0.2,7", true));
    TfrmMain& w = refreshed();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.60.0.0")));
    ASSERT_TRUE(w.acModifyRoute->isEnabled());
    QSignalSpy refills(PageProbe::model(w.tsRoutes), &QAbstractItemModel::modelReset);
    answerRouteDialog([&](TfrmModifyRoutes& d) {
        // A refresh asked for while the dialog is open waits for the change to end.
        w.RefreshNetworkStatus();
        EXPECT_EQ(refills.count(), 0);
        EXPECT_EQ(d.windowTitle(), "Modify a route");
        EXPECT_TRUE(d.imgModify->isVisibleTo(&d));
        EXPECT_EQ(d.edtNetwork->text(), "10.60.0.0");
        EXPECT_EQ(d.cbxMask->currentText(), "255.255.0.0");
        EXPECT_EQ(d.edtNextHop->text(), "10.40.0.2");
        EXPECT_EQ(d.cbxMetric->currentText(), "7");
        EXPECT_TRUE(d.cbPersistent->isChecked());
        EXPECT_EQ(d.cbxInterfaces->currentText(), description("rd0"));
        d.edtNextHop->setText(QStringLiteral("10.40.0.3"));
        d.cbxMetric->setEditText(QStringLiteral("9"));
    });
    w.acModifyRoute->trigger();
    EXPECT_EQ(refills.count(), 1) << "the waiting refresh ran once the change was done";
    EXPECT_EQ(kernelRoute("10.60.0.0/16"), "10.60.0.0/16 10.40.0.3 rd0 9 global\n");
    EXPECT_FALSE(IsPersistent("10.60.0.0,255.255.0.0,10.40.0.2,7"));
    EXPECT_TRUE(IsPersistent("10.60.0.0,255.255.0.0,10.40.0.3,9"));
    EXPECT_TRUE(prompts.messages.empty()) << "announced only after the refresh";
    ASSERT_TRUE(w.tmrModifyUpdate->isActive());
    w.tmrModifyUpdateTimer();
    EXPECT_EQ(texts(), std::vector<QString>{"Route successfully modified."});
    EXPECT_GE(routeRow(QStringLiteral("10.60.0.0"), QStringLiteral("10.40.0.3")), 0);
}

// The kernel refuses a next hop on no network of this computer: the old route stays, still
// persistent, and the refusal is said.
TEST_F(RouteDialogs, ARefusedModifyKeepsTheOldRoute) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.61.0.0/16 via 10.40.0.2 metric 7");
    const std::string oldName = "10.61.0.0,255.255.0.0,10.40.0.2,7";
    ASSERT_TRUE(SetPersistent(oldName, true));
    TfrmMain& w = refreshed();
    const std::string protocol = protocolOf("10.61.0.0/16");
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.61.0.0")));
    answerRouteDialog(
        [&](TfrmModifyRoutes& d) { d.edtNextHop->setText(QStringLiteral("10.99.0.1")); });
    // The route is back before the refusal is said: the box waits for the user.
    std::string whileSaid;
    bool storedWhileSaid = false;
    prompts.whileOpen = [&](const MessageRequest&) {
        whileSaid = kernelRoute("10.61.0.0/16");
        storedWhileSaid = IsPersistent(oldName);
    };
    w.acModifyRoute->trigger();
    prompts.whileOpen = nullptr;
    EXPECT_EQ(whileSaid, "10.61.0.0/16 10.40.0.2 rd0 7 global\n");
    EXPECT_TRUE(storedWhileSaid) << "its stored name is back with it";
    EXPECT_EQ(protocolOf("10.61.0.0/16"), protocol) << "back as it was made";
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("SetIPForwardEntry failed: "))
        << prompts.messages[0].text.toStdString();
    EXPECT_EQ(kernelRoute("10.61.0.0/16"), "10.61.0.0/16 10.40.0.2 rd0 7 global\n");
    EXPECT_TRUE(IsPersistent(oldName));
    EXPECT_FALSE(w.tmrModifyUpdate->isActive());
    EXPECT_GE(routeRow(QStringLiteral("10.61.0.0"), QStringLiteral("10.40.0.2")), 0);
}

// The kernel's deletion, watched: whether the name watched is stored at each call.
Entry<decltype(&::DeleteIpForwardEntry)> boundDeleteForward;
std::string watchedName;
std::vector<bool> storedAtDeletion;
DWORD deleteForwardWatched(MIB_IPFORWARDROW* row) {
    storedAtDeletion.push_back(IsPersistent(watchedName));
    return boundDeleteForward(row);
}

// A route keeper puts back a stored route it finds missing: the old name is out of the store
// before the old route leaves the kernel, and back when the old route stays.
TEST_F(RouteDialogs, ModifyTakesTheOldNameOutBeforeDeletingTheOldRoute) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.64.0.0/16 via 10.40.0.2 metric 7");
    watchedName = "10.64.0.0,255.255.0.0,10.40.0.2,7";
    ASSERT_TRUE(SetPersistent(watchedName, true));
    TfrmMain& w = refreshed();
    boundDeleteForward = iphlp().DeleteIpForwardEntry;
    iphlp().DeleteIpForwardEntry.set(&deleteForwardWatched);
    storedAtDeletion.clear();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.64.0.0")));
    answerRouteDialog([](TfrmModifyRoutes& d) { d.cbxMetric->setEditText(QStringLiteral("9")); });
    w.acModifyRoute->trigger();
    EXPECT_EQ(storedAtDeletion, std::vector<bool>{false});
    EXPECT_EQ(kernelRoute("10.64.0.0/16"), "10.64.0.0/16 10.40.0.2 rd0 9 global\n");
    EXPECT_FALSE(IsPersistent(watchedName));
    EXPECT_TRUE(IsPersistent("10.64.0.0,255.255.0.0,10.40.0.2,9"));

    // A twin the row cannot tell apart: the old route is not deleted and keeps its name, told
    // while the name is already back; the new route is made all the same.
    sh("ip route add 10.65.0.0/16 via 10.40.0.2 metric 7 && "
       "ip route add 10.65.0.0/16 via 10.40.0.2 metric 7 tos 0x10");
    watchedName = "10.65.0.0,255.255.0.0,10.40.0.2,7";
    ASSERT_TRUE(SetPersistent(watchedName, true));
    w.tmrModifyUpdateTimer();
    refreshed();
    prompts.messages.clear();
    storedAtDeletion.clear();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.65.0.0")));
    answerRouteDialog([](TfrmModifyRoutes& d) { d.cbxMetric->setEditText(QStringLiteral("9")); });
    bool storedWhileSaid = false;
    prompts.whileOpen = [&](const MessageRequest&) { storedWhileSaid = IsPersistent(watchedName); };
    w.acModifyRoute->trigger();
    prompts.whileOpen = nullptr;
    iphlp().DeleteIpForwardEntry = boundDeleteForward;
    EXPECT_EQ(storedAtDeletion, std::vector<bool>{false});
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("Couldn't DeleteIpForwardEntry (10.65.0.0 "))
        << prompts.messages[0].text.toStdString();
    EXPECT_TRUE(storedWhileSaid);
    EXPECT_TRUE(IsPersistent(watchedName));
    EXPECT_EQ(shOut("ip route show 10.65.0.0/16 metric 7 | wc -l"), "2\n");
}

// An on-link route shows the interface's address as its next hop; put back, it is still the
// route it was: on the link, its own protocol, no preferred source it never had.
TEST_F(RouteDialogs, ARefusedModifyPutsAnOnLinkRouteBackAsItWas) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.63.0.0/16 dev rd0 metric 8 proto 42");
    const std::string before = shOut("ip route show 10.63.0.0/16");
    TfrmMain& w = refreshed();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.63.0.0")));
    answerRouteDialog([&](TfrmModifyRoutes& d) {
        EXPECT_EQ(d.edtNextHop->text(), "10.40.0.1");
        d.edtNextHop->setText(QStringLiteral("10.99.0.1"));
    });
    w.acModifyRoute->trigger();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("SetIPForwardEntry failed: "));
    EXPECT_EQ(shOut("ip route show 10.63.0.0/16"), before);
}

TEST_F(RouteDialogs, ChoosingAnotherInterfaceAsksBeforeReplacingTheNextHop) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.62.0.0/16 via 10.40.0.9");
    TfrmMain& w = refreshed();
    w.tsRoutes->lvFwTable->selectRow(routeRow(QStringLiteral("10.62.0.0")));
    std::vector<QString> nextHops;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
        d.FormShow();
        d.FormActivate();
        const int other = d.cbxInterfaces->findText(description("re0"));
        for (const MsgAnswer a : {MsgAnswer::No, MsgAnswer::Yes}) {
            prompts.answer(a);
            d.cbxInterfaces->setCurrentIndex(other);
            d.cbxInterfacesChange();
            nextHops.push_back(d.edtNextHop->text());
            d.edtNextHop->setText(QStringLiteral("10.40.0.9"));
        }
        modalAnswer = QDialog::Rejected;
    };
    w.acModifyRoute->trigger();
    EXPECT_EQ(nextHops, (std::vector<QString>{"10.40.0.9", "10.41.0.254"}));
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[0].text,
              "About to change an individual next hop address.\n Do you want to change from "
              "10.40.0.9 to default gateway address 10.41.0.254?");
    EXPECT_EQ(prompts.messages[0].caption, "Modify Route");
    EXPECT_EQ(prompts.messages[0].defaultAnswer, MsgAnswer::No);
    EXPECT_EQ(kernelRoute("10.62.0.0/16"), "10.62.0.0/16 10.40.0.9 rd0 0 global\n");
}

TEST_F(RouteDialogs, OutgoingInterfaceSelectsItsFirstRoute) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const auto ask = [&](const char* text) {
        beforeModalAnswer = [text](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmIP&>(dialog);
            d.edtIP->setText(QString::fromLatin1(text));
            d.btnOkClick();
        };
        w.acBestRoute->trigger();
    };
    const auto selected = [&] {
        const QModelIndexList rows = w.tsRoutes->lvFwTable->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    };
    ask(" 10.70.1.1 ");
    EXPECT_EQ(frmIP->edtIP->text(), "10.70.1.1");
    ASSERT_GE(selected(), 0);
    const RouteRow& row = PageProbe::model(w.tsRoutes)->row(selected());
    EXPECT_EQ(row.ifIndex, if_nametoindex("re0"));
    EXPECT_EQ(row.destination, 0u) << "the interface's default route comes first";
    // The interface row and the adapter node follow the route.
    const QModelIndexList ifRows = w.tsInterface->lvIfTable->selectionModel()->selectedRows();
    ASSERT_EQ(ifRows.size(), 1);
    EXPECT_EQ(w.tsInterface->cellText(ifRows.first().row(), ifcol::Description),
              description("re0"));
    EXPECT_EQ(w.tsIP->tvInfo->currentIndex().data().toString(), description("re0"));

    ask("10.0.0.300");
    EXPECT_EQ(texts(), std::vector<QString>{"10.0.0.300 is not a valid IP address"});
    EXPECT_GE(selected(), 0) << "an invalid address changes nothing";

    // Loopback's routes are hidden: nothing to select, and nothing said.
    setRuntime({false, false, false, true, false, false});
    w.RefreshNetworkStatus();
    ask("127.0.0.1");
    EXPECT_EQ(selected(), -1);
    EXPECT_EQ(prompts.messages.size(), 1u);
}

} // namespace

namespace {

// A list file with remarks, an empty line, a default route in line 3, lines the splitter
// refuses, an unaligned network, CR LF line ends and a last line ending in a blank.
const char* const kList = "# routes of the lab\r\n"
                          "10.90.0.0 255.255.0.0\r\n"
                          "0.0.0.0 0.0.0.0\r\n"
                          "\r\n"
                          "10.91.0.0  255.255.0.0\r\n"
                          "10.92.1.2 255.255.0.0\r\n"
                          "10.93.0.0 255.255.0.0  a remark\r\n"
                          "10.82.0.0 255.255.0.0\r\n"
                          "10.94.0.0 255.255.255.0 ";

class RouteLists : public RouteDialogs {
protected:
    QString listFile(const char* text) {
        QString path = dir.filePath(QStringLiteral("list.cfg"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    // Answers a list dialog: shown, the file loaded, filled, Ok pressed.
    template <typename Dialog>
    void answerListDialog(const QString& file, const std::function<void(Dialog&)>& fill) {
        beforeModalAnswer = [this, file, fill](QDialog& dialog) {
            auto& d = dynamic_cast<Dialog&>(dialog);
            d.setResult(QDialog::Rejected);
            d.FormShow();
            d.FormActivate();
            prompts.answerFile(file);
            d.btnOpenListClick();
            fill(d);
            if (d.btnOk->isEnabled())
                d.btnOkClick();
            modalAnswer = d.result();
        };
    }
};

TEST_F(RouteLists, AddsEveryListedRouteAndReportsTheOneRefused) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.82.0.0/16 via 10.40.0.2 metric 1"); // the list's 10.82 is refused
    TfrmMain& w = refreshed();
    std::vector<QString> loaded;
    answerListDialog<TfrmAddRouteList>(listFile(kList), [&](TfrmAddRouteList& d) {
        for (const ListRoute& r : d.routeList->routes())
            loaded.push_back(r.network + QLatin1Char(' ') + r.mask);
        d.cbxInterfaces->setEditText(description("rd0"));
        d.edtNextHop->setText(QStringLiteral("10.40.0.2"));
        d.cbPersistent->setChecked(true);
    });
    w.acAddFromList->trigger();
    EXPECT_EQ(loaded, (std::vector<QString>{"10.90.0.0 255.255.0.0", "10.92.1.2 255.255.0.0",
                                            "10.93.0.0 255.255.0.0", "10.82.0.0 255.255.0.0",
                                            "10.94.0.0 255.255.255.0"}));
    // The default route; the network with host bits, which the kernel refuses as it stands;
    // the route that exists already; and no success.
    ASSERT_EQ(prompts.messages.size(), 3u);
    EXPECT_EQ(prompts.messages[0].text, "Default routes are not allowed. Ignoring routing entry "
                                        "in line 3 (0.0.0.0 0.0.0.0).");
    EXPECT_TRUE(prompts.messages[1].text.startsWith("SetIPForwardEntry for 10.92.1.2 failed: "))
        << prompts.messages[1].text.toStdString();
    EXPECT_TRUE(prompts.messages[2].text.startsWith("SetIPForwardEntry for 10.82.0.0 failed: "))
        << prompts.messages[2].text.toStdString();
    EXPECT_EQ(kernelRoute("10.90.0.0/16"), "10.90.0.0/16 10.40.0.2 rd0 1 global\n");
    EXPECT_EQ(kernelRoute("10.93.0.0/16"), "10.93.0.0/16 10.40.0.2 rd0 1 global\n");
    EXPECT_EQ(kernelRoute("10.94.0.0/24"), "10.94.0.0/24 10.40.0.2 rd0 1 global\n");
    EXPECT_EQ(kernelRoute("10.92.0.0/16"), "") << "an unaligned network is never aligned";
    EXPECT_TRUE(IsPersistent("10.90.0.0,255.255.0.0,10.40.0.2,1"));
    EXPECT_TRUE(IsPersistent("10.94.0.0,255.255.255.0,10.40.0.2,1"));
    EXPECT_FALSE(IsPersistent("10.82.0.0,255.255.0.0,10.40.0.2,1"));
}

// Typed into the box and taken with Enter, as a user does: inline completion made "2" the item
// "20" and "3" the item "30". Each dialog is shown for real, so Enter reaches its Ok.
TEST_F(RouteLists, TheMetricIsTheNumberTypedInEveryDialog) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.97.0.0/16 via 10.40.0.2 metric 2 && "
       "ip route add 10.97.0.0/16 via 10.40.0.2 metric 20");
    TfrmMain& w = refreshed();
    const auto typeMetric = [](QComboBox* box, const char* typed) {
        QLineEdit* edit = box->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    const auto chooseRd0 = [&](QComboBox* box) {
        box->setCurrentIndex(box->findText(description("rd0")));
    };

    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmModifyRoutes&>(dialog);
        d.setResult(QDialog::Rejected);
        d.show();
        chooseRd0(d.cbxInterfaces);
        d.edtNetwork->setText(QStringLiteral("10.66.0.0"));
        d.cbxMask->setEditText(QStringLiteral("255.255.0.0"));
        d.edtNextHop->setText(QStringLiteral("10.40.0.2"));
        d.edtNetworkExit();
        typeMetric(d.cbxMetric, "2");
        modalAnswer = d.result();
        d.hide();
    };
    w.acAddRoute->trigger();
    EXPECT_EQ(frmModifyRoutes->metric, 2);
    EXPECT_EQ(kernelRoute("10.66.0.0/16"), "10.66.0.0/16 10.40.0.2 rd0 2 global\n");

    const QString file = listFile("10.96.0.0 255.255.0.0\n");
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmAddRouteList&>(dialog);
        d.setResult(QDialog::Rejected);
        d.show();
        prompts.answerFile(file);
        d.btnOpenListClick();
        chooseRd0(d.cbxInterfaces);
        d.edtNextHop->setText(QStringLiteral("10.40.0.2"));
        typeMetric(d.cbxMetric, "3");
        modalAnswer = d.result();
        d.hide();
    };
    w.acAddFromList->trigger();
    EXPECT_EQ(frmAddRouteList->metric, 3);
    EXPECT_EQ(kernelRoute("10.96.0.0/16"), "10.96.0.0/16 10.40.0.2 rd0 3 global\n");

    const QString byList = listFile("10.97.0.0 255.255.0.0\n");
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelRouteList&>(dialog);
        d.setResult(QDialog::Rejected);
        d.show();
        prompts.answerFile(byList);
        d.btnOpenListClick();
        chooseRd0(d.cbxInterfaces);
        typeMetric(d.cbxMetric, "2");
        modalAnswer = d.result();
        d.hide();
    };
    prompts.answer(MsgAnswer::Yes); // the deletion's own question
    w.acDelList->setEnabled(true);
    w.acDelList->trigger();
    EXPECT_EQ(frmDelRouteList->metric, 2);
    EXPECT_EQ(kernelRoute("10.97.0.0/16"), "10.97.0.0/16 10.40.0.2 rd0 20 global\n");
    for (QComboBox* box :
         {frmModifyRoutes->cbxMetric, frmAddRouteList->cbxMetric, frmDelRouteList->cbxMetric})
        EXPECT_EQ(box->count(), 9) << "a typed metric never becomes an item";
}

// The list's next hop follows the route dialog's rule: no text that is no address, and no
// persistent list without a next hop.
TEST_F(RouteLists, TheListsNextHopMustBeAnAddressAndPersistentNeedsOne) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const std::string before = kernelRoutes();
    const QString file = listFile("10.95.0.0 255.255.0.0\n");
    struct Case {
        const char* nextHop;
        bool persistent;
        const char* said;
    };
    for (const Case& c :
         {Case{"10.0.0.22x", false, "next hop address \"10.0.0.22x\""},
          Case{"", true, "cannot be persistent"}, Case{"0.0.0.0", true, "cannot be persistent"}}) {
        prompts.messages.clear();
        answerListDialog<TfrmAddRouteList>(file, [&](TfrmAddRouteList& d) {
            d.cbxInterfaces->setEditText(description("rd0"));
            d.edtNextHop->setText(QString::fromLatin1(c.nextHop));
            d.cbPersistent->setChecked(c.persistent);
        });
        w.acAddFromList->trigger();
        ASSERT_EQ(prompts.messages.size(), 1U) << c.nextHop;
        EXPECT_TRUE(prompts.messages[0].text.contains(QLatin1String(c.said)))
            << prompts.messages[0].text.toStdString();
        EXPECT_EQ(modalAnswer, QDialog::Rejected) << "the dialog stays open";
        EXPECT_EQ(frmAddRouteList->edtNextHop->text(), c.nextHop);
        EXPECT_EQ(kernelRoutes(), before);
        EXPECT_TRUE(ReadPersistentRouteNames().empty());
    }
}

TEST_F(RouteLists, DeleteByListMatchesNetworkMaskMetricAndInterface) {
    CORVANE_REQUIRE_NETNS();
    sh("ip route add 10.90.0.0/16 via 10.40.0.2 metric 1 && "
       "ip route add 10.93.0.0/16 via 10.40.0.2 metric 10 && "
       "ip route add 10.94.0.0/24 via 10.41.0.2 metric 1");
    TfrmMain& w = refreshed();
    const QString file = listFile("10.90.0.0 255.255.0.0\n10.93.0.0 255.255.0.0\n"
                                  "10.94.0.0 255.255.255.0\n");
    const auto run = [&](const QString& face, const char* metric) {
        prompts.messages.clear();
        answerListDialog<TfrmDelRouteList>(file, [&](TfrmDelRouteList& d) {
            d.cbxInterfaces->setEditText(face);
            d.cbxMetric->setEditText(QString::fromLatin1(metric));
        });
        prompts.answer(MsgAnswer::Yes); // the deletion's own question
        w.acDelList->setEnabled(true);
        w.acDelList->trigger();
    };
    run(description("rd0"), "1");
    EXPECT_EQ(kernelRoute("10.90.0.0/16"), "");
    EXPECT_NE(kernelRoute("10.93.0.0/16"), "") << "metric 10 is not metric 1";
    EXPECT_NE(kernelRoute("10.94.0.0/24"), "") << "another interface";

    run(description("re0"), "5");
    EXPECT_EQ(texts(), std::vector<QString>{"Didn't find any match."});
    EXPECT_EQ(prompts.messages[0].caption, "Delete Routes");

    run(QStringLiteral("no such interface"), "1");
    EXPECT_EQ(texts(), std::vector<QString>{"Invalid parameters."});
    EXPECT_NE(kernelRoute("10.94.0.0/24"), "");
}

} // namespace
