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
#include "shell/json_report.h"
#include "shell/snapshot.h"

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

namespace corvane {
namespace {

// Qt's own notes are noise on a command's error output; only its real failures are passed on.
void quietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "corvane: %s\n", message.toLocal8Bit().constData());
}

// The report is encoded and written a piece at a time as it is laid out: a big one is never
// held whole, nor its encoded copy.
using Producer = std::function<void(const BytesOut&)>;

bool writeOut(const char* target, const Producer& produce) {
    if (!target || std::strcmp(target, "-") == 0) {
        int error = 0;
        produce([&](std::string_view piece) {
            if (error == 0 && std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
                error = errno != 0 ? errno : EIO;
            return error == 0;
        });
        if (error == 0 && std::fflush(stdout) != 0)
            error = errno != 0 ? errno : EIO;
        if (error != 0)
            std::fprintf(stderr, "corvane: cannot write the report to standard output: %s\n",
                         std::strerror(error));
        return error == 0;
    }
    QString error;
    if (writeFileInPieces(QString::fromLocal8Bit(target), produce, error))
        return true;
    std::fprintf(stderr, "corvane: cannot write the report to %s: %s\n", target,
                 error.toLocal8Bit().constData());
    return false;
}

bool writeOut(const char* target, const ReportInput& input) {
    return writeOut(target, [&input](const BytesOut& put) {
        QByteArray bytes;
        ReportText out([&](QStringView piece) {
            bytes = localBytes(piece);
            put(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        });
        // With no old text before it, a block follows nothing, overwritten or not.
        writeReportBlock(input, out);
        out += QLatin1Char('\n');
        out.finish();
    });
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
            // Exactly: an insert would double a big table's storage for a few stored rows.
            snapshot.routes.reserve(snapshot.routes.size() + more.size());
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

int runReportCommand(int argc, char* argv[], const char* target, bool json) {
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
    if (json) {
        // Read on its own terms: every row, whatever the options hide from the text.
        const bool written = writeOut(target, [](const BytesOut& put) {
            writeJsonReport([&put](std::string_view piece) { put(piece); }, CORVANE_VERSION);
        });
        return !written || reportedFailureCount() > failuresBefore ? 1 : 0;
    }
    CommandRefresh refresh(options, xpFamily);
    refresh.run();

    ReportInput input = reportInputOf(refresh.snapshot);
    setReportContext(input, options.value().run, xpFamily);
    const bool written = writeOut(target, input);
    // A failed platform call leaves a gap in the report: written, but not a success.
    return !written || reportedFailureCount() > failuresBefore ? 1 : 0;
}

} // namespace corvane
