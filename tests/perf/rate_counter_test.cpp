#include "perf/rate_counter.h"

#include <gtest/gtest.h>

namespace tamborix {
namespace {

WallTime at(double unixSeconds) {
    return WallTime{} + std::chrono::duration_cast<WallTime::duration>(
                            std::chrono::duration<double>(unixSeconds));
}

TEST(RateCounter, PerSecond_ReadInNextSecond_ReportsPreviousSecondsHits) {
    RateCounter counter;
    counter.hit(at(1000.1));
    counter.hit(at(1000.5));
    counter.hit(at(1000.9));
    EXPECT_EQ(counter.perSecond(at(1001.2)), 3);
    // Reading again in the same second keeps the same figure.
    EXPECT_EQ(counter.perSecond(at(1001.9)), 3);
}

TEST(RateCounter, PerSecond_ReadTwoSecondsLater_ReportsZero) {
    RateCounter counter;
    for (int i = 0; i < 3; ++i) counter.hit(at(1000.2));
    EXPECT_EQ(counter.perSecond(at(1002.0)), 0);
}

TEST(RateCounter, PerSecond_ReadInSameSecondAsHits_ReportsOnlyTheSecondBefore) {
    RateCounter counter;
    counter.hit(at(1000.0));
    counter.hit(at(1000.5));
    counter.hit(at(1001.1));
    counter.hit(at(1001.2));
    counter.hit(at(1001.3));
    EXPECT_EQ(counter.perSecond(at(1001.8)), 2);
    EXPECT_EQ(counter.perSecond(at(1002.0)), 3);
}

TEST(RateCounter, Hit_AfterGap_StartsFresh) {
    RateCounter counter;
    for (int i = 0; i < 5; ++i) counter.hit(at(1000.0));
    counter.hit(at(1005.0));
    EXPECT_EQ(counter.perSecond(at(1005.5)), 0);
    EXPECT_EQ(counter.perSecond(at(1006.0)), 1);
}

TEST(RateCounter, PerSecond_NoHitsEver_ReportsZero) {
    RateCounter counter;
    EXPECT_EQ(counter.perSecond(at(5000.0)), 0);
    EXPECT_EQ(counter.perSecond(at(5001.0)), 0);
}

}  // namespace
}  // namespace tamborix
