#include "testing/manual_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamborix::testing {
namespace {

double since(const ManualLoop& loop) { return loop.elapsed(); }

TEST(ManualLoopPost, RunPosted_JobsPostingJobs_RunInPostingOrderWithoutMovingClock) {
    ManualLoop loop;
    std::vector<std::string> order;
    loop.post([&] {
        order.push_back("a");
        loop.post([&] { order.push_back("c"); });
    });
    loop.post([&] { order.push_back("b"); });
    EXPECT_TRUE(order.empty()) << "posting must not run anything on the caller's stack";
    EXPECT_EQ(loop.pendingPosts(), 2u);
    loop.runPosted();
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(loop.pendingPosts(), 0u);
    EXPECT_EQ(loop.now(), loop.start());
}

TEST(ManualLoopTimers, Advance_TimersOutOfOrder_FireInDueOrderAtTheirOwnTime) {
    ManualLoop loop;
    std::vector<std::pair<int, double>> fired;
    auto t3 = loop.singleShot(seconds(3), [&] { fired.emplace_back(3, since(loop)); });
    auto t1 = loop.singleShot(seconds(1), [&] { fired.emplace_back(1, since(loop)); });
    auto t2 = loop.singleShot(seconds(2), [&] { fired.emplace_back(2, since(loop)); });
    loop.advance(2.5);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0], (std::pair<int, double>{1, 1.0}));
    EXPECT_EQ(fired[1], (std::pair<int, double>{2, 2.0}));
    EXPECT_DOUBLE_EQ(since(loop), 2.5);
    loop.advance(0.5);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2], (std::pair<int, double>{3, 3.0}));
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(ManualLoopTimers, Advance_EqualDueTimes_FireInSchedulingOrder) {
    ManualLoop loop;
    std::string order;
    auto b = loop.singleShot(seconds(1), [&] { order += 'b'; });
    auto a = loop.singleShot(seconds(1), [&] { order += 'a'; });
    auto c = loop.singleShot(seconds(1), [&] { order += 'c'; });
    loop.advance(1.0);
    EXPECT_EQ(order, "bac");
}

TEST(ManualLoopTimers, Advance_TimerScheduledByCallback_FiresInSameAdvanceWhenDue) {
    ManualLoop loop;
    std::vector<double> fired;
    Timer inner;
    auto outer = loop.singleShot(seconds(1), [&] {
        fired.push_back(since(loop));
        inner = loop.singleShot(seconds(0.5), [&] { fired.push_back(since(loop)); });
    });
    Timer late;
    auto scheduler = loop.singleShot(seconds(1.5), [&] {
        late = loop.singleShot(seconds(1), [&] { fired.push_back(since(loop)); });
    });
    loop.advance(2.0);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 1.5}));
    EXPECT_EQ(loop.pendingTimers(), 1u) << "the timer due at 2.5 s waits for the next advance";
    loop.advance(1.0);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 1.5, 2.5}));
}

TEST(ManualLoopTimers, Advance_PostsFromCallback_RunBeforeTheNextTimer) {
    ManualLoop loop;
    std::string order;
    auto a = loop.singleShot(seconds(1), [&] {
        order += 'a';
        loop.post([&] { order += 'p'; });
    });
    auto b = loop.singleShot(seconds(1), [&] { order += 'b'; });
    loop.advance(1.0);
    EXPECT_EQ(order, "apb");
}

TEST(ManualLoopCancel, DroppingHandle_BeforeDue_TimerNeverFires) {
    ManualLoop loop;
    int fired = 0;
    auto single = loop.singleShot(seconds(1), [&] { ++fired; });
    auto repeating = loop.repeating(seconds(1), [&] { ++fired; });
    single.reset();
    repeating.reset();
    EXPECT_EQ(loop.pendingTimers(), 0u);
    loop.advance(5.0);
    EXPECT_EQ(fired, 0);
}

TEST(ManualLoopCancel, CallbackDroppingAnotherDueHandle_CancelsItAtTheSameInstant) {
    ManualLoop loop;
    std::string order;
    Timer second;
    auto first = loop.singleShot(seconds(1), [&] {
        order += 'a';
        second.reset();
    });
    second = loop.singleShot(seconds(1), [&] { order += 'b'; });
    loop.advance(2.0);
    EXPECT_EQ(order, "a");
}

TEST(ManualLoopCancel, CallbackDroppingOwnHandle_StopsRepeatingTimerSafely) {
    ManualLoop loop;
    int fired = 0;
    Timer self;
    self = loop.repeating(seconds(1), [&] {
        // Destroys the handle (and so the timer) while its own callback runs.
        if (++fired == 3) self.reset();
    });
    loop.advance(10.0);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(ManualLoopCancel, CallbackReplacingOwnHandle_KeepsOnlyTheNewTimer) {
    ManualLoop loop;
    std::vector<double> fired;
    Timer self;
    self = loop.singleShot(seconds(1), [&] {
        fired.push_back(since(loop));
        if (fired.size() < 3) self = loop.singleShot(seconds(2), [&] {
            fired.push_back(since(loop));
        });
    });
    loop.advance(10.0);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 3.0}));
}

TEST(ManualLoopCancel, HandleOutlivingLoop_IsHarmlessToDrop) {
    Timer survivor;
    {
        ManualLoop loop;
        survivor = loop.singleShot(seconds(1), [] {});
    }
    survivor.reset();
    SUCCEED() << "dropping a handle after its loop died must not touch the loop";
}

TEST(ManualLoopRepeating, Advance_SeveralPeriodsAtOnce_FiresOncePerPeriodOnTime) {
    ManualLoop loop;
    std::vector<double> fired;
    auto timer = loop.repeating(seconds(1), [&] { fired.push_back(since(loop)); });
    loop.advance(3.5);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 2.0, 3.0}));
    loop.advance(0.5);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST(ManualLoopRepeating, Advance_FractionalPeriod_KeepsExactSchedule) {
    ManualLoop loop;
    int ticks = 0;
    auto timer = loop.repeating(std::chrono::nanoseconds(8'333'333), [&] { ++ticks; });
    loop.advance(seconds(1.0));
    // 120 ticks of 8 333 333 ns end at 0.99999996 s; the 121st is due after one second.
    EXPECT_EQ(ticks, 120);
}

TEST(ManualLoopTimers, SingleShot_LongestDelay_NeverFiresNorWrapsAround) {
    ManualLoop loop;
    int fired = 0;
    auto never = loop.singleShot(Duration::max(), [&] { ++fired; });
    auto slow = loop.repeating(Duration::max(), [&] { ++fired; });
    loop.advance(seconds(3600.0 * 24 * 365 * 100));
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(loop.pendingTimers(), 2u);
    loop.advance(Duration::max());
    EXPECT_EQ(fired, 2) << "both fire once at the end of the clock, the repeating one stops";
}

TEST(ManualLoopClock, WallNow_FollowsAdvanceAndCanBeSet) {
    ManualLoop loop;
    const auto wall = loop.wallNow();
    loop.advance(2.0);
    EXPECT_EQ(loop.wallNow() - wall, seconds(2.0));
    const WallTime fixed = WallTime{} + std::chrono::seconds(1'767'225'600);
    loop.setWallTime(fixed);
    EXPECT_EQ(loop.wallNow(), fixed);
    loop.advance(1.5);
    EXPECT_EQ(loop.wallNow(), fixed + seconds(1.5));
    EXPECT_DOUBLE_EQ(since(loop), 3.5) << "setting the wall clock must not move the monotonic one";
}

}  // namespace
}  // namespace tamborix::testing
