// Times the interface statistics window of the real main window in the benchmark world:
//   corvane_bench_ifstats SECONDS
// Prints "<median update ms> <CPU share % of one core> <updates>": one update of the window
// for the world's first veth link (median of 50), then the program's CPU time while the
// window stands open SECONDS long with its 200 ms timer running. Fails when the window asked
// anything or stopped.
#include "benchwindow.h"
#include "stats.h"

#include "interfaces/frmifdetails.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "shell/heap.h"

#include <QApplication>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace corvane;
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_bench_ifstats SECONDS\n");
        return 2;
    }
    const int seconds = std::max(1, std::atoi(argv[1]));
    prepareHeapForLargeTables();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::BenchWindow bw;
    if (!bw.open())
        return 1;
    TfrmMain& w = *bw.window;
    w.tmrAutoUpdate->stop();
    InterfacesPage& page = *w.tsInterface;
    int row = -1;
    for (int r = 0; r < page.rowCount() && row < 0; ++r)
        if (page.cellText(r, ifcol::Type) != QLatin1String("Loopback"))
            row = r;
    if (row < 0) {
        std::fprintf(stderr, "no interface to watch\n");
        return 1;
    }
    page.lvIfTable->selectRow(row);

    std::vector<double> updates;
    int ticks = 0;
    double cpu = 0;
    bool stopped = false;
    setModalRunner([&](QDialog& d) {
        d.show();
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer t;
            t.start();
            page.acIfStatsExecuteUpdate();
            updates.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        QObject::connect(w.tmrIntStat, &QTimer::timeout, [&ticks] { ++ticks; });
        const double before = cpuSeconds();
        QEventLoop idle; // sleeps between events, as the modal window's own loop does
        QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
        idle.exec();
        cpu = cpuSeconds() - before;
        stopped = !w.tmrIntStat->isActive();
        d.hide();
        return static_cast<int>(QDialog::Accepted);
    });
    page.acIfStatsExecute();
    setModalRunner({});
    std::printf("%.3f %.2f %d\n", bench::median(updates), 100.0 * cpu / seconds, ticks);
    if (stopped || bw.prompts.asked) {
        std::fprintf(stderr, "the window stopped or asked something\n");
        return 1;
    }
    return 0;
}
