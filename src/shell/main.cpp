// Program entry: the command line, then the application, the main window and the dialogs
// that live as long as it.
#include "platform/systemtext.h"
#include "shell/reportcommand.h"
#include "routing/restore.h"
#include "shell/appidentity.h"
#include "shell/commandline.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/heap.h"
#include "shell/options.h"
#include "platform/prompter.h"
#include "shell/qtprompter.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

bool displayAvailable() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

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

} // namespace

int main(int argc, char* argv[]) {
    corvane::prepareHeapForLargeTables();
    using Action = corvane::CommandLine::Action;
    const corvane::CommandLine command = corvane::parseCommandLine(argc, argv);
    switch (command.action) {
    case Action::Usage:
        std::fprintf(stderr, "corvane: %s\n%s", command.error.c_str(), corvane::usageText());
        return 2;
    case Action::Help:
        std::fputs(corvane::usageText(), stdout);
        return 0;
    case Action::Version:
        std::printf("corvane %s\n", CORVANE_VERSION);
        return 0;
    case Action::RestoreRoutes:
        // Neither needs a display nor shows a window: boot units and scripts run them.
        return corvane::restorePersistentRoutes(std::cout);
    case Action::Report:
        return corvane::runReportCommand(argc, argv, command.reportTarget);
    case Action::Window:
        break;
    }
    if (!displayAvailable())
        return corvane::runReportCommand(argc, argv, nullptr);

    qtHandler = qInstallMessageHandler(windowSystemFailure);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    corvane::setApplicationIdentity();

    // The dialogs are children of the main window: they go when it goes.
    corvane::OptionsStore options;
    auto* mainWindow = new corvane::TfrmMain(options, QApplication::arguments().mid(1));
    corvane::frmMain = mainWindow;
    corvane::frmAbout = new corvane::TfrmAbout(mainWindow);
    corvane::frmSetup = new corvane::TfrmSetup(options, mainWindow);

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
