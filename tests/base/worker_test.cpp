#include "base/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;

// Blocks the worker until the test opens it.
struct Gate {
    std::promise<void> entered;
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::function<void()> job(std::atomic<bool>& done) {
        return [this, &done] {
            entered.set_value();
            opened.wait();
            done = true;
        };
    }
};

void untilStopping(const Worker& worker) {
    while (!worker.stopping()) std::this_thread::yield();
}

TEST(WorkerTest, Stop_WhileBusy_WaitsForTheRunningJobAndDropsTheQueued) {
    Worker worker(Worker::AtStop::dropQueued);
    Gate gate;
    std::atomic<bool> first = false;
    std::atomic<bool> second = false;
    worker.post(gate.job(first));
    worker.post([&] { second = true; });
    gate.entered.get_future().wait();
    auto stopping = std::async(std::launch::async, [&] { worker.stop(); });
    untilStopping(worker);
    gate.open.set_value();
    stopping.wait();
    EXPECT_TRUE(first) << "stop() returned before the running job ended";
    EXPECT_FALSE(second);
    worker.post([&] { second = true; });  // after a stop nothing runs
    EXPECT_FALSE(second);
}

TEST(WorkerTest, Stop_WithQueuedWork_RunsEveryQueuedJobInOrder) {
    Worker worker(Worker::AtStop::runQueued);
    Gate gate;
    std::atomic<bool> first = false;
    std::vector<int> order;  // written by the worker only, read after the join
    worker.post(gate.job(first));
    for (int i = 0; i < 5; ++i) worker.post([&order, i] { order.push_back(i); });
    gate.entered.get_future().wait();
    auto stopping = std::async(std::launch::async, [&] { worker.stop(); });
    untilStopping(worker);
    gate.open.set_value();
    stopping.wait();
    EXPECT_TRUE(first);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

// A job that waits for its next period is woken by the destructor; nothing else has to stop it.
TEST(WorkerTest, Destroy_WithoutStopWhilePausing_WakesTheJobAndJoins) {
    std::promise<bool> paused;
    std::promise<void> started;
    {
        Worker worker(Worker::AtStop::dropQueued);
        worker.post([&] {
            started.set_value();
            paused.set_value(worker.pause(std::chrono::hours(1)));
        });
        started.get_future().wait();
    }
    EXPECT_FALSE(paused.get_future().get());
}

// A job stuck past the limit keeps running after its owner is gone, on state it still holds.
TEST(WorkerTest, StopWithin_JobStuck_LeavesTheThreadWithWhatItNeeds) {
    Gate gate;
    std::promise<int> after;
    {
        Worker worker(Worker::AtStop::runQueued);
        auto counter = std::make_shared<int>(0);
        worker.post([&gate] { gate.opened.wait(); });
        worker.post([counter, &after] { after.set_value(++*counter); });
        EXPECT_FALSE(worker.stopWithin(10ms));
    }
    gate.open.set_value();
    EXPECT_EQ(after.get_future().get(), 1);
}

}  // namespace
}  // namespace tamborix::testing
