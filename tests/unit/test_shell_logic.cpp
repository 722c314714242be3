// The shell's logic without windows: version text, uptime, the refresh sequence and its
// serialisation, the change check and the dead-address queue.
#include "corvane_result.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "recording_prompter.h"
#include "session/refresh.h"
#include "shell/uptime.h"
#include "shell/versiontext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_shell_logic";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

TEST(VersionText, PlatformSuffixAndFields) {
    struct Case {
        const char* version;
        bool xp;
        bool vista;
        const char* expected;
    };
    const Case cases[] = {
        {"0.1.0.1", true, false, "Version 0.1.0  Build 1 (Jun  6 2007)"},
        {"0.1.0.1", false, false, "Version 0.1.0  Build 1 (Jun  6 2007), not running on XP"},
        {"0.1.0.1", false, true, "Version 0.1.0  Build 1 (Jun  6 2007), running on Vista"},
        {"2.4.1", true, false, "Version 2.4.1  Build  (Jun  6 2007)"},
        {"7", true, false, "Version 7..  Build  (Jun  6 2007)"},
        {"", false, true, ""}, // unreadable version: no text at all, no suffix either
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildVersionText(c.version, "Jun  6 2007", c.xp, c.vista).toStdString(),
                  c.expected)
            << c.version << " xp=" << c.xp << " vista=" << c.vista;
}

TEST(Uptime, Format) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "0 days 0 hours 0 mins 0sec."},
        {999, "0 days 0 hours 0 mins 0sec."},
        {90061000, "1 days 1 hours 1 mins 1sec."},
        {86399999, "0 days 23 hours 59 mins 59sec."},
        {4294967295u, "49 days 17 hours 2 mins 47sec."}, // the last tick before the wrap
    };
    for (const auto& [tick, text] : cases)
        EXPECT_EQ(FormatUptime(tick).toStdString(), text) << tick;
}

TEST(Uptime, TickFollowsTheSystemUptime) {
    std::ifstream in("/proc/uptime");
    double seconds = 0;
    ASSERT_TRUE(in >> seconds);
    const uint64_t expected = static_cast<uint64_t>(seconds * 1000) & 0xFFFFFFFFu;
    const uint32_t tick = GetTickCount();
    // Both count from boot; allow for the time between the two reads and the rounding.
    EXPECT_LT(static_cast<uint32_t>(tick - static_cast<uint32_t>(expected)), 2000u);
}

TEST(DeadAddressQueue, HoldsSixteenAndGivesBackTheLastFirst) {
    DeadAddressQueue q;
    for (ULONG i = 1; i <= 16; ++i)
        EXPECT_TRUE(q.push(i));
    EXPECT_FALSE(q.push(17));
    EXPECT_EQ(q.size(), 16);
    EXPECT_EQ(q.takeLast(), 16u);
    EXPECT_EQ(q.takeLast(), 15u);
    q.reset();
    EXPECT_TRUE(q.empty());
}

TEST(IpCountWatch, ReportsEachChangeOnce) {
    IpCountWatch watch;
    MIB_IPSTATS s{};
    EXPECT_FALSE(watch.changed(s)); // all still zero, as the watch starts
    s.dwNumIf = 2;
    s.dwNumAddr = 3;
    s.dwNumRoutes = 9;
    EXPECT_TRUE(watch.changed(s));
    EXPECT_FALSE(watch.changed(s));
    s.dwNumRoutes = 10;
    EXPECT_TRUE(watch.changed(s));
    s.dwForwarding = 1; // other counters are no change
    EXPECT_FALSE(watch.changed(s));

    // Where the platform counts route changes, one with the counts unchanged is a change.
    EXPECT_FALSE(watch.changed(s, 40)); // the first number seen only starts the watch
    EXPECT_FALSE(watch.changed(s, 40));
    EXPECT_TRUE(watch.changed(s, 42));
    EXPECT_FALSE(watch.changed(s, 42));
    EXPECT_FALSE(watch.changed(s)); // a platform without the number: the counts alone
}

// A window stand-in that records what the refresh does to it.
class Host : public RefreshHost {
public:
    QString statusText() const override { return status; }
    void setStatusText(const QString& text) override {
        status = text;
        statusLog.push_back(text);
    }
    void setRefreshItemEnabled(bool enabled) override { refreshItemEnabled = enabled; }
    RefreshOptions refreshOptions() const override { return options; }

    QString status = QStringLiteral("idle");
    std::vector<QString> statusLog;
    bool refreshItemEnabled = true;
    RefreshOptions options;
};

class RefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        for (int i = 0; i < fillStepCount; ++i) {
            const auto step = static_cast<FillStep>(i);
            cycle.setFill(step, [this, i] {
                order.push_back(i);
                enabledDuringFill = host.refreshItemEnabled;
            });
        }
    }
    Host host;
    QTimer wait;
    QTimer autoUpdate;
    RefreshCycle cycle{host, wait, autoUpdate};
    std::vector<int> order;
    bool enabledDuringFill = true;
};

constexpr int IfT = 0, Ad = 1, Rt = 2, Inact = 3, Rep = 4, Conn = 5, Exp = 6, Coll = 7;

TEST_F(RefreshTest, FillOrderFollowsTheOptions) {
    struct Case {
        RefreshOptions options;
        bool pending;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{}, false, {IfT, Ad, Rt, Conn, Coll}},
        {{.showInactivePersistentRoutes = true}, false, {IfT, Ad, Rt, Inact, Conn, Coll}},
        {{.overwriteReport = true}, false, {IfT, Ad, Rt, Rep, Conn, Coll}},
        {{}, true, {IfT, Ad, Rt, Rep, Conn, Coll}},
        {{.autoExpandTree = true}, false, {IfT, Ad, Rt, Conn, Exp}},
    };
    for (const Case& c : cases) {
        order.clear();
        host.options = c.options;
        cycle.pendingReport = c.pending;
        cycle.run();
        EXPECT_EQ(order, c.expected);
        EXPECT_FALSE(cycle.pendingReport);
    }
}

TEST_F(RefreshTest, StatusRefreshItemAndAutoUpdateTimer) {
    host.options.autoUpdate = true;
    autoUpdate.setInterval(1000);
    cycle.run();
    EXPECT_FALSE(enabledDuringFill);
    EXPECT_TRUE(host.refreshItemEnabled);
    EXPECT_EQ(host.status, "idle"); // the text from before comes back
    EXPECT_EQ(host.statusLog.front(), refreshingText);
    EXPECT_TRUE(autoUpdate.isActive());
    EXPECT_FALSE(cycle.busy());

    host.options.autoUpdate = false;
    cycle.run();
    EXPECT_FALSE(autoUpdate.isActive());
}

TEST_F(RefreshTest, RefreshDuringRefreshWaitsThenRunsInFull) {
    wait.setInterval(1000);
    bool nested = false;
    cycle.setFill(FillStep::RouteTable, [&] {
        order.push_back(Rt);
        if (!nested) {
            nested = true;
            cycle.run(); // a command that arrived while the outer fill let messages run
        }
    });
    QElapsedTimer clock;
    clock.start();
    cycle.run();
    // Outer: interface table, adapters, routes; then the nested refresh in full once the guard
    // released it; then the rest of the outer one.
    const std::vector<int> expected = {IfT, Ad, Rt, IfT, Ad, Rt, Conn, Coll, Conn, Coll};
    EXPECT_EQ(order, expected);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_NE(std::find(host.statusLog.begin(), host.statusLog.end(), refreshingText + pendingText),
              host.statusLog.end());
    EXPECT_FALSE(wait.isActive());
    EXPECT_FALSE(cycle.busy());
    EXPECT_TRUE(host.refreshItemEnabled);
}

TEST_F(RefreshTest, RefreshesAskedForDuringAChangeRunOnceWhenItEnds) {
    {
        const ChangeInProgress outer(cycle);
        {
            const ChangeInProgress inner(cycle); // a change made from within another
            cycle.pendingReport = true;          // what an automatic update inside a box does
            cycle.run();
            cycle.run();
        }
        EXPECT_TRUE(order.empty());
        EXPECT_TRUE(cycle.changing());
        EXPECT_TRUE(host.statusLog.empty());
    }
    // One refresh in full, with the report the update asked for.
    EXPECT_EQ(order, (std::vector<int>{IfT, Ad, Rt, Rep, Conn, Coll}));
    EXPECT_FALSE(cycle.changing());

    order.clear();
    { const ChangeInProgress quiet(cycle); }
    EXPECT_TRUE(order.empty()); // nothing asked for, nothing run
    cycle.run();
    EXPECT_EQ(order.size(), 5U);
}

// Rows that vanish under a refresh fail their per-row call once each: one box per call name
// and refresh, while a change started inside the refresh and every forced report stand alone.
TEST_F(RefreshTest, AFailingCallShowsOneBoxPerRefresh) {
    test::RecordingPrompter prompts;
    setFailureMessagesSilenced(false);
    const auto boxes = [&prompts](const char* name) {
        return std::count_if(
            prompts.messages.begin(), prompts.messages.end(), [name](const MessageRequest& m) {
                return m.text.startsWith(QLatin1String(name) + QLatin1String(" failed: "));
            });
    };
    const unsigned before = reportedFailureCount();
    cycle.setFill(FillStep::AdapterInformation, [&] {
        for (int row = 0; row < 120; ++row) {
            ReportFailure(QStringLiteral("GetIfEntry"), ERROR_DEV_NOT_EXIST);
            ReportFailure(QStringLiteral("GetPerAdapterInfo"), ERROR_DEV_NOT_EXIST);
        }
    });
    // What a box's event loop lets through meanwhile: a nested refresh and a change.
    bool nestedOnce = false;
    prompts.whileOpen = [&](const MessageRequest&) {
        if (nestedOnce)
            return;
        nestedOnce = true;
        ReportFailure(QStringLiteral("GetIfEntry"), ERROR_DEV_NOT_EXIST);
        const ChangeInProgress change(cycle);
        ReportFailure(QStringLiteral("Add IP Address"), ERROR_ACCESS_DENIED);
        ReportFailure(QStringLiteral("Add IP Address"), ERROR_ACCESS_DENIED);
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), ERROR_ACCESS_DENIED);
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), ERROR_ACCESS_DENIED);
    };
    cycle.setFill(FillStep::RouteTable, [] {
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), ERROR_ACCESS_DENIED);
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), ERROR_ACCESS_DENIED);
    });
    cycle.run();
    EXPECT_EQ(boxes("GetIfEntry"), 1);
    EXPECT_EQ(boxes("GetPerAdapterInfo"), 1);
    EXPECT_EQ(boxes("Add IP Address"), 2);
    EXPECT_EQ(boxes("SetIPForwardEntry"), 4);
    EXPECT_EQ(reportedFailureCount() - before, 247u); // every failure still counts

    // The next refresh tells again; outside a refresh every failure has its box.
    cycle.run();
    EXPECT_EQ(boxes("GetIfEntry"), 2);
    EXPECT_EQ(boxes("GetPerAdapterInfo"), 2);
    ReportFailure(QStringLiteral("GetIfEntry"), ERROR_DEV_NOT_EXIST);
    ReportFailure(QStringLiteral("GetIfEntry"), ERROR_DEV_NOT_EXIST);
    EXPECT_EQ(boxes("GetIfEntry"), 4);
}

// Binds the table to a stand-in library that counts calls and answers success.
class FakeLibrary {
public:
    FakeLibrary() {
        LibraryPaths paths{FAKE_FULL, "/nonexistent/toolhelp.so"};
        iphlp().bind(false, paths);
        handle_ = ::dlopen(FAKE_FULL, RTLD_NOW | RTLD_NOLOAD);
        calls_ = reinterpret_cast<int (*)(const char*)>(::dlsym(handle_, "fake_calls"));
        reinterpret_cast<void (*)()>(::dlsym(handle_, "fake_reset"))();
    }
    ~FakeLibrary() {
        if (handle_)
            ::dlclose(handle_);
        iphlp().unload();
    }
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;
    int calls(const char* name) const { return calls_ ? calls_(name) : -1; }

private:
    void* handle_ = nullptr;
    int (*calls_)(const char*) = nullptr;
};

TEST_F(RefreshTest, DeadAddressesAreDeletedOnlyWithTheOption) {
    FakeLibrary lib;
    const auto queueThree = [this] {
        order.push_back(Ad);
        cycle.deadAddresses().reset();
        for (ULONG c : {4u, 5u, 6u})
            cycle.deadAddresses().push(c);
    };
    cycle.setFill(FillStep::AdapterInformation, queueThree);
    cycle.run();
    EXPECT_EQ(lib.calls("DeleteIPAddress"), 0);
    host.options.removeDeadAddresses = true;
    cycle.run();
    EXPECT_EQ(lib.calls("DeleteIPAddress"), 3);
    EXPECT_TRUE(cycle.deadAddresses().empty());
}

TEST_F(RefreshTest, AutoUpdateRefreshesOnlyWhenTheCountsMove) {
    // The real library: the first look at a live system always differs from the zero start.
    ASSERT_FALSE(iphlp().bind(false, {REAL_IPHLPAPI, "/nonexistent"}).base);
    cycle.autoUpdateTick();
    EXPECT_EQ(std::count(order.begin(), order.end(), Rep), 1); // a change rebuilds the report
    EXPECT_FALSE(cycle.pendingReport);
    order.clear();
    cycle.autoUpdateTick();
    EXPECT_TRUE(order.empty());
    iphlp().unload();
    // Without the entry point the check fails quietly and nothing refreshes.
    cycle.autoUpdateTick();
    EXPECT_TRUE(order.empty());
}

} // namespace
