// Times the Routes page's fill of the real main window against the running kernel's table:
//   corvane_bench_routefill EXPECTED_ROWS [FILLS [TOUCH_COMMAND]]
// Prints "<median fill ms> <longest event-loop gap ms> <rows> <longest refilter ms>
// <refilters>". A 5 ms timer ticks all through the fills; its longest silence is how long the
// window stopped answering, the synchronous fill and the repaint after it included. Fails
// when the table does not hold EXPECTED_ROWS rows or the window asked anything (a failure
// report, a dialog). TOUCH_COMMAND runs before every fill, untimed and outside the gaps: a
// command that announces route changes without changing the rows (a route in and out of
// another table) makes each fill read the kernel anew instead of reusing the table the last
// fill read. After the fills, texts are typed into the page's filter field one key at a
// time, each keystroke timed with the list's repaint; the first one builds what the filter
// searches.
#include "benchwindow.h"
#include "stats.h"

#include "platform/prompter.h"
#include "routing/routemodel.h"
#include "routing/routespage.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/heap.h"
#include "widgets/modal.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

namespace {

using namespace corvane;
using bench::CountingPrompter;
using bench::waitFor;

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr,
                     "usage: corvane_bench_routefill EXPECTED_ROWS [FILLS [TOUCH_COMMAND]]\n");
        return 2;
    }
    const int expected = std::atoi(argv[1]);
    const int fills = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const char* touch = argc > 3 ? argv[3] : nullptr;
    prepareHeapForLargeTables(); // as the program itself does

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir store;
    if (!store.isValid())
        return 1;
    qputenv("CORVANE_CONFIG_DIR", store.filePath(QStringLiteral("store")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", store.filePath(QStringLiteral("xdg")).toLocal8Bit());

    QApplication app(argc, argv);
    CountingPrompter prompts;
    setPrompter(&prompts);
    int dialogs = 0;
    setModalRunner([&dialogs](QDialog& d) {
        ++dialogs;
        std::fprintf(stderr, "dialog: %s\n", qPrintable(d.objectName()));
        return static_cast<int>(QDialog::Rejected);
    });

    OptionsStore options;
    auto* window = new TfrmMain(options, {});
    frmMain = window;
    frmAbout = new TfrmAbout(window);
    frmSetup = new TfrmSetup(options, window);
    window->show();
    // The first show refreshes everything once; the timed fills come after it.
    if (!waitFor([window] { return !window->firstShowPending() && !window->refresh->busy(); },
                 120000)) {
        std::fprintf(stderr, "the window did not finish its first refresh\n");
        return 1;
    }
    // Only the fills under test may touch the table while they are timed.
    window->tmrAutoUpdate->stop();
    // The whole table, whatever the stored filters hide, so that every kernel route is a row.
    options.change([](Options& o) {
        o.run.optIgnoreLocalhost = false;
        o.run.optIgnoreBroadcasts = false;
    });
    window->pcMain->setCurrentWidget(window->tsRoutes);
    waitFor([] { return false; }, 200);

    QElapsedTimer clock;
    clock.start();
    const auto nowMs = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };
    // The bench's own steps (the touch command) are no silence of the window: the watch
    // starts again after them.
    std::optional<bench::GapWatch> gaps;
    double longestGap = 0;
    double fillGap = 0;
    const auto restartGaps = [&] {
        if (gaps)
            longestGap = std::max(longestGap, gaps->longestMs());
        gaps.emplace();
        gaps->tick(nowMs());
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] { gaps->tick(nowMs()); });

    RoutesPage& page = *window->tsRoutes;
    // Narrowing key by key to a few hundred rows, widening again, a text no row holds, empty.
    QStringList typed;
    for (const QString& text : {QStringLiteral("20.1.7"), QStringLiteral("0x")})
        for (qsizetype n = 1; n <= text.size(); ++n)
            typed << text.left(n);
    for (qsizetype n = 5; n >= 0; --n)
        typed << QStringLiteral("20.1.7").left(n);
    typed << QStringLiteral("z") << QStringLiteral("zq") << QString();
    std::vector<double> times, keys;
    int rows = -1;
    std::function<void()> typeOnce = [&] {
        const QString& text = typed.at(static_cast<qsizetype>(keys.size()));
        const double t0 = nowMs();
        page.edtFilter->setText(text);
        page.lvFwTable->viewport()->repaint();
        keys.push_back(nowMs() - t0);
        std::fprintf(stderr, "filter \"%s\": %d rows in %.1f ms\n", qPrintable(text),
                     page.lvFwTable->model()->rowCount(), keys.back());
        if (static_cast<qsizetype>(keys.size()) < typed.size())
            QTimer::singleShot(50, window, typeOnce);
        else
            QTimer::singleShot(200, window, [] { QCoreApplication::quit(); });
    };
    std::function<void()> fillOnce = [&] {
        if (touch && std::system(touch) != 0)
            std::fprintf(stderr, "the touch command failed: %s\n", touch);
        restartGaps();
        const long faults = bench::minorFaults();
        const double t0 = nowMs();
        page.FillRouteTable();
        times.push_back(nowMs() - t0);
        rows = page.routeCount();
        std::fprintf(stderr, "fill %zu: %.1f ms, %ld page faults, resident %ld MB\n", times.size(),
                     times.back(), bench::minorFaults() - faults, bench::residentKb() / 1024);
        if (static_cast<int>(times.size()) < fills)
            QTimer::singleShot(100, window, fillOnce);
        else
            QTimer::singleShot(200, window, [&] {
                // The fills' longest gap, apart from the keystrokes'.
                restartGaps();
                fillGap = longestGap;
                typeOnce();
            });
    };
    restartGaps();
    ticker.start();
    QTimer::singleShot(100, window, fillOnce);
    QApplication::exec();
    ticker.stop();

    std::printf("%.1f %.1f %d %.1f %zu\n", bench::median(times), fillGap, rows,
                *std::max_element(keys.begin(), keys.end()), keys.size());
    int rc = 0;
    if (rows != expected) {
        std::fprintf(stderr, "the route table holds %d rows, the kernel %d\n", rows, expected);
        rc = 1;
    }
    if (prompts.asked || dialogs) {
        std::fprintf(stderr, "the window asked %d questions and opened %d dialogs\n", prompts.asked,
                     dialogs);
        rc = 1;
    }
    setModalRunner({});
    setPrompter(nullptr);
    frmAbout = nullptr;
    frmSetup = nullptr;
    frmMain = nullptr;
    delete window;
    return rc;
}
