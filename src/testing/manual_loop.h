#pragma once
// A MainLoop whose clock moves only when a test advances it, so timing rules are checked exactly
// and without sleeping.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "base/liveness.h"
#include "ports/main_loop.h"

namespace tamborix::testing {

class ManualLoop final : public MainLoop {
public:
    ManualLoop();
    ~ManualLoop() override;

    [[nodiscard]] MonoTime now() const override { return now_; }
    [[nodiscard]] WallTime wallNow() const override { return wallStart_ + (now_ - monoStart_); }
    void post(std::function<void()> job) override;
    [[nodiscard]] Timer singleShot(Duration after, std::function<void()> fn,
                                   TimerOptions options = {}) override;
    [[nodiscard]] Timer repeating(Duration period, std::function<void()> fn,
                                  TimerOptions options = {}) override;

    // Runs posted jobs (including those they post) without moving the clock.
    void runPosted();
    // Moves the clock forward by `by`, firing every due timer at its own due time, in time order,
    // and running posted jobs after each firing. Timers scheduled by callbacks are honoured.
    void advance(Duration by);
    void advance(double secondsBy) { advance(seconds(secondsBy)); }
    // Sets the wall clock (stored dates) without touching the monotonic clock.
    void setWallTime(WallTime t) { wallStart_ = t - (now_ - monoStart_); }

    [[nodiscard]] std::size_t pendingTimers() const { return timers_.size(); }
    [[nodiscard]] std::size_t pendingPosts() const;
    [[nodiscard]] MonoTime start() const { return monoStart_; }
    // Seconds since the loop was created.
    [[nodiscard]] double elapsed() const { return toSeconds(now_ - monoStart_); }

private:
    struct Entry;
    class Handle;
    Timer schedule(Duration after, Duration period, std::function<void()> fn);
    void cancel(std::uint64_t id);

    MonoTime monoStart_;
    MonoTime now_;
    WallTime wallStart_;
    std::uint64_t nextId_ = 1;
    // Ordered by (due time, id): equal due times fire in scheduling order.
    std::map<std::pair<MonoTime, std::uint64_t>, std::shared_ptr<Entry>> timers_;
    std::map<std::uint64_t, MonoTime> dueById_;
    mutable std::mutex postMutex_;
    std::deque<std::function<void()>> posted_;
    Liveness life_;
};

}  // namespace tamborix::testing
