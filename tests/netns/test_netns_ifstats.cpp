// The interface statistics window of the real main window, offscreen, against the counters
// of a private network namespace.
#include "../gui/gui_fixture.h"
#include "interfaces/frmifdetails.h"
#include "interfaces/frmipdetails.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <net/if.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class IfStats : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        sh("ip link set lo up && ip link add st0 type veth peer name st0p && "
           "ip link set st0 up && ip link set st0p up && ip addr add 10.44.0.1/24 dev st0");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del st0 2>/dev/null");
        MainWindowFixture::TearDown();
    }
    TfrmMain& withRowSelected(const char* name) {
        TfrmMain& w = make();
        setRuntime({});
        w.RefreshNetworkStatus();
        const QString index = interfaceIndexText(if_nametoindex(name));
        for (int r = 0; r < w.tsInterface->rowCount(); ++r)
            if (w.tsInterface->cellText(r, ifcol::Index) == index)
                w.tsInterface->lvIfTable->selectRow(r);
        return w;
    }
    // Opens the window and, while it stands open, runs what the test does with it.
    void whileOpen(TfrmMain& w, const std::function<void(TfrmIfDetails&)>& body) {
        beforeModalAnswer = [&body](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmIfDetails&>(dialog);
            d.show();
            body(d);
            d.hide();
        };
        w.acIfStats->setEnabled(true);
        w.acIfStats->trigger();
    }
};

TEST_F(IfStats, CountersAndRatesOfTheSelectedInterface) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = withRowSelected("lo");
    QString rx;
    int meter = 0;
    whileOpen(w, [&](TfrmIfDetails& d) {
        EXPECT_EQ(d.windowTitle(), "Interface statistics");
        EXPECT_TRUE(w.tmrIntStat->isActive());
        // A counter still at 0 gives no rate at its mark; the next mark has nothing to take
        // it from either.
        for (int i = 0; i < 5; ++i)
            w.tsInterface->acIfStatsExecuteUpdate();
        EXPECT_TRUE(d.lblinOctetsps->text().isEmpty());
        sh("python3 -c 'import socket; socket.socket(socket.AF_INET, "
           "socket.SOCK_DGRAM).sendto(b\"x\", (\"127.0.0.1\", 9))'");
        for (int i = 0; i < 5; ++i) // this mark only remembers the counters
            w.tsInterface->acIfStatsExecuteUpdate();
        EXPECT_TRUE(d.lblinOctetsps->text().isEmpty());
        sh("python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
           "for i in range(2000): s.sendto(b\"x\" * 1400, (\"127.0.0.1\", 9))'");
        for (int i = 0; i < 5; ++i)
            w.tsInterface->acIfStatsExecuteUpdate();
        rx = d.lblinOctetsps->text();
        meter = d.pbIOPS->value();
        EXPECT_TRUE(d.gbxIfStats->title().endsWith(
            " (Index: " + interfaceIndexText(if_nametoindex("lo")) + ")"))
            << d.gbxIfStats->title().toStdString();
        EXPECT_GT(d.lblinOctets->text().toULongLong(), 2'000'000u);
        EXPECT_EQ(d.lblMtu->text(), "65536");
    });
    EXPECT_GT(rx.toULongLong(), 2'000'000u) << "at least the octets sent, scaled to a second";
    EXPECT_GT(meter, 30);
    EXPECT_FALSE(w.tmrIntStat->isActive());
    EXPECT_TRUE(frmIfDetails->lblinOctetsps->text().isEmpty()) << "cleared for the next run";
    EXPECT_EQ(frmIfDetails->pbIOPS->value(), 0);
}

TEST_F(IfStats, AVanishedInterfaceStopsTheRunWithTheFailure) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = withRowSelected("st0");
    whileOpen(w, [&](TfrmIfDetails& d) {
        w.tsInterface->acIfStatsExecuteUpdate();
        EXPECT_FALSE(d.lblinOctets->text().isEmpty());
        sh("ip link del st0");
        w.tsInterface->acIfStatsExecuteUpdate();
        EXPECT_EQ(d.windowTitle(), "Interface statistics stopped");
        EXPECT_FALSE(d.captions.front()->isEnabled());
        EXPECT_FALSE(w.tmrIntStat->isActive());
    });
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("GetIfEntry failed: "))
        << prompts.messages[0].text.toStdString();
}

TEST_F(IfStats, AlwaysOnTopSetsTheMainWindowAsideUntilClosed) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = withRowSelected("st0");
    w.show();
    whileOpen(w, [&](TfrmIfDetails& d) {
        d.cbxKeepOnTop->setChecked(true);
        d.cbxKeepOnTopClick();
        EXPECT_TRUE(w.isMinimized());
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.windowType(), Qt::Window);
        EXPECT_TRUE(d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        d.btnCloseClick();
        EXPECT_FALSE(w.isMinimized());
        EXPECT_FALSE(d.cbxKeepOnTop->isChecked());
        EXPECT_FALSE(d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    });
    EXPECT_FALSE(w.tmrIntStat->isActive());
}

TEST_F(IfStats, ARefreshThatDropsTheSelectionStopsTheRun) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = withRowSelected("st0");
    whileOpen(w, [&](TfrmIfDetails&) {
        w.RefreshNetworkStatus(); // refills the list: nothing is selected any more
        w.tsInterface->acIfStatsExecuteUpdate();
    });
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              "Interface statistcs stopped due to not specified exception.");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Warning);
}

} // namespace

namespace {

TEST_F(IfStats, IpStatisticsFollowForwardingAndStayUnsigned) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = make();
    std::vector<std::pair<bool, QString>> seen;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmIPDetails&>(dialog);
        d.show();
        EXPECT_TRUE(w.tmrIpStat->isActive());
        for (const char* forwarding : {"0", "1"}) {
            sh(std::string("sysctl -q -w net.ipv4.ip_forward=") + forwarding);
            w.tmrIpStatTimer();
            seen.emplace_back(d.lblForwardedLabel->isVisibleTo(&d),
                              d.lblRoutingEnabled->text() + "|" + d.lblForwarded->text());
        }
        MIB_IPSTATS big{};
        big.dwInReceives = 3'000'000'000U;
        big.dwForwarding = 2;
        d.showStatistics(big);
        EXPECT_EQ(d.lblinReceives->text(), "3000000000");
        EXPECT_FALSE(d.lblDefaultTTL->text().isEmpty());

        // "Always on top" sets the main window aside; Close brings it back.
        w.show();
        d.cbxKeepOnTop->setChecked(true);
        d.cbxKeepOnTopClick();
        EXPECT_TRUE(w.isMinimized());
        EXPECT_TRUE(d.isVisible()) << "a re-created window would end the modal run";
        EXPECT_EQ(d.windowType(), Qt::Window) << "a transient dialog is minimised with its owner";
        EXPECT_TRUE(d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        d.btnCloseClick();
        EXPECT_FALSE(d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_FALSE(w.isMinimized());
        EXPECT_FALSE(d.cbxKeepOnTop->isChecked());
    };
    w.acIPStats->trigger();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(false, QStringLiteral("disabled.|")));
    EXPECT_TRUE(seen[1].first);
    EXPECT_TRUE(seen[1].second.startsWith("enabled.|")) << seen[1].second.toStdString();
    EXPECT_NE(seen[1].second, "enabled.|") << "the forwarded count is back";
    EXPECT_FALSE(w.tmrIpStat->isActive());
}

} // namespace
