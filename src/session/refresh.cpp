#include "session/refresh.h"

#include "platform/iphelper.h"
#include "session/options.h"

#include <QCoreApplication>
#include <QTimer>

namespace corvane {

const QString refreshingText = QStringLiteral("Refreshing network status information...");
const QString pendingText = QStringLiteral(" pending");

RefreshOptions refreshOptionsOf(const Options& v) {
    RefreshOptions o;
    o.autoUpdate = v.on(Option::AutoUpdate);
    o.showInactivePersistentRoutes = v.on(Option::ShowInactiveRoutes);
    o.overwriteReport = v.on(Option::OverwriteReport);
    o.autoExpandTree = v.on(Option::AutoExpand);
    o.removeDeadAddresses = v.on(Option::RemoveDeadAddresses);
    return o;
}

bool DeadAddressQueue::push(ULONG nteContext) {
    if (count_ >= capacity)
        return false;
    contexts_[static_cast<std::size_t>(count_++)] = nteContext;
    return true;
}

bool IpCountWatch::changed(const MIB_IPSTATS& stats, std::optional<DWORD> routeChanges) {
    bool any = false;
    const auto check = [&any](DWORD& seen, DWORD now) {
        if (seen != now) {
            seen = now;
            any = true;
        }
    };
    check(numIf_, stats.dwNumIf);
    check(numAddr_, stats.dwNumAddr);
    check(numRoutes_, stats.dwNumRoutes);
    if (routeChanges && routeChanges != routeChanges_) {
        // The first number seen is no change of its own: the counts' first look is one.
        any = any || routeChanges_.has_value();
        routeChanges_ = routeChanges;
    }
    return any;
}

RefreshCycle::RefreshCycle(RefreshHost& host, QTimer& tmrRefreshWait, QTimer& tmrAutoUpdate,
                           QObject* parent)
    : QObject(parent), host_(host), tmrRefreshWait_(tmrRefreshWait), tmrAutoUpdate_(tmrAutoUpdate) {
    connect(&tmrRefreshWait_, &QTimer::timeout, this, &RefreshCycle::refreshWaitTick);
    connect(&tmrAutoUpdate_, &QTimer::timeout, this, &RefreshCycle::autoUpdateTick);
}

void RefreshCycle::setFill(FillStep step, Fill fill) {
    fills_[static_cast<std::size_t>(step)] = std::move(fill);
}

void RefreshCycle::runFill(FillStep step) {
    // Copied: a fill may replace the registered fills while it runs.
    const Fill fill = fills_[static_cast<std::size_t>(step)];
    if (fill)
        fill();
}

void RefreshCycle::run() {
    if (changes_ > 0 || holds_ > 0) {
        postponed_ = true;
        return;
    }
    const QString remembered = host_.statusText();
    host_.setStatusText(refreshingText);
    QCoreApplication::processEvents();

    if (busy_) {
        // Another refresh is further out on the call stack and cannot finish before this one
        // returns, so only the guard timer can end the wait; sleep until an event arrives.
        tmrRefreshWait_.start();
        while (busy_) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            host_.setStatusText(refreshingText + pendingText);
        }
    }

    host_.setStatusText(refreshingText);
    tmrRefreshWait_.stop();
    tmrAutoUpdate_.stop();

    if (!busy_) {
        busy_ = true;
        host_.setRefreshItemEnabled(false);
        const FailureBatch oneBoxPerCall;
        fillSequence(host_.refreshOptions());
        host_.setRefreshItemEnabled(true);
        busy_ = false;
    }

    host_.setStatusText(remembered);
    QCoreApplication::processEvents();
    // Read again: a nested refresh or an accepted Options dialog may have changed it.
    if (host_.refreshOptions().autoUpdate)
        tmrAutoUpdate_.start();
    else
        tmrAutoUpdate_.stop();
}

void RefreshCycle::endChange() {
    if (--changes_ == 0 && holds_ == 0 && postponed_) {
        postponed_ = false;
        run();
    }
}

void RefreshCycle::release() {
    if (--holds_ > 0 || changes_ > 0 || !postponed_)
        return;
    postponed_ = false;
    QTimer::singleShot(0, this, [this] {
        // A change begun since then runs it at its end instead.
        if (changes_ > 0 || holds_ > 0)
            postponed_ = true;
        else
            run();
    });
}

void RefreshCycle::fillSequence(const RefreshOptions& options) {
    // The routing table's dump and the connection table's pass over every process run beside
    // the reads before them.
    if (iphlp().CorvaneWarmReads)
        (void)iphlp().CorvaneWarmReads();
    runFill(FillStep::InterfaceTable);
    runFill(FillStep::AdapterInformation);
    runFill(FillStep::RouteTable);
    if (options.showInactivePersistentRoutes)
        runFill(FillStep::InactivePersistentRoutes);
    if (pendingReport || options.overwriteReport) {
        pendingReport = false;
        runFill(FillStep::Report);
    }
    runFill(FillStep::ConnectionTable);
    runFill(options.autoExpandTree ? FillStep::ExpandTree : FillStep::CollapseTree);
    if (options.removeDeadAddresses) {
        while (!dead_.empty())
            // Result ignored: an address still there is queued again by the next pass.
            (void)iphlp().DeleteIPAddress(dead_.takeLast());
    }
}

void RefreshCycle::autoUpdateTick() {
    if (IpCountsChanged()) {
        pendingReport = true;
        run();
    }
}

bool RefreshCycle::IpCountsChanged() {
    // The change count first: it keeps the library's counts current, which the statistics
    // then read instead of reading the tables again.
    DWORD routeChanges = 0;
    const bool haveChanges = iphlp().GetRouteChangeCount(&routeChanges) == NO_ERROR;
    MIB_IPSTATS stats{};
    if (iphlp().GetIpStatistics(&stats) != NO_ERROR)
        return false;
    return haveChanges ? counts_.changed(stats, routeChanges) : counts_.changed(stats);
}

} // namespace corvane
