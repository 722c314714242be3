// Program entry: the application, the main window and the dialogs that live as long as it.
#include "report/reportcommand.h"
#include "routing/restore.h"
#include "shell/appidentity.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/heap.h"
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

void printUsage() {
    std::printf(
        "Usage: corvane [-a]\n"
        "       corvane --report [FILE]\n"
        "       corvane --restore-persistent-routes\n"
        "\n"
        "  -a                            started automatically at log-in (may start in the\n"
        "                                notification area)\n"
        "  --report [FILE]               refresh once without a window and write the status\n"
        "                                report to FILE, or to standard output when FILE is\n"
        "                                \"-\" or absent\n"
        "  --restore-persistent-routes   re-apply the stored persistent routes and exit\n"
        "  -h, --help                    show this help\n"
        "\n"
        "Without a display, corvane writes the status report to standard output.\n");
}

} // namespace

int main(int argc, char* argv[]) {
    corvane::prepareHeapForLargeTables();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage();
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        // Neither needs a display nor shows a window: boot units and scripts run them.
        if (std::strcmp(argv[i], "--restore-persistent-routes") == 0)
            return corvane::restorePersistentRoutes(std::cout);
        if (std::strcmp(argv[i], "--report") == 0)
            return corvane::runReportCommand(argc, argv, i + 1 < argc ? argv[i + 1] : nullptr);
    }
    if (!displayAvailable())
        return corvane::runReportCommand(argc, argv, nullptr);

    QApplication app(argc, argv);
    corvane::setApplicationIdentity();

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
