// The notification area for real: an X server of the test's own (Xvfb) with trayer as the
// tray host. The icon is embedded in trayer's panel, a right press on it opens the tray menu,
// a double click shows the window; without the host the tray stays out of reach. The program
// itself, told SIGTERM while its exit dialog is open, ends cleanly with its size saved.
#include "shell/trayicon.h"
#include "tray_host.h"
#include "wm_screen.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// Xvfb on a display it picks itself, for the whole test program; no window manager.
[[maybe_unused]] auto* const xserver = ::testing::AddGlobalTestEnvironment(new XScreen(false));

void saveScreen(const QString& name) {
    const QString dir = qEnvironmentVariable("CORVANE_SHOTS_DIR");
    if (!dir.isEmpty())
        QGuiApplication::primaryScreen()->grabWindow(0).save(dir + QLatin1Char('/') + name);
}

TEST_F(TrayHost, WithoutAHostTheTrayIsOutOfReachAndAnAutoStartStaysShown) {
    guiApp();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    setOption(Option::Minimized, true);
    setOption(Option::AutoRun, true);
    storeOptions();
    TsxTrayIcon tray;
    TfrmMain& w = make({QStringLiteral("-a")}, &tray);
    EXPECT_FALSE(w.trayMode);
    EXPECT_FALSE(w.acTray->isEnabled());
    EXPECT_TRUE(w.acTray->statusTip().startsWith(QStringLiteral("No notification area")));
    showAndSettle();
    EXPECT_FALSE(w.tmrHide->isActive());
    waitFor([] { return false; }, 2500); // past the hide timer's two seconds
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(tray.iconShown());
}

TEST_F(TrayHost, IconInTheHostAnswersTheMouseAndTheWindowComesBackWhenTheHostGoes) {
    guiApp();
    startTrayer();
    TsxTrayIcon tray;
    TfrmMain& w = make({}, &tray);
    showAndSettle();
    ASSERT_TRUE(w.acTray->isEnabled());
    w.acTray->trigger();
    EXPECT_TRUE(w.trayMode);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(tray.tip(), shortenedHint(w.applicationTitle));

    WId icon = 0;
    Placement at;
    ASSERT_TRUE(waitForEmbeddedIcon(icon, at)) << "the icon was not embedded in trayer's panel";
    EXPECT_GT(at.centre.x(), 1024 - 120);
    EXPECT_LT(at.centre.y(), 32);
    const QString x = QString::number(at.centre.x());
    const QString y = QString::number(at.centre.y());

    // A left press fires its event and nothing else.
    int leftDowns = 0;
    QObject::connect(&tray, &TsxTrayIcon::OnLeftBtnDown, [&] { ++leftDowns; });
    xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitFor([&] { return leftDowns == 1; }));
    waitFor([] { return false; }, 700); // no double click with what follows
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.pmTrayMenu->isVisible());

    xdotool({QStringLiteral("click"), QStringLiteral("3")});
    ASSERT_TRUE(waitFor([&] { return w.pmTrayMenu->isVisible(); }))
        << "a right press did not open the tray menu";
    EXPECT_TRUE(w.pmTrayMenu->geometry().contains(at.centre) ||
                w.pmTrayMenu->geometry().top() >= at.centre.y() - 2);
    waitFor([] { return false; }, 200);
    saveScreen(QStringLiteral("tray_menu.png"));
    w.pmTrayMenu->hide();
    EXPECT_FALSE(w.isVisible());

    xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
             QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("1")});
    EXPECT_TRUE(waitFor([&] { return w.isVisible(); })) << "a double click did not show it";
    EXPECT_TRUE(w.trayMode); // "Show" leaves the icon

    w.acTray->trigger();
    ASSERT_FALSE(w.isVisible());
    stopTrayer();
    EXPECT_TRUE(waitFor([&] { return w.isVisible(); }, 4000))
        << "the window stayed hidden after the tray host went";
    EXPECT_FALSE(w.trayMode);
    EXPECT_FALSE(w.acTray->isEnabled());
}

// The embedded icon of another process: the small "Corvane" window inside trayer's panel.
std::optional<QPoint> programIcon() {
    const QString tree =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression line(QStringLiteral(
        R"(\n\s{8,}0x[0-9a-f]+ "Corvane": \("corvane" "Corvane"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(\d+)\+(\d+))"));
    const auto m = line.match(tree);
    if (!m.hasMatch())
        return std::nullopt;
    return QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                  m.captured(4).toInt() + m.captured(2).toInt() / 2);
}

QString visibleWindow(const QString& name) {
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                name})
        .trimmed();
}

TEST_F(TrayHost, TerminatedWhileTheExitDialogIsOpenTheProgramEndsWithItsSizeSaved) {
    guiApp();
    startTrayer();
    setOption(Option::Minimized, true);
    setOption(Option::AutoSaveSize, true);
    storeOptions();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("CORVANE_NO_MODAL"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(CORVANE_BIN), {QStringLiteral("-a")});
    ASSERT_TRUE(program.waitForStarted());

    QString main;
    ASSERT_TRUE(waitFor(
        [&] { return !(main = visibleWindow(QStringLiteral("^Corvane$"))).isEmpty(); }, 20000));
    std::optional<QPoint> icon;
    ASSERT_TRUE(waitFor([&] { return (icon = programIcon()).has_value(); }, 10000))
        << "started with -a and Minimize, the program put no icon in the tray";
    xdotool({QStringLiteral("windowsize"), main.split(QLatin1Char('\n')).first(),
             QStringLiteral("800"), QStringLiteral("520")});
    waitFor([] { return false; }, 500);
    // The tray menu's last entry is Exit.
    xdotool({QStringLiteral("mousemove"), QString::number(icon->x()), QString::number(icon->y()),
             QStringLiteral("click"), QStringLiteral("3")});
    waitFor([] { return false; }, 700);
    xdotool({QStringLiteral("key"), QStringLiteral("Up")});
    waitFor([] { return false; }, 200);
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    ASSERT_TRUE(
        waitFor([&] { return !visibleWindow(QStringLiteral("^Exit Corvane$")).isEmpty(); }, 10000))
        << "Exit in tray mode did not ask";
    waitFor([] { return false; }, 1500);
    saveScreen(QStringLiteral("exit_dialog.png"));

    program.terminate(); // SIGTERM
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    resetMachineStore();
    options->change([](Options& o) { o.storedWidth = o.storedHeight = 0; });
    ASSERT_TRUE(options->load());
    EXPECT_EQ(currentOptions().storedWidth, 800);
    EXPECT_EQ(currentOptions().storedHeight, 520);
}

} // namespace
