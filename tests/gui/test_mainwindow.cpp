// The main window's start-up, first show, refresh, timers, tray commands and close.
#include "connections/connmodel.h"
#include "gui_fixture.h"
#include "shell/appidentity.h"
#include "wait_for.h"
#include "widgets/help.h"
#include "widgets/helpviewer.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardItemModel>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using namespace corvane;
using namespace corvane::test;

namespace {

using MainWindow = MainWindowFixture;

TEST_F(MainWindow, StartUpFollowsThePlatformVersion) {
    struct Case {
        const char* version;
        bool xp;
        const char* suffix; // end of the version text
        int columns;        // of lvConnections: the owner column only in the XP family
    };
    const Case cases[] = {
        {"4.10", false, ", not running on XP", 7},
        {"5.0", false, ", not running on XP", 7},
        {"5.1", true, ")", 8},
        {"5.2", true, ")", 8},
        {"6.0", false, ", running on Vista", 7},
    };
    for (const Case& c : cases) {
        qputenv("CORVANE_PLATFORM_VERSION", c.version);
        TfrmMain& w = make();
        EXPECT_EQ(w.xpFamily, c.xp) << c.version;
        EXPECT_TRUE(w.versionText.startsWith(QStringLiteral("Version 0.1.0  Build 1 (")))
            << w.versionText.toStdString();
        EXPECT_TRUE(w.versionText.endsWith(QString::fromLatin1(c.suffix))) << c.version;
        EXPECT_EQ(PageProbe::model(w.tsConnections)->columnCount(), c.columns) << c.version;
        EXPECT_EQ(static_cast<bool>(iphlp().AllocateAndGetTcpExTableFromStack), c.xp) << c.version;
        if (c.columns == 8) {
            EXPECT_EQ(PageProbe::model(w.tsConnections)->headerData(7, Qt::Horizontal).toString(),
                      "Owner Process");
            EXPECT_EQ(w.tsConnections->lvConnections->columnWidth(7), 115);
        }
        EXPECT_EQ(w.pcMain->currentWidget(), w.tsHost);
        EXPECT_EQ(w.helpContext(), 1100);
    }
}

TEST_F(MainWindow, NoOwnerColumnWithoutTheLibrary) {
    qputenv("CORVANE_IPHLPAPI_LIB", "/nonexistent/libiphlpapi.so");
    TfrmMain& w = make();
    EXPECT_TRUE(w.loadFailure.base);
    EXPECT_EQ(PageProbe::model(w.tsConnections)->columnCount(), 7);
}

TEST_F(MainWindow, AutomaticStartGoesToTheTrayOnlyAsAsked) {
    struct Case {
        QStringList args;
        bool minimise;
        bool trayAvailable;
        bool tray; // tray mode and started-to-tray expected
    };
    const Case cases[] = {
        {{"-a"}, true, true, true},
        {{"-a"}, false, true, false},
        {{"-A"}, true, true, false},
        {{"-x", "-a"}, true, true, false},
        {{}, true, true, false},
        // No notification area: the window must stay reachable.
        {{"-a"}, true, false, false},
    };
    for (const Case& c : cases) {
        setOption(Option::Minimized, c.minimise);
        storeOptions();
        FakeTray tray(c.trayAvailable);
        TfrmMain& w = make(c.args, &tray);
        EXPECT_EQ(w.trayMode, c.tray) << c.args.join(' ').toStdString();
        EXPECT_EQ(w.startedToTray, c.tray);
        EXPECT_EQ(tray.shown, c.tray);
        window.reset();
    }
}

TEST_F(MainWindow, AutoRunStartHidesTwoSecondsAfterTheFirstShow) {
    setOption(Option::Minimized, true);
    setOption(Option::AutoRun, true);
    storeOptions();
    FakeTray tray(true);
    TfrmMain& w = make({"-a"}, &tray);
    showAndSettle();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.tmrHide->isActive());
    EXPECT_EQ(w.tmrHide->interval(), 2000);
    w.tmrHideTimer();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.tmrHide->isActive());
    EXPECT_TRUE(tray.shown);
}

// Whatever icon the window gets, it is handed the window, the menu and the pictures, and its
// news of the notification area reaches the tray actions.
TEST_F(MainWindow, ATrayIsHandedTheWindowItsMenuAndItsCommands) {
    FakeTray tray(true);
    TfrmMain& w = make({}, &tray);
    EXPECT_EQ(tray.wiring.window, &w);
    EXPECT_EQ(tray.wiring.menu, w.pmTrayMenu);
    EXPECT_EQ(tray.wiring.frames, &w.ilTreeImages);
    EXPECT_FALSE(tray.wiring.icon.isNull());
    EXPECT_TRUE(tray.wiring.restore);
    ASSERT_TRUE(tray.wiring.availabilityChanged);
    EXPECT_TRUE(w.acTray->isEnabled());
    tray.wiring.availabilityChanged(false);
    EXPECT_FALSE(w.acTray->isEnabled());
    tray.wiring.availabilityChanged(true);
    EXPECT_TRUE(w.acTray->isEnabled());
}

TEST_F(MainWindow, FirstShowRefreshesThenReportsTheLoadFailureOnce) {
    qputenv("CORVANE_IPHLPAPI_LIB", FAKE_NO_TCP);
    TfrmMain& w = make();
    std::vector<size_t> messagesAtRefresh;
    w.refresh->setFill(FillStep::InterfaceTable,
                       [&] { messagesAtRefresh.push_back(prompts.messages.size()); });
    EXPECT_TRUE(w.firstShowPending());
    showAndSettle();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Couldn't load DLL functions  [Code = 0x00004000]");
    EXPECT_EQ(prompts.messages[0].caption, "Oops");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(messagesAtRefresh, std::vector<size_t>{0}); // the refresh came first
    EXPECT_FALSE(w.firstShowPending());
    // An empty store: the defaults were written and loaded, and they govern now.
    EXPECT_TRUE(currentOptions().on(Option::AutoUpdate));
    EXPECT_TRUE(w.tmrAutoUpdate->isActive());
    EXPECT_TRUE(currentOptions().run.optIgnoreLocalhost);

    w.hide();
    showAndSettle(); // a restore refreshes but reloads and reports nothing
    EXPECT_EQ(messagesAtRefresh.size(), 2u);
    EXPECT_EQ(prompts.messages.size(), 1u);
}

// The window reads the store before the program can show a box: what the store has to say
// waits for the window, as the program installs its prompter only once the window exists.
TEST_F(MainWindow, StoreNoticesWaitForTheWindowAndAreShownOnce) {
    const QString folder = dir.filePath(QStringLiteral("store"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(folder + QStringLiteral("/machine.reg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[SYSTEM\\Routes]\n\"1,2,3,4\" = dword:1\n");
    file.close();

    setPrompter(nullptr);
    TfrmMain& w = make();
    setPrompter(&prompts);
    EXPECT_TRUE(prompts.messages.empty());
    showAndSettle();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Warning);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("line 2: unknown value type")))
        << prompts.messages[0].text.toStdString();
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("machine.reg.corrupt-")));

    w.hide();
    showAndSettle();
    options->load();
    EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(MainWindow, FirstShowAppliesTheStoredOptions) {
    setOption(Option::Toolbar, false);
    setOption(Option::AutoUpdate, false);
    setOption(Option::AutoSaveSize, true);
    setOption(Option::NoErrorMessages, true);
    setOption(Option::EstablishedOnly, true);
    options->change([](Options& o) {
        o.storedWidth = 812;
        o.storedHeight = 533;
    });
    storeOptions();
    // The value in effect is something else until the load.
    setOption(Option::Toolbar, true);
    setOption(Option::AutoSaveSize, false);
    TfrmMain& w = make();
    showAndSettle();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(w.ToolBar1->isHidden());
    EXPECT_FALSE(w.tmrAutoUpdate->isActive());
    EXPECT_EQ(w.size(), QSize(812, 533));
    EXPECT_TRUE(currentOptions().run.optNoErrorMessages);
    EXPECT_TRUE(currentOptions().run.optEstablishedOnly);
    EXPECT_FALSE(currentOptions().run.optIgnoreLocalhost);
}

TEST_F(MainWindow, FirstAutoUpdateTickRefreshesWithTheReport) {
    setOption(Option::OverwriteReport, false);
    setOption(Option::AutoUpdate, true);
    storeOptions();
    TfrmMain& w = make();
    int reports = 0;
    w.refresh->setFill(FillStep::Report, [&] { ++reports; });
    showAndSettle();
    EXPECT_EQ(reports, 0); // the show's refresh leaves the report alone
    // The real library's counts differ from the zero start: the first tick reports.
    EXPECT_TRUE(corvane::test::waitFor([&] { return reports > 0; }, 10'000));
    EXPECT_EQ(reports, 1);
}

TEST_F(MainWindow, RefreshEntryIsDisabledOnlyWhileFilling) {
    TfrmMain& w = make();
    w.setPanelText(0, QStringLiteral("before"));
    bool item = true, action = false;
    QString panel;
    w.refresh->setFill(FillStep::RouteTable, [&] {
        item = w.Refresh1->isEnabled();
        action = w.acRefresh->isEnabled();
        panel = w.panelText(0);
    });
    w.acRefresh->trigger();
    EXPECT_FALSE(item);
    EXPECT_TRUE(action); // tool button and context entries stay usable
    EXPECT_EQ(panel, "Refreshing network status information...");
    EXPECT_TRUE(w.Refresh1->isEnabled());
    EXPECT_EQ(w.panelText(0), "before");
}

TEST_F(MainWindow, RefreshRequestedDuringARefreshWaitsAndRunsAgain) {
    TfrmMain& w = make();
    int fills = 0;
    QString sampled;
    w.refresh->setFill(FillStep::InterfaceTable, [&] {
        if (++fills == 1) {
            // The user presses Refresh while this fill lets messages run.
            QTimer::singleShot(0, w.acRefresh, &QAction::trigger);
            QTimer::singleShot(400, &w, [&] { sampled = w.panelText(0); });
            QCoreApplication::processEvents();
        }
    });
    w.acRefresh->trigger();
    EXPECT_EQ(sampled, "Refreshing network status information... pending");
    EXPECT_EQ(fills, 2);
    EXPECT_FALSE(w.refresh->busy());
}

TEST_F(MainWindow, UptimeLabelChangesOnlyOnTheHostPage) {
    TfrmMain& w = make();
    w.pcMain->setCurrentWidget(w.tsRoutes);
    w.tsHost->lblUptime->setText(QStringLiteral("unchanged"));
    w.tmrUptimeTimer();
    EXPECT_EQ(w.tsHost->lblUptime->text(), "unchanged");
    w.pcMain->setCurrentWidget(w.tsHost);
    w.tmrUptimeTimer();
    EXPECT_TRUE(w.tsHost->lblUptime->text().endsWith(QStringLiteral("sec.")));
    EXPECT_TRUE(w.tmrUptime->isActive());
}

TEST_F(MainWindow, HelpOpensTheActivePagesTopic) {
    TfrmMain& w = make();
    const std::pair<QWidget*, int> pages[] = {
        {w.tsRoutes, 1400},    {w.tsHost, 1100},        {w.tsIP, 1200},
        {w.tsInterface, 1300}, {w.tsConnections, 1450}, {w.tsReport, 1500},
    };
    for (const auto& [page, context] : pages) {
        w.pcMain->setCurrentWidget(page);
        EXPECT_EQ(w.helpContext(), context);
        w.Help1->trigger(); // the F1 entry
        ASSERT_NE(helpViewer(), nullptr);
        EXPECT_EQ(helpViewer()->currentContext(), context);
    }
    w.Help2->trigger(); // the tray menu's entry, whatever the page
    EXPECT_EQ(helpViewer()->currentContext(), 1000);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(MainWindow, MissingHelpFileIsReported) {
    TfrmMain& w = make();
    qputenv("CORVANE_HELP_FILE", dir.filePath(QStringLiteral("none.hlp")).toLocal8Bit());
    w.acHelp->trigger();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("none.hlp")));
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
}

TEST_F(MainWindow, AboutShowsTheVersionText) {
    TfrmMain& w = make();
    w.acAbout->trigger();
    EXPECT_EQ(modals, std::vector<QString>{QStringLiteral("frmAbout")});
    EXPECT_EQ(frmAbout->VerLabel->text(), w.versionText);
    EXPECT_FALSE(w.versionText.isEmpty());
}

TEST_F(MainWindow, AcceptedOptionsApplyAndRefreshCancelledDoNot) {
    TfrmMain& w = make();
    int* count = countRefreshes();
    w.resize(700, 450);
    beforeModalAnswer = [&](QDialog&) {
        EXPECT_EQ(currentOptions().storedWidth, 700);
        EXPECT_EQ(currentOptions().storedHeight, 450);
        frmSetup->box(Option::Toolbar)->setChecked(false);
        frmSetup->box(Option::AutoUpdate)->setChecked(true);
        frmSetup->box(Option::IgnoreBroadcasts)->setChecked(true);
        if (modalAnswer == QDialog::Accepted)
            frmSetup->Button1Click();
        else
            frmSetup->reject();
    };
    modalAnswer = QDialog::Rejected;
    w.acSetup->trigger();
    EXPECT_EQ(*count, 0);
    EXPECT_FALSE(w.ToolBar1->isHidden());
    EXPECT_FALSE(currentOptions().run.optIgnoreBroadcasts);

    modalAnswer = QDialog::Accepted;
    w.acSetup->trigger();
    EXPECT_EQ(*count, 1);
    EXPECT_TRUE(w.ToolBar1->isHidden());
    EXPECT_TRUE(currentOptions().run.optIgnoreBroadcasts);
    EXPECT_TRUE(w.tmrAutoUpdate->isActive());
}

TEST_F(MainWindow, IgnoreTogglesInvertTheOptionAndRefresh) {
    TfrmMain& w = make();
    int* count = countRefreshes();
    const std::pair<const char*, bool RuntimeOptions::*> toggles[] = {
        {"IgnoreLocalhost1", &RuntimeOptions::optIgnoreLocalhost},
        {"IgnoreLocalhost2", &RuntimeOptions::optIgnoreLocalhost},
        {"IgnoreLocalhost3", &RuntimeOptions::optIgnoreLocalhost},
        {"IgnoreBroadcasts1", &RuntimeOptions::optIgnoreBroadcasts},
    };
    int expected = 0;
    for (const auto& [name, option] : toggles) {
        const bool before = currentOptions().run.*option;
        w.item(QString::fromLatin1(name))->trigger();
        EXPECT_NE(currentOptions().run.*option, before) << name;
        EXPECT_EQ(*count, ++expected) << name;
    }
}

TEST_F(MainWindow, RouteModificationIsAnnouncedAfterItsRefresh) {
    TfrmMain& w = make();
    size_t messagesAtRefresh = 99;
    w.refresh->setFill(FillStep::RouteTable, [&] { messagesAtRefresh = prompts.messages.size(); });
    w.tmrModifyUpdate->start();
    w.tmrModifyUpdateTimer();
    EXPECT_FALSE(w.tmrModifyUpdate->isActive());
    EXPECT_EQ(messagesAtRefresh, 0u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Route successfully modified.");
    EXPECT_EQ(prompts.messages[0].caption, "Success");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Information);
}

TEST_F(MainWindow, TrayCommandsNeverStrandTheWindow) {
    {
        TfrmMain& w = make();
        w.show();
        w.acTray->trigger(); // no notification area at all
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.trayMode);
    }
    FakeTray tray(true);
    TfrmMain& w = make({}, &tray);
    w.show();
    w.acTray->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.trayMode);
    w.acRestoreFromTray->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.trayMode); // "Show" keeps the icon and tray mode
    w.acUnTray->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.trayMode);
    EXPECT_FALSE(tray.shown);
}

TEST_F(MainWindow, StatusTipsGoToPanelZero) {
    TfrmMain& w = make();
    QStatusTipEvent tip(QStringLiteral("Refresh all information"));
    QCoreApplication::sendEvent(w.tsRoutes->lvFwTable, &tip);
    EXPECT_EQ(w.panelText(0), "Refresh all information");
    EXPECT_TRUE(w.panelText(1).isEmpty());
}

TEST_F(MainWindow, CloseSavesTheSizeAndReleasesTheLibrary) {
    setOption(Option::AutoSaveSize, true);
    options->change([](Options& o) {
        o.storedWidth = 731;
        o.storedHeight = 460;
    });
    storeOptions();
    TfrmMain& w = make();
    showAndSettle();
    w.resize(760, 480);
    ASSERT_TRUE(iphlp().ipHelperLoaded());
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(iphlp().ipHelperLoaded());
    EXPECT_FALSE(w.tmrAutoUpdate->isActive());
    EXPECT_FALSE(w.tmrUptime->isActive());
    // The next start finds the size.
    options->change([](Options& o) { o.storedWidth = o.storedHeight = 0; });
    ASSERT_TRUE(options->load());
    EXPECT_EQ(currentOptions().storedWidth, 760);
    EXPECT_EQ(currentOptions().storedHeight, 480);
}

} // namespace

namespace {

// A display name, once set, is appended to every caption by Qt ("Error — Corvane"); the
// program names itself without one, so the name shown is the application name only.
TEST(ApplicationIdentity, LeavesCaptionsAsTheyAre) {
    guiApp();
    setApplicationIdentity();
    EXPECT_EQ(QCoreApplication::applicationName(), "Corvane");
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
    setApplicationIdentity();
}

} // namespace
