#pragma once
// One thread that runs posted jobs in order, started with the first job. Stopping wakes a job
// that pauses, waits for the job that runs, then runs or drops the queued ones (as chosen at
// construction) and joins. Destruction stops.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace tamborix {

class Worker {
public:
    enum class AtStop { runQueued, dropQueued };

    explicit Worker(AtStop atStop);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Ignored once stopping.
    void post(std::function<void()> job);
    // Until nothing is queued or running.
    void waitIdle();

    void stop();
    // As stop(), but after `limit` without the thread ending (a job stuck in a system call) the
    // thread is left to finish on its own; its jobs and their captures stay with it. False then.
    [[nodiscard]] bool stopWithin(std::chrono::milliseconds limit);

    // For the running job: waits `period`, false as soon as a stop is asked.
    [[nodiscard]] bool pause(std::chrono::milliseconds period);
    [[nodiscard]] bool stopping() const;

    struct State;

private:
    void askStop();

    std::shared_ptr<State> state_;  // shared with the thread, which a stuck job may keep past us
    std::thread thread_;
};

}  // namespace tamborix
