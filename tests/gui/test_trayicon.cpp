// The tray component's own rules, where no notification area exists (offscreen): the tip,
// the animation, which setters modify the icon, and that nothing hides the window for good.
// tests/tray/ runs it against a real tray host.
#include "gui_fixture.h"
#include "shell/trayicon.h"

#include <QAction>
#include <QMenu>

using namespace corvane;
using namespace corvane::test;

namespace {

TEST(TrayHint, ShortenedAtWholeLinesPastTheLimit) {
    EXPECT_EQ(shortenedHint(QStringLiteral("Corvane @ host\n10.0.0.1")),
              "Corvane @ host\n10.0.0.1");
    const QString exact = QString(63, QLatin1Char('a'));
    EXPECT_EQ(shortenedHint(exact), exact);
    QString many = QStringLiteral("Corvane @ gateway-01");
    for (int i = 1; i <= 6; ++i)
        many += QStringLiteral("\n192.168.100.%1").arg(i);
    const QString tip = shortenedHint(many);
    EXPECT_EQ(tip, "Corvane @ gateway-01\n192.168.100.1\n192.168.100.2\n\u2026");
    EXPECT_LE(tip.size(), kTrayHintLimit);
    // A host name longer than the tip itself.
    const QString longName = QStringLiteral("Corvane @ ") + QString(80, QLatin1Char('h'));
    const QString cut = shortenedHint(longName + QStringLiteral("\n10.0.0.1"));
    EXPECT_EQ(cut.size(), kTrayHintLimit);
    EXPECT_TRUE(cut.startsWith(QStringLiteral("Corvane @ hhh")));
    EXPECT_TRUE(cut.endsWith(QStringLiteral("h\u2026")));
}

TEST(TsxTrayIcon, PropertiesAndWhatModifiesTheIcon) {
    guiApp();
    TsxTrayIcon icon;
    int modified = 0;
    QObject::connect(&icon, &TsxTrayIcon::OnModifyIcon, [&] { ++modified; });
    icon.setAnimateInterval(250);
    icon.setAnimateInterval(0);
    EXPECT_EQ(icon.AnimateInterval(), 1000);
    icon.setHint(QStringLiteral("Corvane @ host"));
    EXPECT_TRUE(icon.tip().isEmpty()); // no tip without ShowHint
    icon.setShowHint(true);
    EXPECT_EQ(icon.tip(), "Corvane @ host");
    ImageList images;
    icon.setIcon(images.icon(img::AdapterActive));
    EXPECT_EQ(modified, 3);
    QMenu menu;
    icon.PopupMenu = &menu;
    icon.PopupButton = TPopupButton::pbRight;
    icon.StartOnTray = true;
    EXPECT_EQ(modified, 3);
    // No notification area here: a modify before any add fails, and so does the add.
    EXPECT_FALSE(icon.TrayMessage(TsxTrayIcon::Message::Modify));
    EXPECT_FALSE(icon.available());
    EXPECT_FALSE(icon.TrayMessage(TsxTrayIcon::Message::Add));
    EXPECT_FALSE(icon.iconShown());
    EXPECT_TRUE(icon.geometry().isEmpty());
}

TEST(TsxTrayIcon, AnimationStepsThroughTheFramesAndWraps) {
    guiApp();
    TsxTrayIcon icon;
    icon.Animate(); // no frames: nothing
    EXPECT_EQ(icon.animationIndex(), 0);
    ImageList frames;
    icon.Icons = &frames;
    int modified = 0;
    QObject::connect(&icon, &TsxTrayIcon::OnModifyIcon, [&] { ++modified; });
    icon.Animate();
    EXPECT_EQ(icon.animationIndex(), 1);
    EXPECT_EQ(icon.Icon().cacheKey(), frames.icon(1).cacheKey());
    for (int i = 2; i < frames.count(); ++i)
        icon.Animate();
    EXPECT_EQ(icon.animationIndex(), frames.count() - 1);
    icon.Animate();
    EXPECT_EQ(icon.animationIndex(), 0);
    EXPECT_EQ(modified, frames.count());
    icon.StartAnimate();
    icon.StartAnimate();
    icon.EndAnimate();
}

TEST(TsxTrayIcon, NeverHidesTheWindowWithoutAnIcon) {
    guiApp();
    QWidget window;
    window.show();
    TsxTrayIcon icon;
    icon.mainWindow = &window;
    EXPECT_FALSE(icon.TrayIcon(TrayCommand::AddAndHide));
    EXPECT_TRUE(window.isVisible());
    icon.StartOnTray = true;
    EXPECT_TRUE(icon.Loaded()); // the window is to be shown after all
    EXPECT_TRUE(icon.TrayIcon(TrayCommand::Hide));
    EXPECT_FALSE(window.isVisible());
    window.showMinimized();
    EXPECT_TRUE(icon.TrayIcon(TrayCommand::Show));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

using MainWindowTray = MainWindowFixture;

TEST_F(MainWindowTray, WithoutANotificationAreaTheTrayActionsSayWhy) {
    for (const bool none : {true, false}) {
        FakeTray tray(false);
        TfrmMain& w = none ? make() : make({}, &tray);
        for (QAction* a : {w.acTray, w.acUnTray, w.acRestoreFromTray}) {
            EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
            EXPECT_TRUE(a->statusTip().startsWith("No notification area"));
            EXPECT_EQ(a->toolTip(), a->statusTip());
        }
        EXPECT_FALSE(w.item(QStringLiteral("MinimizetoSystemTray1"))->isEnabled());
        window.reset();
    }
}

TEST_F(MainWindowTray, TheWindowComesBackWhenTheNotificationAreaGoes) {
    FakeTray tray(true);
    TfrmMain& w = make({}, &tray);
    showAndSettle();
    const QString tip = w.acTray->statusTip();
    const QString shortTip = w.acTray->toolTip();
    w.acTray->trigger();
    ASSERT_FALSE(w.isVisible());
    tray.available_ = false;
    w.updateTrayAvailability(false);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.trayMode);
    EXPECT_FALSE(tray.shown);
    EXPECT_FALSE(w.acTray->isEnabled());
    // And the actions come back with it.
    tray.available_ = true;
    w.updateTrayAvailability(true);
    EXPECT_TRUE(w.acTray->isEnabled());
    EXPECT_EQ(w.acTray->statusTip(), tip);
    EXPECT_EQ(w.acTray->toolTip(), shortTip);
}

TEST_F(MainWindowTray, MinimiseInTrayModeHidesAndTheHintFollowsThePass) {
    FakeTray tray(true);
    TfrmMain& w = make({}, &tray);
    showAndSettle();
    EXPECT_EQ(tray.hint, w.applicationTitle);
    EXPECT_TRUE(tray.hint.startsWith(QStringLiteral("Corvane @ ")));
    w.showMinimized();
    EXPECT_TRUE(w.isVisible()); // not in tray mode: an ordinary minimise
    w.showNormal();
    w.acTray->trigger();
    w.acRestoreFromTray->trigger();
    w.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(tray.shown);
}

} // namespace
