#include "testing/manual_loop.h"

#include <utility>

namespace tamborix::testing {
namespace {

// "Never" is spelled Duration::max() by some callers; it must stay in the future, not wrap.
MonoTime later(MonoTime t, Duration d) {
    if (d <= Duration{0}) return t;
    if (d > MonoTime::max() - t) return MonoTime::max();
    return t + d;
}

}  // namespace

struct ManualLoop::Entry {
    std::uint64_t id;
    Duration period;  // zero for single shots
    std::function<void()> fn;
};

class ManualLoop::Handle final : public TimerHandle {
public:
    Handle(ManualLoop* loop, Liveness::Watch alive, std::uint64_t id)
        : loop_(loop), alive_(std::move(alive)), id_(id) {}
    ~Handle() override {
        if (alive_) loop_->cancel(id_);
    }

private:
    ManualLoop* loop_;
    Liveness::Watch alive_;
    std::uint64_t id_;
};

ManualLoop::ManualLoop()
    // A fixed, arbitrary origin far from the clock's epoch, so "the distant past" stays distinct.
    : monoStart_(MonoTime{} + std::chrono::hours(24 * 365)),
      now_(monoStart_),
      wallStart_(WallTime{} + std::chrono::seconds(1'796'000'000)) {}

ManualLoop::~ManualLoop() = default;

void ManualLoop::post(std::function<void()> job) {
    std::lock_guard lock(postMutex_);
    posted_.push_back(std::move(job));
}

std::size_t ManualLoop::pendingPosts() const {
    std::lock_guard lock(postMutex_);
    return posted_.size();
}

Timer ManualLoop::singleShot(Duration after, std::function<void()> fn, TimerOptions) {
    return schedule(after, Duration{0}, std::move(fn));
}

Timer ManualLoop::repeating(Duration period, std::function<void()> fn, TimerOptions) {
    if (period <= Duration{0}) period = Duration{1};
    return schedule(period, period, std::move(fn));
}

Timer ManualLoop::schedule(Duration after, Duration period, std::function<void()> fn) {
    if (after < Duration{0}) after = Duration{0};
    const auto id = nextId_++;
    const auto due = later(now_, after);
    timers_.emplace(std::make_pair(due, id),
                    std::make_shared<Entry>(Entry{id, period, std::move(fn)}));
    dueById_[id] = due;
    return std::make_unique<Handle>(this, life_.watch(), id);
}

void ManualLoop::cancel(std::uint64_t id) {
    auto it = dueById_.find(id);
    if (it == dueById_.end()) return;
    timers_.erase({it->second, id});
    dueById_.erase(it);
}

void ManualLoop::runPosted() {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(postMutex_);
            if (posted_.empty()) return;
            job = std::move(posted_.front());
            posted_.pop_front();
        }
        job();
    }
}

void ManualLoop::advance(Duration by) {
    const auto target = later(now_, by);
    runPosted();
    while (!timers_.empty() && timers_.begin()->first.first <= target) {
        auto node = timers_.extract(timers_.begin());
        const auto due = node.key().first;
        auto entry = node.mapped();
        if (due > now_) now_ = due;
        const auto next = later(due, entry->period);
        // A repeating timer that has reached the end of the clock cannot fire again.
        if (entry->period > Duration{0} && next > due) {
            timers_.emplace(std::make_pair(next, entry->id), entry);
            dueById_[entry->id] = next;
        } else {
            dueById_.erase(entry->id);
        }
        // The entry stays alive through the call even if the callback drops its own handle.
        entry->fn();
        runPosted();
    }
    now_ = target;
    runPosted();
}

}  // namespace tamborix::testing
