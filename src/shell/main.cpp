// Program entry: the application, the main window and the dialogs that live as long as it.
#include "platform/iphelper.h"
#include "platform/version.h"
#include "routing/restore.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/prompter.h"
#include "shell/qtprompter.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

bool displayAvailable() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

// Without a display there is no window to show: say what the platform offers and stop.
int printStatus() {
    const corvane::PlatformVersion v = corvane::platformVersion();
    const corvane::LoadFailure failure = corvane::iphlp().bind(v.xpFamily());
    std::printf("Corvane %s on platform level %u.%u\nIP Helper entry points: %s\n", CORVANE_VERSION,
                v.major, v.minor,
                failure.any() ? corvane::loadFailureText(failure).c_str() : "all bound");
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: corvane [-a | --restore-persistent-routes]\n"
                        "  -a                            started automatically at log-in\n"
                        "  --restore-persistent-routes   re-apply the stored persistent routes "
                        "and exit\n");
            return 0;
        }
    }
    // Needs neither a display nor a window: a boot-time unit runs it.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--restore-persistent-routes") == 0)
            return corvane::restorePersistentRoutes(std::cout);
    if (!displayAvailable())
        return printStatus();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));

    // The dialogs are children of the main window: they go when it goes.
    auto* mainWindow = new corvane::TfrmMain(QApplication::arguments().mid(1));
    corvane::frmMain = mainWindow;
    corvane::frmAbout = new corvane::TfrmAbout(mainWindow);
    corvane::frmSetup = new corvane::TfrmSetup(mainWindow);

    corvane::QtPrompter prompts(mainWindow);
    corvane::setPrompter(&prompts);
    mainWindow->show();
    const int rc = QApplication::exec();
    corvane::setPrompter(nullptr);
    corvane::frmAbout = nullptr;
    corvane::frmSetup = nullptr;
    delete mainWindow;
    return rc;
}
