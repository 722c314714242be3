#include "interfaces/ifstats.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(IfStats, CaptionCutsLongDescriptions) {
    const QString exactly35(35, QLatin1Char('a'));
    EXPECT_EQ(ifStatsCaption(exactly35, "0x2"), exactly35 + " (Index: 0x2)");
    const QString thirtySix = QString(34, QLatin1Char('b')) + "cd";
    EXPECT_EQ(ifStatsCaption(thirtySix, "0x2"), QString(34, QLatin1Char('b')) + "... (Index: 0x2)");
    EXPECT_EQ(ifStatsCaption(QString(40, QLatin1Char('x')), "0x1F"),
              QString(34, QLatin1Char('x')) + "... (Index: 0x1F)");
}

TEST(IfStats, RateSurvivesAWrapAndFollowsTheClock) {
    constexpr std::int64_t second = 1'000'000'000;
    EXPECT_EQ(octetRate(4'294'967'000U, 200, second), 496U);
    EXPECT_EQ(octetRate(1000, 3000, second), 2000U);
    // A timer that slipped: 2000 octets in 1.25 s are 1600 per second, not 2000.
    EXPECT_EQ(octetRate(1000, 3000, second + second / 4), 1600U);
    EXPECT_EQ(octetRate(1000, 3000, second / 2), 4000U);
    EXPECT_EQ(octetRate(0, 4'000'000'000U, second / 1000), 4'294'967'295U) << "capped";
    EXPECT_EQ(octetRate(5, 5, 0), 0U);
}

TEST(IfStats, MeterIsTheFourthRootAndTurnsRedAboveFullScale) {
    EXPECT_EQ(meterPosition(0), 0);
    EXPECT_EQ(meterPosition(15), 1);
    EXPECT_EQ(meterPosition(16), 2);
    EXPECT_EQ(meterPosition(80), 2);
    EXPECT_EQ(meterPosition(81), 3);
    EXPECT_EQ(meterPosition(6'249'999), 49);
    EXPECT_EQ(meterPosition(6'250'000), 50);
    EXPECT_EQ(meterPosition(4'294'967'295U), 50);

    EXPECT_FALSE(meterRed(6'250'000)) << "full, not red";
    EXPECT_TRUE(meterRed(6'250'001));
    EXPECT_FALSE(meterRed(15));
}
