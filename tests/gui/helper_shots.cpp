// Pictures of the screen while a helper call waits for authorisation, and of the boxes that
// tell its four failures, for a human to look at; not a test. Under Xvfb with a window manager:
//   corvane_helper_shots OUTPUT_FOLDER   (needs ImageMagick's import)
// The boxes come from the calls the commands make with the helper's result codes.
#include "corvane_result.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "platform/resulttext.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/helperwait.h"
#include "widgets/qtprompter.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

QString folder;

void screen(const QString& name) {
    const QString file = QDir(folder).filePath(name);
    const std::string command = "import -window root '" + file.toStdString() + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// Shows what show() shows, takes the screen once it is up and closes the box.
void boxShot(const QString& name, const std::function<void()>& show) {
    QTimer::singleShot(900, [name] {
        screen(name);
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    show();
}

extern "C" void slowWork(void*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_helper_shots OUTPUT_FOLDER\n");
        return 2;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    corvane::OptionsStore options;
    corvane::TfrmMain window(options, {});
    corvane::frmMain = &window;
    corvane::QtPrompter prompts(&window);
    corvane::setPrompter(&prompts);
    window.show();
    QTimer::singleShot(1500, &window, [&] {
        QTimer::singleShot(1200, &window, [] { screen(QStringLiteral("waiting.png")); });
        corvane::HelperWait::run(window.helperWait, &slowWork, nullptr);
        using corvane::resultText;
        boxShot(QStringLiteral("route_not_allowed.png"), [] {
            corvane::ReportFailureForced(QStringLiteral("SetIPForwardEntry"),
                                         ERROR_HELPER_NOT_ALLOWED);
        });
        boxShot(QStringLiteral("interface_not_authenticated.png"), [] {
            corvane::ReportFailureForced(QStringLiteral("SetIfEntry"),
                                         ERROR_HELPER_NOT_AUTHENTICATED);
        });
        boxShot(QStringLiteral("address_helper_failed.png"), [] {
            corvane::ReportFailureForced(QStringLiteral("Add IP Address"), ERROR_HELPER_FAILED);
        });
        boxShot(QStringLiteral("dhcp_access_denied.png"), [] {
            corvane::showMessage(QStringLiteral("Couldn't release IP address.\n") +
                                     resultText(ERROR_ACCESS_DENIED),
                                 QStringLiteral("Oops"), corvane::MsgIcon::Error);
        });
        boxShot(QStringLiteral("persistent_not_allowed.png"), [] {
            corvane::reportStoreError(corvane::reg::StoreError(
                QStringLiteral("/etc/corvane/machine.reg (through corvane-helper): %1")
                    .arg(resultText(ERROR_HELPER_NOT_ALLOWED))
                    .toStdString()));
        });
        QCoreApplication::exit(0);
    });
    const int rc = QApplication::exec();
    corvane::setPrompter(nullptr);
    return rc;
}
