#include "report/reportcommand.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "report/reportpage.h"
#include "report/textfile.h"
#include "shell/appidentity.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/machinestore.h"
#include "shell/prompter.h"

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace corvane {
namespace {

// Qt's own notes (a missing runtime folder, font fallbacks) are noise on a command's error
// output; only its real failures are passed on.
void quietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "corvane: %s\n", message.toLocal8Bit().constData());
}

bool writeOut(const char* target, const QByteArray& bytes) {
    if (!target || std::strcmp(target, "-") == 0) {
        const bool ok = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                    stdout) == static_cast<std::size_t>(bytes.size()) &&
                        std::fflush(stdout) == 0;
        if (!ok)
            std::fprintf(stderr, "corvane: cannot write the report to standard output: %s\n",
                         std::strerror(errno));
        return ok;
    }
    QString error;
    if (writeWholeFile(QString::fromLocal8Bit(target), bytes, error))
        return true;
    std::fprintf(stderr, "corvane: cannot write the report to %s: %s\n", target,
                 error.toLocal8Bit().constData());
    return false;
}

} // namespace

int runReportCommand(int argc, char* argv[], const char* target) {
    // No window is shown, so no display is needed either.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietQtNotes);
    QApplication app(argc, argv);
    setApplicationIdentity();

    const auto window = std::make_unique<TfrmMain>(QStringList());
    frmMain = window.get();
    frmSetup = new TfrmSetup(window.get());
    // Messages go to standard error through the console prompter, the default one. No window
    // will be shown for the store's notices to wait for.
    releaseStoreNotices();
    const auto done = [](int rc) {
        frmSetup = nullptr;
        return rc;
    };

    TfrmMain& w = *window;
    if (!iphlp().ipHelperLoaded()) {
        std::fprintf(stderr, "corvane: %s\n", loadFailureText(w.loadFailure).c_str());
        return done(2);
    }
    if (w.loadFailure.any())
        std::fprintf(stderr, "corvane: %s\n", loadFailureText(w.loadFailure).c_str());

    // The block a refresh builds before the connection fill would be replaced at once by the
    // build below, so it is not built at all.
    w.refresh->setFill(FillStep::Report, {});
    const unsigned failuresBefore = reportedFailureCount();
    w.loadStartupOptions();
    w.RefreshNetworkStatus();
    BuildReport(w);

    QByteArray bytes = localBytes(reportText(w));
    bytes += '\n';
    const bool written = writeOut(target, bytes);
    // A failed platform call leaves a gap in the report: written, but not a success.
    return done(!written || reportedFailureCount() > failuresBefore ? 1 : 0);
}

} // namespace corvane
