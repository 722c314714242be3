// Times deleting routes by list through the real main window against the running kernel:
//   corvane_bench_routedelete INTERFACE GATEWAY [ROUTES [RUNS]]
// Each run puts ROUTES /30 routes out of 10.200.0.0/16 (at most 16,384) through INTERFACE and
// GATEWAY into the kernel (untimed), then deletes them with the Delete Routes by List dialog,
// its list and interface filled in and the one confirmation answered Yes. Timed from the
// dialog's Ok to the end of the deletion: the routing list's refill, the matching, every
// route's deletion and the list's update. Prints "<median ms> <longest event-loop gap ms>
// <routes per run>"; a 5 ms timer ticks all through, and its longest silence is how long
// the window stood still. Fails when a route stays in the kernel or in the list, or the
// window asked anything else.
#include "benchwindow.h"
#include "stats.h"

#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "platform/ifindex.h"
#include "routing/frmroutelist.h"
#include "routing/routemodel.h"
#include "routing/routespage.h"
#include "shell/heap.h"
#include "values/ip.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

using namespace corvane;

// Yes to the deletion's question; everything else counted as the bench's plain prompter does.
class DeletingPrompter : public bench::CountingPrompter {
public:
    MsgAnswer message(const MessageRequest& request) override {
        if (request.caption == QLatin1String("Delete")) {
            ++confirmations;
            return MsgAnswer::Yes;
        }
        return CountingPrompter::message(request);
    }
    int confirmations = 0;
};

int kernelRoutesUnder(const char* prefix) {
    const std::string cmd = std::string("ip -4 route show table main root ") + prefix + " | wc -l";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    int n = -1;
    if (std::fscanf(p, "%d", &n) != 1)
        n = -1;
    ::pclose(p);
    return n;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr,
                     "usage: corvane_bench_routedelete INTERFACE GATEWAY [ROUTES [RUNS]]\n");
        return 2;
    }
    const std::string face = argv[1];
    const std::string gateway = argv[2];
    const unsigned ifIndex = ::if_nametoindex(face.c_str());
    const int routes = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 16384) : 10000;
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    if (ifIndex == 0) {
        std::fprintf(stderr, "no interface %s\n", face.c_str());
        return 2;
    }
    prepareHeapForLargeTables();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::BenchWindow bw;
    DeletingPrompter prompts;
    if (!bw.open())
        return 1;
    setPrompter(&prompts);
    TfrmMain& w = *bw.window;
    w.pcMain->setCurrentWidget(w.tsRoutes);

    QString description;
    const QString indexText = interfaceIndexText(ifIndex);
    for (int r = 0; r < w.tsInterface->rowCount(); ++r)
        if (w.tsInterface->cellText(r, ifcol::Index) == indexText)
            description = w.tsInterface->cellText(r, ifcol::Description);
    std::vector<ListRoute> list;
    std::string batch;
    for (int i = 0; i < routes; ++i) {
        const QString network =
            QString::fromStdString(ip(0x0AC80000U + 4U * static_cast<std::uint32_t>(i)).text());
        list.push_back({network, QStringLiteral("255.255.255.252"), i + 1});
        batch.append("route add ")
            .append(network.toStdString())
            .append("/30 via ")
            .append(gateway)
            .append(" dev ")
            .append(face)
            .append(" metric 1\n");
    }
    const std::string batchFile = bw.scratch("routes.batch");
    if (FILE* f = std::fopen(batchFile.c_str(), "w")) {
        std::fputs(batch.c_str(), f);
        std::fclose(f);
    }

    bench::GapWatch gaps;
    QElapsedTimer clock;
    clock.start();
    const auto now = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] { gaps.tick(now()); });

    double started = 0;
    setModalRunner([&](QDialog& dialog) {
        auto* d = dynamic_cast<TfrmDelRouteList*>(&dialog);
        if (!d) {
            std::fprintf(stderr, "dialog: %s\n", qPrintable(dialog.objectName()));
            ++prompts.asked;
            return static_cast<int>(QDialog::Rejected);
        }
        d->setResult(QDialog::Rejected);
        d->FormShow();
        d->FormActivate();
        d->routeList->setRoutes(list);
        d->btnOk->setEnabled(true);
        d->cbxInterfaces->setEditText(description);
        d->cbxMetric->setEditText(QStringLiteral("1"));
        d->btnOkClick();
        started = now();
        gaps = bench::GapWatch();
        gaps.tick(started);
        return d->result();
    });

    std::vector<double> times;
    double longestGap = 0;
    int rc = 0;
    ticker.start();
    for (int run = 0; run < runs && rc == 0; ++run) {
        // Untimed: the routes go in, and the window has seen them before the dialog opens.
        if (std::system(("ip -batch " + batchFile).c_str()) != 0) {
            std::fprintf(stderr, "the routes could not be added\n");
            rc = 1;
            break;
        }
        w.RefreshNetworkStatus();
        bench::waitFor([&w] { return !w.refresh->busy(); }, 120000);
        const int before = w.tsRoutes->routeCount();
        const int confirmed = prompts.confirmations;
        w.tsRoutes->acDelListExecute();
        const double end = now();
        gaps.tick(end);
        times.push_back(end - started);
        longestGap = std::max(longestGap, gaps.longestMs());
        const int after = w.tsRoutes->routeCount();
        const int left = kernelRoutesUnder("10.200.0.0/16");
        if (left != 0 || before - after != routes || prompts.confirmations != confirmed + 1) {
            std::fprintf(stderr, "run %d: %d routes left in the kernel, %d rows fewer, %d asked\n",
                         run + 1, left, before - after, prompts.confirmations - confirmed);
            rc = 1;
        }
        // Whatever the deletion held back runs now, before the next run's routes go in.
        bench::waitFor([] { return false; }, 300);
        bench::waitFor([&w] { return !w.refresh->busy(); }, 120000);
        std::system("ip route flush root 10.200.0.0/16 2>/dev/null");
    }
    ticker.stop();
    std::printf("%.1f %.1f %d\n", bench::median(times), longestGap, routes);
    if (prompts.asked) {
        std::fprintf(stderr, "%d messages were shown\n", prompts.asked);
        rc = 1;
    }
    setModalRunner({});
    return rc;
}
