#pragma once
// The application's MainLoop: the Qt event loop of the thread that creates it (the main thread).

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "ports/main_loop.h"

class QObject;
class QSocketNotifier;

namespace tamborix {

class QtMainLoop final : public MainLoop {
public:
    // Needs a QCoreApplication (or one of its subclasses) to exist already.
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    [[nodiscard]] MonoTime now() const override;
    [[nodiscard]] WallTime wallNow() const override;
    void post(std::function<void()> job) override;
    // Qt timers count whole milliseconds: intervals are rounded to the nearest one. Strict timers
    // are precise timers; the others may be coalesced by the system, and a repeating one runs up
    // to 5 % of its period early when the loop is awake for something else anyway.
    [[nodiscard]] Timer singleShot(Duration after, std::function<void()> fn,
                                   TimerOptions options = {}) override;
    [[nodiscard]] Timer repeating(Duration period, std::function<void()> fn,
                                  TimerOptions options = {}) override;

    struct TimerState;

private:
    Timer schedule(Duration interval, bool repeat, std::function<void()> fn,
                   TimerOptions options);
    void runDueCoarseTimers();
    void runEarlyStrictTimers();
    void runPostedFromOtherThreads();

    // Jobs posted from other threads wait here rather than in Qt's queue, whose synchronisation
    // ThreadSanitizer cannot see: the mutex hands each job to the loop's thread, the eventfd
    // wakes it, and the job is freed where it ran. Declared before context_ so that they outlive
    // the notifier.
    std::thread::id loopThread_;
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;
    UniqueFd wake_;
    std::unique_ptr<QObject> context_;  // receiver of posted jobs; lives on the loop's thread
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
    std::vector<std::weak_ptr<TimerState>> coarse_;  // repeating timers that are not strict
    std::vector<std::weak_ptr<TimerState>> early_;   // strict repeating timers that may run early
};

}  // namespace tamborix
