// The window half of the program, in a library of its own: only a start with a window loads
// Qt's widgets and the window system, so the commands start as fast as a plain tool.
#include "shell/windowmain.h"
#include "platform/prompter.h"
#include "platform/systemtext.h"
#include "session/options.h"
#include "shell/appidentity.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmexit.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/termsignals.h"
#include "shell/trayicon.h"
#include "widgets/qtprompter.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

// The display the window system was told to use, as the user would name it.
std::string displayName() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        // The user's own environment, yet no reason to pass escape sequences to a terminal.
        const std::string name = "\"" + corvane::systemText(value).toLocal8Bit().toStdString();
        return name + "\" (" + variable + ")";
    }
    return "of this session";
}

QtMessageHandler qtHandler = nullptr;

// Qt ends with an abort and advice to reinstall when no window system can be reached. Its own
// warnings still pass; the end is said plainly and is an ordinary failure.
void windowSystemFailure(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    if (type != QtFatalMsg) {
        qtHandler(type, context, message);
        return;
    }
    std::fprintf(stderr,
                 "corvane: cannot open the display %s; `corvane --report [FILE]` writes the "
                 "status report without one\n",
                 displayName().c_str());
    std::_Exit(1);
}

int runWindow(int argc, char* argv[]) {
    qtHandler = qInstallMessageHandler(windowSystemFailure);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    corvane::setApplicationIdentity();
    // Lets the desktop match the window to the installed launcher and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.corvane.Corvane"));

    // A window hidden in the notification area is not a closed one: the program ends when
    // the main window's close goes through, and only then.
    QApplication::setQuitOnLastWindowClosed(false);
    corvane::TerminationSignals termination;

    // The dialogs are children of the main window: they go when it goes.
    corvane::OptionsStore options;
    corvane::TsxTrayIcon tray;
    auto* mainWindow = new corvane::TfrmMain(options, QApplication::arguments().mid(1), &tray);
    corvane::frmMain = mainWindow;
    corvane::frmAbout = new corvane::TfrmAbout(mainWindow);
    corvane::frmSetup = new corvane::TfrmSetup(options, mainWindow);
    corvane::frmExit = new corvane::TfrmExit(mainWindow);

    QObject::connect(mainWindow, &corvane::TfrmMain::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&termination, &corvane::TerminationSignals::received, mainWindow,
                     &corvane::TfrmMain::EndSession);
    // Asked at the end of the session: yes, with the settings saved. The session manager may
    // then end the process or quit the application; either way nothing is lost.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainWindow,
                     [mainWindow](QSessionManager&) { mainWindow->QueryEndSession(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, mainWindow,
                     &corvane::TfrmMain::closeBeforeQuit);

    corvane::QtPrompter prompts(mainWindow);
    corvane::setPrompter(&prompts);
    if (tray.Loaded())
        mainWindow->show();
    const int rc = QApplication::exec();
    corvane::setPrompter(nullptr);
    corvane::frmAbout = nullptr;
    corvane::frmSetup = nullptr;
    corvane::frmExit = nullptr;
    delete mainWindow;
    return rc;
}

} // namespace

extern "C" int corvane_window_main(int argc, char* argv[]) noexcept {
    try {
        return runWindow(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "corvane: the window ended with an unknown error\n");
    }
    return 1;
}
