// The Options dialog on the offscreen platform: its pages, help, and how Ok, Cancel and the
// two click handlers meet the settings store.
#include "recording_prompter.h"
#include "registry/location.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "session/settingslogic.h"
#include "shell/frmsetup.h"
#include "widgets/helpviewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;
using namespace corvane;

namespace {

class SetupDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_setup";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }

    SetupDialogTest() {
        std::string templ = (fs::temp_directory_path() / "corvane-setup-XXXXXX").string();
        dir = ::mkdtemp(templ.data());
        ::setenv(reg::kConfigDirVariable, (dir / "etc").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "xdg").c_str(), 1);
        resetMachineStore();
        options.mainWindowSize = [] { return QSize(900, 600); };
        dialog = std::make_unique<TfrmSetup>(options);
    }
    ~SetupDialogTest() override {
        dialog.reset();
        resetMachineStore();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // What the main window's first show does.
    void firstLoad() {
        if (!options.load())
            options.load();
    }
    reg::Key settingsKey() { return *machineStore().open(kSettingsKey, true); }
    std::optional<std::string> startupValue() {
        const auto run = machineStore().open(kStartupListKey, false);
        return run ? run->readString(kStartupValueName) : std::nullopt;
    }

    fs::path dir;
    test::RecordingPrompter prompts;
    OptionsStore options;
    std::unique_ptr<TfrmSetup> dialog;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST_F(SetupDialogTest, PagesAndHelpTopics) {
    EXPECT_EQ(dialog->windowTitle(), "Options");
    EXPECT_GE(dialog->width(), 338);
    EXPECT_GE(dialog->height(), 245);
    ASSERT_EQ(dialog->pcOptions->count(), 4);
    const QStringList tabs = {"Appearance", "Options", "Start && Close", "Logging"};
    const int boxes[] = {5, 9, 4, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dialog->pcOptions->tabText(i), tabs[i]);
        EXPECT_EQ(dialog->pcOptions->widget(i)->findChildren<QCheckBox*>().size(), boxes[i]);
    }
    EXPECT_EQ(dialog->pcOptions->currentIndex(), 0);
    EXPECT_TRUE(dialog->Button1->isDefault());
    // All unchecked until the first load; "Minimize" waits for "Auto Run".
    for (const QCheckBox* b : dialog->findChildren<QCheckBox*>())
        EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
    EXPECT_FALSE(dialog->box(Option::Minimized)->isEnabled());

    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    // Whatever the desktop font, no caption is cut off and no tab hides behind scroll buttons.
    for (int i = 0; i < 4; ++i) {
        dialog->pcOptions->setCurrentIndex(i);
        for (const QCheckBox* b : dialog->pcOptions->widget(i)->findChildren<QCheckBox*>()) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->objectName().toStdString();
            EXPECT_TRUE(dialog->pcOptions->widget(i)->rect().contains(b->geometry()))
                << b->objectName().toStdString();
        }
    }
    const QTabBar* bar = dialog->pcOptions->tabBar();
    EXPECT_LE(bar->tabRect(3).right(), bar->width());
    struct Case {
        int page;
        QWidget* focus;
        int context;
    };
    const Case cases[] = {
        {3, dialog->box(Option::IpLogging), 9320},
        {2, dialog->box(Option::CloseMode), 9130},
        {1, dialog->Button1, 9040}, // no topic of its own: the page's first box
    };
    for (const Case& c : cases) {
        dialog->pcOptions->setCurrentIndex(c.page);
        c.focus->setFocus();
        EXPECT_EQ(dialog->currentHelpContext(), c.context);
    }
    dialog->pcOptions->setCurrentIndex(3);
    dialog->activateWindow(); // shortcuts answer in the active window only
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->box(Option::IpLogging)->setFocus();
    QTest::keyClick(dialog->box(Option::IpLogging), Qt::Key_F1);
    ASSERT_NE(helpViewer(), nullptr);
    EXPECT_TRUE(helpViewer()->isVisible());
    if (helpViewer()->hasTopic(9320)) {
        EXPECT_EQ(helpViewer()->currentContext(), 9320);
    }
    helpViewer()->close();
}

// Help asked for in the modal Options dialog must be readable while the dialog stays open:
// a window the modal dialog blocks takes no scrolling and no clicks.
TEST_F(SetupDialogTest, HelpFromTheModalDialogIsNotBlockedByIt) {
    struct BlockedWindows : QObject {
        std::vector<QObject*> seen;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::WindowBlocked)
                seen.push_back(o);
            return false;
        }
    } blocked;
    qApp->installEventFilter(&blocked);
    QWidget main;
    main.show();
    dialog->setParent(&main, Qt::Dialog);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    QCoreApplication::processEvents();
    ASSERT_NE(helpViewer(), nullptr);
    EXPECT_TRUE(helpViewer()->isVisible());
    EXPECT_EQ(std::count(blocked.seen.begin(), blocked.seen.end(), helpViewer()), 0);
    EXPECT_TRUE(std::count(blocked.seen.begin(), blocked.seen.end(), &main) > 0);
    qApp->removeEventFilter(&blocked);
    helpViewer()->close();
    dialog->hide();
    dialog->setParent(nullptr);
}

TEST_F(SetupDialogTest, CancelShowsTheStoredValuesAgainAndOkSavesThem) {
    firstLoad();
    ASSERT_TRUE(dialog->box(Option::AutoUpdate)->isChecked());
    dialog->show();
    dialog->box(Option::AutoUpdate)->click();
    dialog->box(Option::CloseMode)->click();
    dialog->box(Option::IpLogging)->click();
    dialog->Button2->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->box(Option::AutoUpdate)->isChecked());
    EXPECT_FALSE(dialog->box(Option::CloseMode)->isChecked());
    EXPECT_FALSE(dialog->box(Option::IpLogging)->isChecked());
    EXPECT_EQ(settingsKey().readInteger("Close immediately"), 0);

    // Escape cancels the same way; the close box goes through the same reject().
    dialog->show();
    dialog->box(Option::Toolbar)->click();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->box(Option::Toolbar)->isChecked());

    dialog->show();
    dialog->box(Option::AutoUpdate)->click();
    dialog->box(Option::CloseMode)->click();
    dialog->box(Option::IpLogging)->click();
    dialog->box(Option::ShowInactiveRoutes)->click();
    dialog->Button1->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    reg::Key key = settingsKey();
    EXPECT_EQ(key.readInteger("Auto update"), 0);
    EXPECT_EQ(key.readInteger("Close immediately"), 1);
    EXPECT_EQ(key.readInteger("Log IP Addresses"), 1);
    EXPECT_EQ(key.readInteger("Show incactive persistent routes"), 0);
    EXPECT_EQ(startupValue(), std::nullopt) << "Auto Run was not clicked";

    OptionsStore freshOptions; // a new process: the close mode arrives at creation
    TfrmSetup fresh(freshOptions);
    EXPECT_TRUE(fresh.box(Option::CloseMode)->isChecked());
    EXPECT_TRUE(freshOptions.load());
    EXPECT_FALSE(fresh.box(Option::AutoUpdate)->isChecked());
    EXPECT_TRUE(fresh.box(Option::IpLogging)->isChecked());
    EXPECT_TRUE(prompts.messages.empty());
}

// The boxes are a copy: the options in effect change once, on Ok, and the run-time options
// follow the stored ones only then.
TEST_F(SetupDialogTest, TheDialogEditsACopyAndCommitsItOnOk) {
    firstLoad();
    options.change([](Options& o) { o.run.optIgnoreLocalhost = false; }); // a popup toggle
    QSignalSpy changed(&options, &OptionsStore::changed);
    dialog->show();
    dialog->box(Option::ColoredTables)->click();
    dialog->box(Option::EstablishedOnly)->click();
    EXPECT_TRUE(options.value().on(Option::ColoredTables));
    EXPECT_EQ(changed.count(), 0);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_FALSE(options.value().run.optIgnoreLocalhost) << "Cancel keeps the toggles";

    dialog->show();
    EXPECT_TRUE(dialog->box(Option::ColoredTables)->isChecked())
        << "a new showing starts from the value";
    dialog->box(Option::ColoredTables)->click();
    dialog->box(Option::EstablishedOnly)->click();
    dialog->Button1->click();
    ASSERT_EQ(changed.count(), 1);
    const Options now = options.value();
    EXPECT_FALSE(now.on(Option::ColoredTables));
    EXPECT_TRUE(now.on(Option::EstablishedOnly));
    EXPECT_TRUE(now.run.optEstablishedOnly);
    EXPECT_TRUE(now.run.optIgnoreLocalhost) << "Ok copies the stored options into effect";
    EXPECT_EQ(changed.at(0).at(0).value<Options>(), now);
}

TEST_F(SetupDialogTest, AutoRunClicksDecideTheStartupEntry) {
    firstLoad();
    const std::string exe = fs::read_symlink("/proc/self/exe").string();

    dialog->show();
    dialog->box(Option::AutoRun)->click();
    EXPECT_TRUE(dialog->box(Option::Minimized)->isEnabled());
    dialog->box(Option::Minimized)->click();
    dialog->Button1->click();
    EXPECT_EQ(startupValue(), exe + " -a");
    EXPECT_EQ(slurp(reg::userConfigHome() / "autostart" / "corvane.desktop").find("Hidden"),
              std::string::npos);

    // Back to where it was still counts as a change and rewrites the entry.
    machineStore().open(kStartupListKey, true)->writeString(kStartupValueName, "edited");
    dialog->show();
    dialog->box(Option::AutoRun)->click();
    EXPECT_FALSE(dialog->box(Option::Minimized)->isEnabled());
    dialog->box(Option::AutoRun)->click();
    dialog->Button1->click();
    EXPECT_EQ(startupValue(), exe + " -a");

    // Each showing starts afresh: Ok without a click leaves the entry alone.
    machineStore().open(kStartupListKey, true)->writeString(kStartupValueName, "edited");
    dialog->show();
    dialog->Button1->click();
    EXPECT_EQ(startupValue(), "edited");

    dialog->show();
    dialog->box(Option::AutoRun)->click();
    dialog->Button1->click();
    EXPECT_EQ(startupValue(), "REM " + exe + " -a");
    const std::string entry = slurp(reg::userConfigHome() / "autostart" / "corvane.desktop");
    EXPECT_NE(entry.find("Hidden=true"), std::string::npos) << entry;
}

TEST_F(SetupDialogTest, ResolutionWarningOnlyWhenTheUserChecksTheBox) {
    firstLoad();
    settingsKey().writeInteger("Resolve IP Addresses", 1);
    EXPECT_TRUE(options.load());
    EXPECT_TRUE(dialog->box(Option::ResolveAddresses)->isChecked());
    EXPECT_TRUE(prompts.messages.empty());

    dialog->show();
    dialog->pcOptions->setCurrentIndex(1);
    dialog->box(Option::ResolveAddresses)->click(); // unchecking says nothing
    EXPECT_TRUE(prompts.messages.empty());
    dialog->box(Option::ResolveAddresses)->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    const MessageRequest& m = prompts.messages[0];
    EXPECT_EQ(m.text, "Host name resolution can block the program for a significant amount of "
                      "time\nbecause it works synchronously.\n\nIt is recommended to disable this "
                      "function, particularly if the program\nshall be automatically started "
                      "upon system boot.");
    EXPECT_TRUE(m.caption.isEmpty());
    EXPECT_EQ(m.icon, MsgIcon::Warning);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);

    // Shots of the four pages for a look by eye, when asked for.
    if (const char* shots = std::getenv("CORVANE_SHOT_DIR")) {
        for (int i = 0; i < 4; ++i) {
            dialog->pcOptions->setCurrentIndex(i);
            dialog->grab().save(QStringLiteral("%1/options-page%2.png").arg(shots).arg(i + 1));
        }
    }
}

namespace {

// The address log sits beside the settings, wherever the store settled.
TEST_F(SetupDialogTest, LoggingPageNamesTheLogFile) {
    dialog->show();
    EXPECT_EQ(dialog->lblLogPath->text().toStdString(),
              "Log file: " + (dir / "etc" / "iplog.txt").string());
    dialog->hide();
    // A machine folder that cannot be made: the per-user folder takes the store and the log.
    ::unsetenv(reg::kConfigDirVariable);
    std::ofstream(dir / "plain-file") << "x";
    resetMachineStore(dir / "plain-file" / "corvane");
    dialog->show();
    EXPECT_EQ(dialog->lblLogPath->text().toStdString(),
              "Log file: " + (dir / "xdg" / "corvane" / "iplog.txt").string());
    dialog->hide();
    takeStoreNotices();
}

} // namespace

// The boxes come from the option rows: each row's box once, on its page, in tab order, and
// the pages read as they always have.
TEST_F(SetupDialogTest, EveryBoxIsItsOptionsRow) {
    QStringList shown;
    for (int i = 0; i < dialog->pcOptions->count(); ++i) {
        const QWidget* page = dialog->pcOptions->widget(i);
        shown << page->objectName() + " " + dialog->pcOptions->tabText(i);
        for (const QCheckBox* b : page->findChildren<QCheckBox*>())
            shown << QStringLiteral("  %1 | %2 | %3 | %4")
                         .arg(b->objectName(), b->text(), b->toolTip(),
                              QString::number(b->property("helpContext").toInt()));
    }
    EXPECT_EQ(shown.join('\n').toStdString(), R"(tsAppearance Appearance
  cbxAutoUpdate | Auto update | Toggle automatic information update behaviour | 9010
  cbxAutoExpand | Auto expand IP info tree | Force IP info tree to expanded mode | 9025
  cbxToolbar | Show Toolbar | Toggle tool bar appearance | 9070
  cbxColoredFwTable | Colored tables | Highlight items in Routes and NetStat tables | 9030
  cbxNoErrMsg | Disable Error Messages | Disable error messages | 9065
tsOptions Options
  cbxIgnoreLocalhost | Ignore localhost | Toggle localhost reporting | 9040
  cbxIgnoreBCasts | Ignore broadcast addresses | Toggle broadcast reporting | 9050
  cbxResolvePortNumbers | Resolve Port Numbers | Resolve port numbers into names | 9100
  cbxResolveIPAddresses | Resolve IP Addresses | Resolve IP addresses into names | 9110
  cbxEstablishedOnly | Established TCP conns. | Show only established TCP connections | 9120
  cbxAutoIPRemove | Remove dead IP | Automatically remove dead secondary IP addresses | 9140
  cbxShowInactivePRoutes | Inactive persistent routes | Show inactive persistent routes | 9170
  cbxShowIPv6 | Show IPv6 | Show IPv6 addresses, routes and connections | 9180
  cbxAllRoutingTables | All routing tables | Show the routes of every routing table and the policy rules | 9190
tsStart Start && Close
  cbxAutoSaveSize | Auto save size | Auto save main window size | 9020
  cbxAutoRun | Auto Run | Starts the program upon system boot | 9080
  cbxMinimized | Minimize upon Auto Run | Minimize program into system tray | 9090
  cbxCloseMode | Close immediately | Forces Corvane to close immediately when running in TNA | 9130
tsLogging Logging
  cbxOverwriteReport | Overwrite report | Overwrite or append report text | 9060
  cbxIPLogging | IP Address Logging |  | 9320)");

    for (const OptionRow& row : kOptionRows) {
        QCheckBox* b = dialog->box(row.option);
        ASSERT_EQ(b != nullptr, row.box != nullptr) << row.valueName;
        if (!b)
            continue;
        EXPECT_EQ(b->objectName(), row.box);
        EXPECT_EQ(b->statusTip(), b->toolTip());
        // A box and its option move together, both ways.
        Options o = options.value();
        o.set(row.option, !o.on(row.option));
        dialog->showOptions(o);
        EXPECT_EQ(b->isChecked(), o.on(row.option)) << row.box;
        EXPECT_EQ(dialog->edited().flags, o.flags) << row.box;
    }
    // The second column starts at the top beside the first.
    dialog->show();
    dialog->pcOptions->setCurrentIndex(1);
    const QCheckBox* second = dialog->box(Option::ShowInactiveRoutes);
    EXPECT_EQ(second->y(), dialog->box(Option::IgnoreLocalhost)->y());
    EXPECT_GT(second->x(), dialog->box(Option::IgnoreLocalhost)->geometry().right());
    dialog->hide();
}
