// The figures the benchmark prints rest on these; a wrong median or a misread stat line
// would pass or fail a bound silently.
#include "stats.h"

#include <gtest/gtest.h>

using namespace corvane::bench;

TEST(BenchStats, MedianOfOddEvenAndNoValues) {
    EXPECT_DOUBLE_EQ(median({5, 1, 9, 3, 7}), 5);
    EXPECT_DOUBLE_EQ(median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(median({8, 8, 1, 1}), 4.5);
    EXPECT_DOUBLE_EQ(median({42}), 42);
    EXPECT_DOUBLE_EQ(median({}), 0);
}

TEST(BenchStats, CpuTicksCountFromTheLastParenthesis) {
    // Fields 14 and 15 are 7 and 3; the name holds a space and a ')'.
    const char* tricky = "123 (a) b 1 2) S 1 1 1 0 -1 4194560 10 0 0 0 7 3 0 0 20 0 1 0 5";
    EXPECT_EQ(cpuTicks(tricky), 10u);
    EXPECT_EQ(cpuTicks("9 (sleep) S 1 9 9 0 -1 0 0 0 0 0 1200 34 0 0 20 0 1 0 1"), 1234u);
    EXPECT_FALSE(cpuTicks("9 sleep S 1 9 9"));
    EXPECT_FALSE(cpuTicks("9 (sleep) S 1 9 9 0 -1 0 0 0 0 0"));
    EXPECT_FALSE(cpuTicks("9 (sleep) S 1 9 9 0 -1 0 0 0 0 0 x7 3 0"));
}

TEST(BenchStats, PercentOfOneCore) {
    EXPECT_DOUBLE_EQ(percentOfCore(30, 100, 60), 0.5);
    EXPECT_DOUBLE_EQ(percentOfCore(0, 100, 60), 0);
    EXPECT_DOUBLE_EQ(percentOfCore(30, 100, 0), 0);
}

TEST(BenchStats, GapWatchKeepsTheLongestSilence) {
    GapWatch w;
    EXPECT_EQ(w.longestMs(), 0);
    w.tick(100); // only starts the watch
    EXPECT_EQ(w.longestMs(), 0);
    w.tick(105);
    w.tick(290);
    w.tick(296);
    EXPECT_DOUBLE_EQ(w.longestMs(), 185);
}
