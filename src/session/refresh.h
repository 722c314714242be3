// The one full refresh of the main window: fill steps in a fixed order, serialised by a busy
// flag with a one-second guard, plus the change check that drives automatic updates.
#pragma once

#include "iphlpapi.h"
#include "platform/reportfailure.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QTimer;

namespace corvane {

// The steps of a refresh, in the order they run. A page adds itself by registering its step.
enum class FillStep {
    InterfaceTable,           // Interfaces page
    AdapterInformation,       // Host Info page, IP Info tree, address log, dead-address queue
    RouteTable,               // Routes page
    InactivePersistentRoutes, // only with "Show incactive persistent routes"
    Report,                   // only when a change was seen or with "Overwrite report"
    ConnectionTable,          // Netstat page
    ExpandTree,               // with "Auto expand tree"
    CollapseTree,             // without it
};
inline constexpr int fillStepCount = 8;

// The options a refresh consults, read afresh at every refresh.
struct RefreshOptions {
    bool autoUpdate = false;
    bool showInactivePersistentRoutes = false;
    bool overwriteReport = false;
    bool autoExpandTree = false;
    bool removeDeadAddresses = false;
};

struct Options;
RefreshOptions refreshOptionsOf(const Options& options);

// What the refresh needs from its window.
class RefreshHost {
public:
    virtual ~RefreshHost() = default;
    virtual QString statusText() const = 0; // status bar panel 0
    virtual void setStatusText(const QString& text) = 0;
    // The File menu's "Refresh" entry; the tool button and context entries stay enabled.
    virtual void setRefreshItemEnabled(bool enabled) = 0;
    virtual RefreshOptions refreshOptions() const = 0;
};

// NTE contexts of addresses the adapter pass found dead ("0.0.0.0"), deleted at the end of
// the same refresh. Holds at most 16; further ones wait for the next pass.
class DeadAddressQueue {
public:
    static constexpr int capacity = 16;
    void reset() { count_ = 0; }
    // False when the queue is full and the context was not taken.
    bool push(ULONG nteContext);
    bool empty() const { return count_ == 0; }
    int size() const { return count_; }
    ULONG takeLast() { return contexts_[static_cast<std::size_t>(--count_)]; }

private:
    std::array<ULONG, capacity> contexts_{};
    int count_ = 0;
};

// The interface, address and route counts last seen in the IP statistics.
class IpCountWatch {
public:
    // Remembers the counts that differ; true when any did. All start at 0, so the first
    // look at a live system reports a change. routeChanges, where the platform gives it,
    // counts as a fourth: a route gone and another come leave the route count as it was.
    bool changed(const MIB_IPSTATS& stats, std::optional<DWORD> routeChanges = std::nullopt);

private:
    DWORD numIf_ = 0;
    DWORD numAddr_ = 0;
    DWORD numRoutes_ = 0;
    std::optional<DWORD> routeChanges_;
};

extern const QString refreshingText; // "Refreshing network status information..."
extern const QString pendingText;    // " pending"

class RefreshCycle : public QObject {
    Q_OBJECT
public:
    // Takes over the two timers' ticks: the guard release and the auto-update check.
    RefreshCycle(RefreshHost& host, QTimer& tmrRefreshWait, QTimer& tmrAutoUpdate,
                 QObject* parent = nullptr);

    using Fill = std::function<void()>;
    void setFill(FillStep step, Fill fill);

    // RefreshNetworkStatus. While a change is in progress it only notes the request.
    void run();
    // tmrAutoUpdateTimer: refresh, with the report rebuilt, when the counts changed.
    void autoUpdateTick();
    // tmrRefreshWaitTimer: lets a waiting refresh go ahead.
    void refreshWaitTick() { busy_ = false; }
    // Asks the platform's IP statistics; a failed query is no change.
    bool IpCountsChanged();

    bool busy() const { return busy_; }
    bool changing() const { return changes_ > 0; }
    // While a call waits for the user's authorisation nothing refills a list: a refresh asked
    // for meanwhile waits, and the last release lets one run from the event loop, never
    // inside the command that made the call.
    void holdOff() { ++holds_; }
    void release();
    bool held() const { return holds_ > 0; }
    bool pendingReport = false; // the report page reads and clears it too
    DeadAddressQueue& deadAddresses() { return dead_; }

private:
    friend class ChangeInProgress;
    void beginChange() { ++changes_; }
    void endChange();
    void runFill(FillStep step);
    void fillSequence(const RefreshOptions& options);

    RefreshHost& host_;
    QTimer& tmrRefreshWait_;
    QTimer& tmrAutoUpdate_;
    std::array<Fill, fillStepCount> fills_;
    bool busy_ = false;
    int changes_ = 0;        // ChangeInProgress guards alive
    int holds_ = 0;          // waits for authorisation under way
    bool postponed_ = false; // a refresh was asked for during the change
    DeadAddressQueue dead_;
    IpCountWatch counts_;
};

// Held by an operation that changes the system from what a list shows, from before its first
// question until it is done. Its message boxes run the event loop, where an automatic update
// or a command would refill the list under it; so every refresh asked for meanwhile waits,
// and the last guard to end runs one in their place. Guards nest. Its failures are its own,
// never folded into those of a refresh it runs inside.
class ChangeInProgress {
public:
    explicit ChangeInProgress(RefreshCycle& cycle) : cycle_(cycle) { cycle_.beginChange(); }
    ~ChangeInProgress() { cycle_.endChange(); }
    ChangeInProgress(const ChangeInProgress&) = delete;
    ChangeInProgress& operator=(const ChangeInProgress&) = delete;

private:
    RefreshCycle& cycle_;
    FailureBatchPause ownReports_;
};

} // namespace corvane
