#include <gtest/gtest.h>

#include "perf/main_thread_lag_probe.h"
#include "testing/manual_loop.h"

namespace tamborix {
namespace {

using testing::ManualLoop;

// A loop whose repeating timers the test fires by hand, so a firing can come late the way it
// does when the main thread was busy.
class HandFiredLoop final : public MainLoop {
public:
    [[nodiscard]] MonoTime now() const override { return inner.now(); }
    [[nodiscard]] WallTime wallNow() const override { return inner.wallNow(); }
    void post(std::function<void()> job) override { inner.post(std::move(job)); }
    [[nodiscard]] Timer singleShot(Duration after, std::function<void()> fn,
                                   TimerOptions options) override {
        return inner.singleShot(after, std::move(fn), options);
    }
    [[nodiscard]] Timer repeating(Duration, std::function<void()> fn, TimerOptions) override {
        ++repeatingCount;
        fire = std::move(fn);
        return std::make_unique<TimerHandle>();
    }

    ManualLoop inner;
    std::function<void()> fire;
    int repeatingCount = 0;
};

TEST(MainThreadLagProbe, WorstMs_BeforeFirstTick_IsZero) {
    ManualLoop loop;
    MainThreadLagProbe probe(loop);
    probe.start();
    EXPECT_EQ(probe.worstMs(), 0);
}

TEST(MainThreadLagProbe, Tick_OnTime_RecordsNoLag) {
    ManualLoop loop;
    MainThreadLagProbe probe(loop);
    probe.start();
    loop.advance(1.0);
    EXPECT_EQ(probe.worstMs(), 0);
}

TEST(MainThreadLagProbe, Tick_AfterBlockedMainThread_ReportsDelayForThreeSeconds) {
    HandFiredLoop loop;
    MainThreadLagProbe probe(loop);
    probe.start();
    ASSERT_TRUE(loop.fire);
    loop.inner.advance(0.1);
    loop.fire();
    // The main thread is busy for 250 ms: the tick due after 100 ms comes 150 ms late.
    loop.inner.advance(0.25);
    loop.fire();
    EXPECT_NEAR(probe.worstMs(), 150.0, 1e-6);
    // Punctual ticks for almost 3 s keep the late one in the window...
    for (int i = 0; i < 29; ++i) {
        loop.inner.advance(0.1);
        loop.fire();
    }
    EXPECT_NEAR(probe.worstMs(), 150.0, 1e-6);
    // ...and the next ones push it out.
    loop.inner.advance(0.1);
    loop.fire();
    loop.inner.advance(0.1);
    loop.fire();
    EXPECT_EQ(probe.worstMs(), 0);
}

TEST(MainThreadLagProbe, Start_Twice_SchedulesOneTimer) {
    HandFiredLoop loop;
    MainThreadLagProbe probe(loop);
    probe.start();
    probe.start();
    EXPECT_EQ(loop.repeatingCount, 1);
    EXPECT_TRUE(probe.running());
}

TEST(MainThreadLagProbe, Tick_Early_RecordsZeroNotNegative) {
    HandFiredLoop loop;
    MainThreadLagProbe probe(loop);
    probe.start();
    loop.inner.advance(0.05);
    loop.fire();
    EXPECT_EQ(probe.worstMs(), 0);
}

}  // namespace
}  // namespace tamborix
