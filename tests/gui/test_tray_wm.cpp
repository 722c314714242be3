// Tray mode under a window manager (openbox) with a real tray host (trayer): a minimise sends
// the window to the notification area and leaves nothing on the screen, not even an empty
// frame, until the icon brings it back as it was.
#include "shell/trayicon.h"
#include "tray_host.h"
#include "wm_screen.h"

#include <QAction>
#include <QImage>
#include <QRegularExpression>
#include <QScreen>

using namespace corvane;
using namespace corvane::test;

CORVANE_WINDOW_MANAGER_SCREEN();

namespace {

QString hex(WId id) {
    return QStringLiteral("0x%1").arg(id, 0, 16);
}

// "IsViewable", "IsUnMapped" or "IsUnviewable", as the X server tells it.
QString mapState(WId id) {
    static const QRegularExpression state(QStringLiteral("Map State: (\\w+)"));
    return state.match(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), hex(id)}))
        .captured(1);
}

// The window the window manager frames it in; 0 while it is not managed.
WId frameOf(WId id) {
    const QString tree = run(QStringLiteral("xwininfo"),
                             {QStringLiteral("-children"), QStringLiteral("-id"), hex(id)});
    static const QRegularExpression parent(QStringLiteral("Parent window id: (0x[0-9a-f]+)"));
    static const QRegularExpression root(QStringLiteral("Root window id: (0x[0-9a-f]+)"));
    const QString p = parent.match(tree).captured(1);
    if (p.isEmpty() || p == root.match(tree).captured(1))
        return 0;
    return p.toULongLong(nullptr, 16);
}

// Neither the window nor a frame around it can be seen.
bool goneFromTheScreen(WId id) {
    if (mapState(id) == QLatin1String("IsViewable"))
        return false;
    const WId frame = frameOf(id);
    return frame == 0 || mapState(frame) != QLatin1String("IsViewable");
}

QString wmState(WId id) {
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), hex(id), QStringLiteral("WM_STATE"),
                                         QStringLiteral("_NET_WM_STATE")});
}

using TrayModeUnderAWindowManager = TrayHost;

TEST_F(TrayModeUnderAWindowManager, MinimiseLeavesNoFrameAndTheIconRestoresTheWindow) {
    guiApp();
    startTrayer();
    TsxTrayIcon tray;
    TfrmMain& w = make({}, &tray);
    showAndSettle();
    const WId id = w.winId();
    ASSERT_TRUE(waitFor([&] { return mapState(id) == QLatin1String("IsViewable"); }));
    // Tray mode, the window shown from the tray: the icon stays, a minimise goes to it.
    w.acTray->trigger();
    ASSERT_TRUE(w.trayMode);
    WId icon = 0;
    Placement at;
    ASSERT_TRUE(waitForEmbeddedIcon(icon, at)) << "the icon was not embedded in trayer's panel";

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        w.acRestoreFromTray->trigger();
        ASSERT_TRUE(waitFor([&] { return mapState(id) == QLatin1String("IsViewable"); }));
        waitFor([] { return false; }, 300);

        xdotool({QStringLiteral("windowminimize"), QString::number(id)});
        const bool gone = waitFor([&] { return goneFromTheScreen(id); });
        if (const QString dir = qEnvironmentVariable("CORVANE_SHOTS_DIR"); !dir.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QStringLiteral("%1/tray_minimised_%2.png").arg(dir).arg(round));
        ASSERT_TRUE(gone) << "still on the screen after the minimise";
        // And it stays away: nothing maps it again a moment later.
        for (int look = 0; look < 10; ++look) {
            waitFor([] { return false; }, 150);
            EXPECT_TRUE(goneFromTheScreen(id))
                << "mapped again after the minimise: " << mapState(id).toStdString();
        }
        EXPECT_FALSE(w.isVisible());
        EXPECT_FALSE(w.isMinimized());
        EXPECT_TRUE(w.trayMode);

        // A double click on the icon brings it back, neither minimised nor hidden.
        xdotool({QStringLiteral("mousemove"), QString::number(at.centre.x()),
                 QString::number(at.centre.y()), QStringLiteral("click"),
                 QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                 QStringLiteral("60"), QStringLiteral("1")});
        ASSERT_TRUE(waitFor([&] {
            return w.isVisible() && mapState(id) == QLatin1String("IsViewable") &&
                   frameOf(id) != 0 && mapState(frameOf(id)) == QLatin1String("IsViewable");
        })) << "the icon did not bring the window back";
        waitFor([] { return false; }, 300);
        // Painted, not an empty black frame.
        const QImage shown = QGuiApplication::primaryScreen()
                                 ->grabWindow(0, w.x(), w.y(), w.width(), w.height())
                                 .toImage();
        if (const QString dir = qEnvironmentVariable("CORVANE_SHOTS_DIR"); !dir.isEmpty())
            shown.save(QStringLiteral("%1/tray_restored_%2.png").arg(dir).arg(round));
        int black = 0;
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                black += shown.pixel(x, y) == qRgb(0, 0, 0) ? 1 : 0;
        EXPECT_LT(black, (shown.width() / 4) * (shown.height() / 4) / 4);
        const QString state = wmState(id);
        EXPECT_TRUE(state.contains(QStringLiteral("window state: Normal"))) << state.toStdString();
        EXPECT_FALSE(state.contains(QStringLiteral("_NET_WM_STATE_HIDDEN"))) << state.toStdString();
        EXPECT_FALSE(w.isMinimized());
        w.hide(); // the next round shows it from the tray again
        waitFor([&] { return goneFromTheScreen(id); });
    }
}

} // namespace
