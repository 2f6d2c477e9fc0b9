#include "platform/linux/support/qt/qt_main_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

TEST(QtMainLoopTest, Post_FromSeveralThreads_RunsOnLoopThreadInPostingOrderPerThread) {
    QtMainLoop loop;
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> seen;
    bool offThread = false;
    constexpr int perThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&loop, &seen, &offThread, mainThread, t] {
            for (int i = 0; i < perThread; ++i)
                loop.post([&seen, &offThread, mainThread, t, i] {
                    if (std::this_thread::get_id() != mainThread) offThread = true;
                    seen.push_back(t * 1000 + i);
                });
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_TRUE(spinUntil([&] { return seen.size() == 3 * perThread; }));
    EXPECT_FALSE(offThread);
    int last[3] = {-1, -1, -1};
    for (int v : seen) {
        const int t = v / 1000;
        EXPECT_GT(v % 1000, last[t]);
        last[t] = v % 1000;
    }
}

TEST(QtMainLoopTest, Post_NotRunInsideTheCall_RunsAfterStackUnwinds) {
    QtMainLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
        order.push_back(2);
    });
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(QtMainLoopTest, SingleShot_Fires_OnceAndDropBeforeFiringCancels) {
    QtMainLoop loop;
    int fired = 0;
    int cancelledFired = 0;
    auto timer = loop.singleShot(std::chrono::milliseconds(5), [&] { ++fired; });
    auto cancelled = loop.singleShot(std::chrono::milliseconds(5), [&] { ++cancelledFired; },
                                     TimerOptions{.strict = true});
    cancelled.reset();
    ASSERT_TRUE(spinUntil([&] { return fired == 1; }));
    // A later timer firing shows that the dropped one had its chance too.
    bool later = false;
    auto marker = loop.singleShot(std::chrono::milliseconds(30), [&] { later = true; });
    ASSERT_TRUE(spinUntil([&] { return later; }));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelledFired, 0);
}

TEST(QtMainLoopTest, Repeating_CallbackDropsOwnHandle_StopsWithoutCrash) {
    QtMainLoop loop;
    int ticks = 0;
    Timer timer;
    timer = loop.repeating(std::chrono::milliseconds(2), [&] {
        if (++ticks == 3) timer.reset();
    }, TimerOptions{.strict = true});
    ASSERT_TRUE(spinUntil([&] { return ticks == 3; }));
    bool later = false;
    auto marker = loop.singleShot(std::chrono::milliseconds(30), [&] { later = true; });
    ASSERT_TRUE(spinUntil([&] { return later; }));
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(timer, nullptr);
}

TEST(QtMainLoopTest, Clocks_Advance_MonotonicAndWallAgree) {
    QtMainLoop loop;
    const auto a = loop.now();
    const auto wa = loop.wallNow();
    bool fired = false;
    auto t = loop.singleShot(std::chrono::milliseconds(20), [&] { fired = true; });
    ASSERT_TRUE(spinUntil([&] { return fired; }));
    EXPECT_GT(loop.now(), a);
    EXPECT_GT(loop.wallNow(), wa);
}

TEST(QtMainLoopTest, RepeatingCoarse_LoopAwakeWithinFivePercentOfDue_RunsInThatPassOnce) {
    QtMainLoop loop;
    std::vector<std::string> order;
    std::vector<MonoTime> ticks;
    const auto start = loop.now();
    const auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
    auto poll = loop.repeating(std::chrono::milliseconds(400), [&] {
        order.push_back("tick");
        ticks.push_back(loop.now());
    });
    auto precise = loop.repeating(std::chrono::milliseconds(400), [&] { order.push_back("strict"); },
                                  TimerOptions{.strict = true});
    // Inside the last 5 % of the period, something else wakes the loop.
    while (loop.now() < at(385)) QCoreApplication::processEvents();
    loop.post([&] { order.push_back("job"); });
    // A loaded machine may let this thread sleep past a due time: the strict timer may then have
    // run more than once, and before the others in the same pass.
    ASSERT_TRUE(spinUntil([&] {
        return std::count(order.begin(), order.end(), "strict") >= 1 && loop.now() > at(600);
    }));
    // The coarse poll ran in the pass that woke for the job, before it, and not again at its due
    // time (the next one is at 800 ms, and may run from 780 ms).
    std::vector<std::string> coarse;
    std::copy_if(order.begin(), order.end(), std::back_inserter(coarse), [](const auto& s) { return s != "strict"; });
    ASSERT_GE(coarse.size(), 2u);
    EXPECT_EQ(coarse[0], "tick");
    EXPECT_EQ(coarse[1], "job");
    EXPECT_EQ(std::count_if(ticks.begin(), ticks.end(), [&](MonoTime t) { return t < at(780); }), 1);
}

}  // namespace
}  // namespace tamborix::testing
