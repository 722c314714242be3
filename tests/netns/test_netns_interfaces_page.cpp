// The Interfaces page of the real main window against the kernel's links in a private
// network namespace: the rows it shows and the administrative enable and disable.
#include "../gui/gui_fixture.h"
#include "interfaces/interfacepage.h"
#include "netns.h"
#include "platform/resulttext.h"

#include <QAction>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>

using namespace corvane;
using namespace corvane::test;

namespace {

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

bool linkUp(const std::string& name) {
    const std::string flags = shOut("ip -o link show " + name);
    return flags.find(",UP") != std::string::npos || flags.find("<UP") != std::string::npos;
}

class InterfacesPageNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        // ifa: up with a live peer; ifb: up without carrier; ifc: switched off.
        sh("ip link add ifa type veth peer name ifa-p && ip link set ifa-p up && "
           "ip link set ifa up && ip addr add 10.9.0.1/24 dev ifa");
        sh("ip link add ifb type veth peer name ifb-p && ip link set ifb up && "
           "ip addr add 10.9.1.1/24 dev ifb");
        sh("ip link add ifc type veth peer name ifc-p");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("ip link del ifa 2>/dev/null; ip link del ifb 2>/dev/null; "
                      "ip link del ifc 2>/dev/null");
        MainWindowFixture::TearDown();
    }

    TfrmMain& refreshed(bool ignoreLocalhost = false, bool ignoreOperStatus = false) {
        TfrmMain& w = window ? *window : make();
        options->change([&](Options& o) { o.run.optIgnoreLocalhost = ignoreLocalhost; });
        setOption(Option::IgnoreOperStatus, ignoreOperStatus);
        w.RefreshNetworkStatus();
        return w;
    }
    // The row whose Description names the interface, or -1.
    int rowOf(const std::string& name) const {
        const QStandardItemModel& m = *PageProbe::model(window->tsInterface);
        const QString prefix = QString::fromStdString(name) + QStringLiteral(" - ");
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.index(r, 6).data().toString().startsWith(prefix))
                return r;
        return -1;
    }
    QString text(int row, int column) const {
        return PageProbe::model(window->tsInterface)->index(row, column).data().toString();
    }
    int word(int row) const { return ifRowDataWord(*PageProbe::model(window->tsInterface), row); }
    bool anySelected() const {
        return window->tsInterface->lvIfTable->selectionModel()->hasSelection();
    }
    // Runs in a forked unprivileged child: Disable I/F answered Yes must change nothing.
    static InterfacesPageNetns* self;
    static int disableInChild() {
        TfrmMain& w = *self->window;
        const std::size_t asked = self->prompts.messages.size();
        const int row = w.tsInterface->lvIfTable->selectionModel()->selectedRows().value(0).row();
        const QString before = self->text(row, 0);
        w.tsInterface->acDisableIFExecute();
        int faults = 0;
        // The question, and the refusal after it.
        if (self->prompts.messages.size() != asked + 2 ||
            self->prompts.messages[asked].caption != QLatin1String("Disable I/F") ||
            self->prompts.messages.back().text !=
                QStringLiteral("SetIfEntry failed: ") + resultText(ERROR_ACCESS_DENIED))
            faults |= 1;
        if (!self->anySelected())
            faults |= 2; // a refresh ran
        if (self->text(row, 0) != before)
            faults |= 4;
        return faults;
    }
    // Messages with this caption, or whose text begins with it.
    int count(const char* caption) const {
        int n = 0;
        for (const MessageRequest& m : prompts.messages)
            n += m.caption == QLatin1String(caption) || m.text.startsWith(QLatin1String(caption))
                     ? 1
                     : 0;
        return n;
    }
};

InterfacesPageNetns* InterfacesPageNetns::self = nullptr;

// The bound GetAdaptersInfo, and what happens right after it answered: the links go while the
// refresh still works through the list it got.
Entry<decltype(&::GetAdaptersInfo)> boundAdaptersInfo;
std::function<void()> afterAdaptersInfo;
DWORD adaptersInfoThenHook(IP_ADAPTER_INFO* info, ULONG* size) {
    const DWORD rc = boundAdaptersInfo(info, size);
    if (rc == NO_ERROR && afterAdaptersInfo)
        std::exchange(afterAdaptersInfo, {})();
    return rc;
}

std::string vethLinks(const char* verb, int n) {
    std::string batch;
    for (int i = 1; i <= n; ++i) {
        const std::string name = "vd" + std::to_string(i);
        if (std::string(verb) == "add")
            batch += "link add " + name + " type veth peer name " + name + "p\nlink set " + name +
                     " up\naddr add 10.77." + std::to_string(i) + ".1/24 dev " + name + "\n";
        else
            batch += "link del " + name + "\n";
    }
    return "printf '" + batch + "' | ip -batch -";
}

TEST_F(InterfacesPageNetns, RowsShowTheKernelsLinks) {
    CORVANE_REQUIRE_NETNS();
    refreshed();
    const int a = rowOf("ifa");
    const int b = rowOf("ifb");
    const int c = rowOf("ifc");
    const int lo = rowOf("lo");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(c, 0);
    ASSERT_GE(lo, 0);

    const std::string mac = trimmed(shOut("cat /sys/class/net/ifa/address"));
    QString expectMac = QString::fromStdString(mac).toUpper();
    expectMac.replace(QLatin1Char(':'), QLatin1Char('-'));
    const auto index = std::stoul(trimmed(shOut("cat /sys/class/net/ifa/ifindex")));
    EXPECT_EQ(text(a, 0), "enabled");
    EXPECT_EQ(text(a, 1), QStringLiteral("0x%1").arg(index, 0, 16).toUpper().replace("0X", "0x"));
    EXPECT_EQ(text(a, 2), expectMac);
    EXPECT_EQ(text(a, 3), "Ethernet");
    EXPECT_EQ(text(a, 5), "operational");
    EXPECT_EQ(word(a), 1);
    // Unsigned, without unit or grouping.
    bool numeric = false;
    text(a, 4).toULongLong(&numeric);
    EXPECT_TRUE(numeric) << text(a, 4).toStdString();

    EXPECT_EQ(text(b, 0), "enabled");
    EXPECT_EQ(text(b, 5), "Cable disconnected");
    EXPECT_EQ(word(b), 0);
    EXPECT_EQ(text(c, 0), "disabled");
    EXPECT_EQ(text(c, 5), "non-operational");
    EXPECT_EQ(word(c), 0);

    EXPECT_EQ(text(lo, 1), "0x1");
    EXPECT_EQ(text(lo, 2), "");
    EXPECT_EQ(text(lo, 3), "Loopback");

    // Rows are painted in the colour of their data word: silver text for ifb, black for ifa.
    TfrmMain& w = *window;
    w.resize(900, 500);
    w.pcMain->setCurrentWidget(w.tsInterface);
    const QImage picture = w.tsInterface->lvIfTable->viewport()->grab().toImage();
    const auto darkest = [&](int row) {
        const QRect cell =
            w.tsInterface->lvIfTable->visualRect(PageProbe::model(w.tsInterface)->index(row, 5));
        int least = 255;
        for (int y = cell.top() + 1; y < cell.bottom(); ++y)
            for (int x = cell.left() + 1; x < cell.right(); ++x)
                least = std::min(least, qGray(picture.pixel(x, y)));
        return least;
    };
    EXPECT_LT(darkest(a), 100);
    EXPECT_GE(darkest(b), 150);
}

TEST_F(InterfacesPageNetns, OptionsHideLoopbackAndOverrideOperStatus) {
    CORVANE_REQUIRE_NETNS();
    refreshed(true, true);
    EXPECT_EQ(rowOf("lo"), -1);
    const int b = rowOf("ifb");
    const int c = rowOf("ifc");
    ASSERT_GE(b, 0);
    EXPECT_EQ(text(b, 5), "Cable disconnected (!)");
    EXPECT_EQ(word(b), 1);
    EXPECT_EQ(text(c, 5), "non-operational (!)");
    EXPECT_EQ(text(rowOf("ifa"), 5), "operational");

    // The page's own toggle shows the option and brings the loopback row back.
    window->tsInterface->pmInterfaceMenuPopup();
    QAction* toggle = nullptr;
    for (QAction* x : window->tsInterface->pmInterfaceMenu->actions())
        if (x->objectName().startsWith("IgnoreLocalhost"))
            toggle = x;
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isChecked());
    toggle->trigger();
    EXPECT_GE(rowOf("lo"), 0);
}

TEST_F(InterfacesPageNetns, SelectionOffersTheMatchingAction) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    EXPECT_FALSE(w.acEnableIF->isEnabled());
    EXPECT_FALSE(w.acDisableIF->isEnabled());
    EXPECT_FALSE(w.acIfStats->isEnabled());

    QAction* popupStats = nullptr;
    for (QAction* x : w.tsInterface->pmInterfaceMenu->actions())
        if (x->objectName().startsWith("IFStatistics"))
            popupStats = x;
    ASSERT_NE(popupStats, nullptr);

    w.tsInterface->pmInterfaceMenuPopup(); // nothing selected
    EXPECT_FALSE(w.acEnableIF->isEnabled());
    EXPECT_FALSE(w.acDisableIF->isEnabled());
    EXPECT_FALSE(popupStats->isEnabled());

    w.tsInterface->lvIfTable->selectRow(rowOf("ifc"));
    EXPECT_TRUE(w.acEnableIF->isEnabled());
    EXPECT_FALSE(w.acDisableIF->isEnabled());
    EXPECT_TRUE(w.acIfStats->isEnabled());
    w.tsInterface->pmInterfaceMenuPopup();
    EXPECT_TRUE(w.acEnableIF->isEnabled());
    EXPECT_TRUE(w.acIfStats->isEnabled());
    EXPECT_FALSE(popupStats->isEnabled()); // statistics only for an enabled interface

    w.tsInterface->lvIfTable->selectRow(rowOf("ifa"));
    EXPECT_FALSE(w.acEnableIF->isEnabled());
    EXPECT_TRUE(w.acDisableIF->isEnabled());
    w.tsInterface->pmInterfaceMenuPopup();
    EXPECT_TRUE(popupStats->isEnabled());

    // The loopback row has no adapter node: the tree's selection stays.
    PageProbe::model(w.tsIP)->clear();
    PageProbe::model(w.tsIP)->appendRow(new QStandardItem(QStringLiteral("unrelated")));
    const QString descr = text(rowOf("ifa"), 6);
    PageProbe::model(w.tsIP)->appendRow(new QStandardItem(descr));
    w.tsIP->tvInfo->setCurrentIndex(PageProbe::model(w.tsIP)->index(0, 0));
    w.tsInterface->lvIfTable->selectRow(rowOf("lo"));
    EXPECT_EQ(w.tsIP->tvInfo->currentIndex().row(), 0);
    EXPECT_TRUE(w.acDisableIF->isEnabled());
    w.tsInterface->lvIfTable->selectRow(rowOf("ifa"));
    EXPECT_EQ(w.tsIP->tvInfo->currentIndex().data().toString(), descr);

    // A refill leaves nothing selected and the actions off.
    w.RefreshNetworkStatus();
    EXPECT_FALSE(anySelected());
    EXPECT_FALSE(w.acDisableIF->isEnabled());
    EXPECT_FALSE(w.acIfStats->isEnabled());
}

TEST_F(InterfacesPageNetns, DisableAsksAndEnableDoesNot) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    const QString descr = text(rowOf("ifa"), 6);

    // No: nothing changes, no refresh (the selection survives).
    w.tsInterface->lvIfTable->selectRow(rowOf("ifa"));
    prompts.answer(MsgAnswer::No);
    w.acDisableIF->trigger();
    ASSERT_EQ(count("Disable I/F"), 1);
    const MessageRequest& q = prompts.messages.back();
    EXPECT_EQ(q.text, "About to administratively disable interface \"" + descr +
                          "\"\n\nCAUTION!\nDisabling interfaces may corrupt network "
                          "connectivity!\n\nClick [Yes] to disable the interface.");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, MsgButtons::YesNo);
    EXPECT_EQ(q.defaultAnswer, MsgAnswer::No);
    EXPECT_EQ(w.pcMain->currentWidget(), w.tsInterface); // switched before asking
    EXPECT_TRUE(linkUp("ifa"));
    EXPECT_TRUE(anySelected());

    // Yes: the link goes down and the refresh shows it.
    w.pcMain->setCurrentWidget(w.tsRoutes);
    prompts.answer(MsgAnswer::Yes);
    w.acDisableIF->trigger();
    EXPECT_EQ(count("Disable I/F"), 2);
    EXPECT_FALSE(linkUp("ifa"));
    EXPECT_EQ(w.pcMain->currentWidget(), w.tsInterface);
    EXPECT_EQ(text(rowOf("ifa"), 0), "disabled");
    EXPECT_EQ(word(rowOf("ifa")), 0);
    EXPECT_FALSE(anySelected());

    // Enable needs no confirmation, even from another page.
    w.pcMain->setCurrentWidget(w.tsHost);
    w.tsInterface->lvIfTable->selectRow(rowOf("ifa"));
    ASSERT_TRUE(w.acEnableIF->isEnabled());
    w.acEnableIF->trigger();
    EXPECT_EQ(count("Disable I/F"), 2);
    EXPECT_TRUE(linkUp("ifa"));
    EXPECT_EQ(w.pcMain->currentWidget(), w.tsInterface);
    EXPECT_EQ(text(rowOf("ifa"), 0), "enabled");
    EXPECT_EQ(count("SetIfEntry failed: "), 0);
}

TEST_F(InterfacesPageNetns, RefusedChangeIsToldAndKeepsTheRow) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    // The link vanishes between the fill and the command: the platform refuses.
    const int row = rowOf("ifc");
    w.tsInterface->lvIfTable->selectRow(row);
    sh("ip link del ifc");
    const std::size_t before = prompts.messages.size();
    w.acEnableIF->trigger();
    ASSERT_EQ(prompts.messages.size(), before + 1);
    EXPECT_EQ(prompts.messages.back().text,
              QStringLiteral("SetIfEntry failed: ") + resultText(ERROR_DEV_NOT_EXIST));
    EXPECT_TRUE(anySelected()); // no refresh
    EXPECT_EQ(text(row, 0), "disabled");
}

TEST_F(InterfacesPageNetns, WithoutPrivilegeDisableSaysWhy) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    w.tsInterface->lvIfTable->selectRow(rowOf("ifa"));
    const auto index =
        static_cast<DWORD>(std::stoul(trimmed(shOut("cat /sys/class/net/ifa/ifindex"))));
    static DWORD childIndex = 0;
    childIndex = index;
    EXPECT_EQ(runUnprivileged(
                  [] { return SetInterfaceAdminStatus(childIndex, false) == NO_ERROR ? 1 : 0; }),
              0);
    EXPECT_TRUE(linkUp("ifa"));

    // The whole command in a copy of this process that lacks the privilege.
    self = this;
    prompts.answer(MsgAnswer::Yes);
    EXPECT_EQ(runUnprivileged(&InterfacesPageNetns::disableInChild), 0);
    EXPECT_TRUE(linkUp("ifa"));
}

TEST_F(InterfacesPageNetns, LinksThatVanishDuringARefreshShowOneBoxPerFailingCall) {
    CORVANE_REQUIRE_NETNS();
    constexpr int links = 40;
    TfrmMain& w = make();
    setRuntime({});
    boundAdaptersInfo = iphlp().GetAdaptersInfo;
    iphlp().GetAdaptersInfo.set(&adaptersInfoThenHook);
    for (int refresh = 1; refresh <= 2; ++refresh) {
        SCOPED_TRACE(refresh);
        sh(vethLinks("add", links));
        afterAdaptersInfo = [] { sh(vethLinks("del", links)); };
        w.RefreshNetworkStatus();
        EXPECT_FALSE(afterAdaptersInfo); // the links went in the middle of this refresh
        // Every vanished link failed its row's call; the next refresh may tell again.
        EXPECT_EQ(count("GetIfEntry failed: "), refresh);
    }
    iphlp().GetAdaptersInfo = boundAdaptersInfo;
}

TEST_F(InterfacesPageNetns, FailedTableReadKeepsTheRows) {
    qputenv("CORVANE_IPHLPAPI_LIB", "/nonexistent/libiphlpapi.so");
    TfrmMain& w = make();
    PageProbe::model(w.tsInterface)->appendRow(new QStandardItem(QStringLiteral("enabled")));
    w.tsInterface->lvIfTable->selectRow(0);
    w.tsInterface->FillInterfaceTable();
    EXPECT_EQ(PageProbe::model(w.tsInterface)->rowCount(), 1);
    ASSERT_EQ(count("GetIfTable failed: "), 1);
    EXPECT_EQ(prompts.messages.back().caption, "Error");
    EXPECT_FALSE(w.acEnableIF->isEnabled());
    EXPECT_FALSE(w.acDisableIF->isEnabled());
    EXPECT_FALSE(w.acIfStats->isEnabled());

    // Silenced by the option.
    options->change([](Options& o) { o.run.optNoErrorMessages = true; });
    w.tsInterface->FillInterfaceTable();
    EXPECT_EQ(count("GetIfTable failed: "), 1);
}

} // namespace
