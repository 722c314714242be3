#include "shell/reportcommand.h"

#include "connections/conn_read.h"
#include "hostinfo/adapter_read.h"
#include "interfaces/iftable_read.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "platform/version.h"
#include "report/textfile.h"
#include "routing/route_read.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "session/refresh.h"
#include "shell/appidentity.h"
#include "shell/snapshot.h"

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

// Qt's own notes are noise on a command's error output; only its real failures are passed on.
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

// The refresh cycle of the window, with a snapshot in place of the pages: the same steps in
// the same order, so the same calls fail and the same dead addresses go.
class CommandRefresh : public RefreshHost {
public:
    CommandRefresh(const OptionsStore& options, bool xpFamily)
        : options_(options), xpFamily_(xpFamily), cycle_(*this, wait_, autoUpdate_) {
        cycle_.setFill(FillStep::InterfaceTable, [this] { interfaces(); });
        cycle_.setFill(FillStep::AdapterInformation, [this] { adapters(); });
        cycle_.setFill(FillStep::RouteTable, [this] { routes(); });
        cycle_.setFill(FillStep::InactivePersistentRoutes, [this] {
            const RuntimeOptions& o = inEffect();
            std::vector<RouteRow> more = readInactivePersistentRows(
                snapshot.routes, {o.optIgnoreLocalhost, o.optIgnoreBroadcasts, o.optShowIpv6,
                                  o.optAllRoutingTables});
            snapshot.routes.insert(snapshot.routes.end(), more.begin(), more.end());
        });
        // Its block would be replaced at once by the one built after the refresh.
        cycle_.setFill(FillStep::ConnectionTable, [this] { connections(); });
    }

    void run() { cycle_.run(); }
    Snapshot snapshot;

    QString statusText() const override { return {}; }
    void setStatusText(const QString&) override {}
    void setRefreshItemEnabled(bool) override {}
    RefreshOptions refreshOptions() const override {
        RefreshOptions o = refreshOptionsOf(options_.value());
        o.autoUpdate = false; // the command ends after one refresh
        return o;
    }

private:
    const RuntimeOptions& inEffect() const { return options_.value().run; }

    void interfaces() {
        if (auto rows = readInterfaceRows(inEffect().optIgnoreLocalhost,
                                          options_.value().on(Option::IgnoreOperStatus)))
            snapshot.interfaces = std::move(*rows);
    }
    void adapters() {
        cycle_.deadAddresses().reset();
        if (const std::optional<HostParams> host = readHostParams())
            snapshot.hostName = host->hostName;
        snapshot.adapters.clear();
        std::optional<AdapterPassResult> r = readAdapterInformation(
            xpFamily_, options_.value().on(Option::IpLogging), inEffect().optShowIpv6);
        if (!r)
            return;
        snapshot.adapters = std::move(r->adapters);
        for (const ULONG context : r->deadContexts)
            cycle_.deadAddresses().push(context);
    }
    void routes() {
        const RuntimeOptions& o = inEffect();
        RouteTableRead read = readRouteTable(
            {o.optIgnoreLocalhost, o.optIgnoreBroadcasts, o.optShowIpv6, o.optAllRoutingTables});
        if (!read.ok)
            return;
        snapshot.routes = std::move(read.fill.rows);
        snapshot.tableNames = std::move(read.tableNames);
        snapshot.rules = std::move(read.rules);
    }
    void connections() {
        snapshot.connections = readConnections(connListing(inEffect(), xpFamily_));
    }

    const OptionsStore& options_;
    bool xpFamily_;
    QTimer wait_;
    QTimer autoUpdate_;
    RefreshCycle cycle_;
};

} // namespace

int runReportCommand(int argc, char* argv[], const char* target) {
    qInstallMessageHandler(quietQtNotes);
    QCoreApplication app(argc, argv);
    setApplicationIdentity();

    // The store is met as the window meets it: opened for the start-up check, the close mode
    // read, then the options. What it has to tell goes to standard error.
    OptionsStore options;
    holdStoreNotices();
    (void)storedStartMinimised();
    options.loadCloseMode();
    releaseStoreNotices();

    const bool xpFamily = platformVersion().xpFamily();
    const LoadFailure failure = iphlp().bind(xpFamily);
    if (!iphlp().ipHelperLoaded()) {
        std::fprintf(stderr, "corvane: %s\n", loadFailureText(failure).c_str());
        return 2;
    }
    if (failure.any())
        std::fprintf(stderr, "corvane: %s\n", loadFailureText(failure).c_str());

    const unsigned failuresBefore = reportedFailureCount();
    options.loadStartup();
    setFailureMessagesSilenced(options.value().run.optNoErrorMessages);
    CommandRefresh refresh(options, xpFamily);
    refresh.run();

    ReportInput input = reportInputOf(refresh.snapshot);
    setReportContext(input, options.value().run, xpFamily);
    const QString text = followReport(QString(), buildReportBlock(input),
                                      options.value().on(Option::OverwriteReport));
    QByteArray bytes = localBytes(text);
    bytes += '\n';
    const bool written = writeOut(target, bytes);
    // A failed platform call leaves a gap in the report: written, but not a success.
    return !written || reportedFailureCount() > failuresBefore ? 1 : 0;
}

} // namespace corvane
