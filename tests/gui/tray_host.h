// What the tests against a real notification area share: tools run to their end, waits that
// let the event loop run, and trayer as the tray host, started and ended by the test.
#pragma once

#include "gui_fixture.h"
#include "wait_for.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QThread>
#include <functional>

namespace corvane::test {

// Runs a tool to its end and returns what it printed.
inline QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(10000)) << program.toStdString();
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

inline void xdotool(const QStringList& args) {
    run(QStringLiteral("xdotool"), args);
}

struct Placement {
    bool embedded = false; // its parent is not the root window
    QPoint centre;
};

inline Placement placementOf(WId window) {
    const QString info =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"),
                                         QStringLiteral("0x%1").arg(window, 0, 16)});
    const auto id = [&](const char* label) {
        const auto m =
            QRegularExpression(QString::fromLatin1(label) + QStringLiteral(" (0x[0-9a-f]+)"))
                .match(info);
        return m.hasMatch() ? m.captured(1) : QString();
    };
    const QString where = run(QStringLiteral("xwininfo"),
                              {QStringLiteral("-id"), QStringLiteral("0x%1").arg(window, 0, 16)});
    const auto number = [&](const char* label) {
        const auto m =
            QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)"))
                .match(where);
        return m.captured(1).toInt();
    };
    Placement p;
    p.embedded =
        !id("Parent window id:").isEmpty() && id("Parent window id:") != id("Root window id:");
    p.centre = QPoint(number("Absolute upper-left X") + number("Width") / 2,
                      number("Absolute upper-left Y") + number("Height") / 2);
    return p;
}

// The window QSystemTrayIcon embeds into the tray.
inline WId trayIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->isVisible())
            return w->winId();
    return 0;
}

// Waits until the icon's window sits in the tray host's panel; its placement then.
inline bool waitForEmbeddedIcon(WId& icon, Placement& at) {
    return waitFor([&] {
        icon = trayIconWindow();
        if (icon)
            at = placementOf(icon);
        return at.embedded;
    });
}

class TrayHost : public MainWindowFixture {
protected:
    void startTrayer() {
        trayer.start(QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                      QStringLiteral("right"), QStringLiteral("--widthtype"),
                      QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("120"),
                      QStringLiteral("--height"), QStringLiteral("32"),
                      QStringLiteral("--transparent"), QStringLiteral("false")});
        ASSERT_TRUE(trayer.waitForStarted()) << "trayer is missing (scripts/deps.sh installs it)";
        ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    }
    void stopTrayer() {
        trayer.terminate();
        trayer.waitForFinished();
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        if (trayer.state() != QProcess::NotRunning)
            stopTrayer();
    }
    QProcess trayer;
};

} // namespace corvane::test
