// The route keeper's timing against a fake clock: bursts make one check, checks keep their
// distance, failed routes wait longer each time up to the cap, and a link or address change
// ends the wait.
#include "routing/keeper_schedule.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

using Time = KeeperSchedule::Time;
using Change = KeeperSchedule::Change;
const Time t0 = Time{} + 1000s;

KeeperSchedule::Timing timing() {
    KeeperSchedule::Timing t;
    t.debounce = 150ms;
    t.deletionGrace = 1s;
    t.firstBackoff = 1s;
    t.maxBackoff = 30s;
    return t;
}

TEST(KeeperSchedule, ABurstMakesOneCheckAWindowAfterItsStart) {
    KeeperSchedule s(timing());
    EXPECT_FALSE(s.nextCheck());
    EXPECT_FALSE(s.checkDue(t0));
    for (int i = 0; i < 1000; ++i)
        s.changed(t0 + std::chrono::microseconds(i * 100),
                  i % 2 ? Change::LinkOrAddress : Change::Other);
    ASSERT_TRUE(s.nextCheck());
    EXPECT_EQ(*s.nextCheck(), t0 + 150ms); // not pushed back by the burst going on
    EXPECT_FALSE(s.checkDue(t0 + 149ms));
    EXPECT_TRUE(s.checkDue(t0 + 150ms));
    s.checked(t0 + 150ms);
    EXPECT_FALSE(s.nextCheck());
}

TEST(KeeperSchedule, ChangesWithoutPauseGetAtMostOneCheckPerWindow) {
    KeeperSchedule s(timing());
    Time now = t0;
    int checks = 0;
    // A change every millisecond for ten seconds.
    for (int ms = 0; ms < 10000; ++ms, now += 1ms) {
        s.changed(now, ms % 7 == 0 ? Change::LinkOrAddress : Change::Other);
        if (s.checkDue(now)) {
            s.checked(now);
            ++checks;
        }
    }
    EXPECT_GE(checks, 60);
    EXPECT_LE(checks, 67);
    // A retry due just after a check waits out the window from that check.
    s.checked(now);
    s.failed("r", now - 1s + 10ms);
    EXPECT_EQ(*s.nextCheck(), now + 150ms);
}

// Corvane deletes a route, then takes its name out of the store: a route that went on its own
// is looked at only after the grace, unless a link or address change explains it.
TEST(KeeperSchedule, ARouteGoneAloneWaitsForTheStoreToCatchUp) {
    KeeperSchedule s(timing());
    s.changed(t0, Change::Route);
    EXPECT_EQ(*s.nextCheck(), t0 + 1s);
    s.changed(t0 + 500ms, Change::Route); // no later than the first one's
    EXPECT_EQ(*s.nextCheck(), t0 + 1s);
    s.changed(t0 + 600ms, Change::LinkOrAddress);
    EXPECT_EQ(*s.nextCheck(), t0 + 750ms);
    s.checked(t0 + 750ms);
    s.changed(t0 + 800ms, Change::Other);
    EXPECT_EQ(*s.nextCheck(), t0 + 950ms);
}

TEST(KeeperSchedule, AFailedRouteWaitsTwiceAsLongEachTimeUpToTheCap) {
    KeeperSchedule s(timing());
    Time now = t0;
    const std::vector<std::chrono::milliseconds> expected{1s, 2s, 4s, 8s, 16s, 30s, 30s};
    for (const auto wait : expected) {
        ASSERT_TRUE(s.mayTry("r", now));
        s.failed("r", now);
        s.checked(now);
        EXPECT_EQ(s.backoffOf("r"), wait);
        EXPECT_FALSE(s.mayTry("r", now + wait - 1ms));
        // Nothing else happens: the retry is the next check, not any earlier.
        EXPECT_EQ(*s.nextCheck(), now + wait);
        now += wait;
        EXPECT_TRUE(s.checkDue(now));
    }
    // Route changes (another route's churn) do not cut the wait short.
    s.failed("r", now);
    s.checked(now);
    s.changed(now + 1s, Change::Route);
    EXPECT_FALSE(s.mayTry("r", now + 2s));
    // Another route is tried at once all the same.
    EXPECT_TRUE(s.mayTry("other", now + 1s));

    s.applied("r");
    EXPECT_EQ(s.backoffOf("r"), 0ms);
    EXPECT_TRUE(s.mayTry("r", now));
}

TEST(KeeperSchedule, ALinkOrAddressChangeEndsTheWaitButNotItsGrowth) {
    KeeperSchedule s(timing());
    for (int i = 0; i < 5; ++i)
        s.failed("r", t0);
    s.checked(t0);
    ASSERT_EQ(s.backoffOf("r"), 16s);
    s.changed(t0 + 2s, Change::LinkOrAddress);
    EXPECT_EQ(*s.nextCheck(), t0 + 2s + 150ms);
    EXPECT_TRUE(s.mayTry("r", t0 + 2s + 150ms));
    // Failing again right after the link came up still backs off from where it was.
    s.failed("r", t0 + 2s + 150ms);
    EXPECT_EQ(s.backoffOf("r"), 30s);
}

TEST(KeeperSchedule, ARouteNoLongerStoredIsForgotten) {
    KeeperSchedule s(timing());
    s.failed("gone", t0);
    s.failed("kept", t0);
    s.checked(t0);
    s.keepOnly({"kept"});
    EXPECT_EQ(s.backoffOf("gone"), 0ms);
    EXPECT_EQ(s.backoffOf("kept"), 1s);
    // Its retry no longer wakes the keeper; the kept one's does.
    EXPECT_EQ(*s.nextCheck(), t0 + 1s);
    s.keepOnly({});
    EXPECT_FALSE(s.nextCheck());
}

TEST(LogLimiter, LetsABurstThroughThenOneLinePerRefillAndCountsTheRest) {
    LogLimiter limit(3, 1s);
    EXPECT_TRUE(limit.allow(t0));
    EXPECT_TRUE(limit.allow(t0));
    EXPECT_TRUE(limit.allow(t0));
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(limit.allow(t0 + 10ms));
    EXPECT_EQ(limit.takeSuppressed(), 100u);
    EXPECT_EQ(limit.takeSuppressed(), 0u);
    EXPECT_FALSE(limit.allow(t0 + 999ms));
    EXPECT_TRUE(limit.allow(t0 + 1s));
    EXPECT_FALSE(limit.allow(t0 + 1500ms));
    // A long quiet refills to the burst, no further.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(limit.allow(t0 + 1h));
    EXPECT_FALSE(limit.allow(t0 + 1h));
}

} // namespace
