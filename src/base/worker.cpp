#include "base/worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace tamborix {

struct Worker::State {
    explicit State(AtStop a) : atStop(a) {}
    const AtStop atStop;
    std::mutex mutex;
    std::condition_variable wake;  // a job queued or a stop asked
    std::condition_variable idle;  // nothing queued or running
    std::deque<std::function<void()>> jobs;
    bool running = false;
    bool stopping = false;

    [[nodiscard]] bool isIdle() const { return jobs.empty() && !running; }
};

namespace {

void run(const std::shared_ptr<Worker::State>& s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        s->wake.wait(lock, [&] { return s->stopping || !s->jobs.empty(); });
        if (s->stopping && s->atStop == Worker::AtStop::dropQueued) {
            // Dropped here, so that whatever the jobs captured is released on this thread too.
            auto dropped = std::move(s->jobs);
            s->jobs.clear();
            lock.unlock();
            dropped.clear();
            lock.lock();
        }
        if (s->jobs.empty()) {
            s->idle.notify_all();
            return;  // stopping, and nothing left to run
        }
        auto job = std::move(s->jobs.front());
        s->jobs.pop_front();
        s->running = true;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        s->running = false;
        if (s->isIdle()) s->idle.notify_all();
    }
}

}  // namespace

Worker::Worker(AtStop atStop) : state_(std::make_shared<State>(atStop)) {}

Worker::~Worker() { stop(); }

void Worker::post(std::function<void()> job) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->jobs.push_back(std::move(job));
        if (!thread_.joinable()) thread_ = std::thread([s = state_] { run(s); });
    }
    state_->wake.notify_one();
}

void Worker::waitIdle() {
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [this] { return state_->isIdle() || !thread_.joinable(); });
}

void Worker::askStop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
}

void Worker::stop() {
    askStop();
    if (thread_.joinable()) thread_.join();
}

bool Worker::stopWithin(std::chrono::milliseconds limit) {
    askStop();
    if (!thread_.joinable()) return true;
    std::unique_lock lock(state_->mutex);
    const bool ended = state_->idle.wait_for(lock, limit, [this] { return state_->isIdle(); });
    lock.unlock();
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
    return ended;
}

bool Worker::pause(std::chrono::milliseconds period) {
    std::unique_lock lock(state_->mutex);
    return !state_->wake.wait_for(lock, period, [this] { return state_->stopping; });
}

bool Worker::stopping() const {
    std::lock_guard lock(state_->mutex);
    return state_->stopping;
}

}  // namespace tamborix
