// Program entry. The main window arrives with the application shell; until then the program
// binds the platform and says what it found, in a window or on standard output.
#include "platform/iphelper.h"
#include "platform/version.h"
#include "shell/prompter.h"
#include "shell/qtprompter.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool displayAvailable() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return true;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

QString statusText(const corvane::LoadFailure& failure) {
    const auto v = corvane::platformVersion();
    return QStringLiteral("Corvane %1 on platform level %2.%3\nIP Helper entry points: %4")
        .arg(QStringLiteral(CORVANE_VERSION))
        .arg(v.major)
        .arg(v.minor)
        .arg(failure.any() ? QString::fromStdString(corvane::loadFailureText(failure))
                           : QStringLiteral("all bound"));
}

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: corvane [-a]\n  -a  started automatically at log-in\n");
            return 0;
        }
    }
    const corvane::LoadFailure failure =
        corvane::iphlp().bind(corvane::platformVersion().xpFamily());

    if (!displayAvailable()) {
        std::printf("%s\n", qUtf8Printable(statusText(failure)));
        return failure.any() ? 1 : 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Corvane"));
    window.resize(731, 460);
    window.setCentralWidget(new QLabel(statusText(failure), &window));
    corvane::QtPrompter prompts(&window);
    corvane::setPrompter(&prompts);
    window.show();
    if (failure.any()) {
        QTimer::singleShot(0, &window, [&failure] {
            corvane::showMessage(QString::fromStdString(corvane::loadFailureText(failure)),
                                 QStringLiteral("Oops"), corvane::MsgIcon::Error);
        });
    }
    const int rc = QApplication::exec();
    corvane::setPrompter(nullptr);
    return rc;
}
