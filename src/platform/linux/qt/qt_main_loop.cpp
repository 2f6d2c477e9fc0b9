#include "platform/linux/qt/qt_main_loop.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <utility>

namespace tamborix {

namespace {

// Shared between a timer's handle and its slot, so a callback can drop its own handle.
struct TimerState {
    bool firing = false;
    bool dropped = false;
    bool repeat = false;
    Duration period{0};
    MonoTime due{};  // of the next firing, for repeating timers
};

class QtTimerHandle final : public TimerHandle {
public:
    QtTimerHandle(QTimer* timer, std::shared_ptr<TimerState> state)
        : timer_(timer), state_(std::move(state)) {}
    ~QtTimerHandle() override {
        timer_->stop();
        if (state_->firing) {
            // Still inside the timer's own signal: delete once it has returned.
            state_->dropped = true;
            timer_->deleteLater();
        } else {
            delete timer_;
        }
    }

private:
    QTimer* timer_;
    std::shared_ptr<TimerState> state_;
};

std::chrono::milliseconds toMilliseconds(Duration d) {
    if (d < Duration{0}) d = Duration{0};
    return std::chrono::round<std::chrono::milliseconds>(d);
}

// Qt timers count whole milliseconds. Repeating timers are re-armed against their own deadlines,
// so a 1/120 s period fires after 8, 8 and 9 ms in turn and keeps its rate instead of drifting.
void rearm(QTimer* timer, TimerState& state) {
    const auto now = std::chrono::steady_clock::now();
    state.due += state.period;
    // After a stall, start again from now rather than firing a burst to catch up.
    if (state.due + state.period < now) state.due = now;
    timer->start(toMilliseconds(state.due - now));
}

}  // namespace

QtMainLoop::QtMainLoop() : context_(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() = default;

MonoTime QtMainLoop::now() const { return std::chrono::steady_clock::now(); }

WallTime QtMainLoop::wallNow() const { return std::chrono::system_clock::now(); }

void QtMainLoop::post(std::function<void()> job) {
    // A queued call to an object of the loop's thread: safe from any thread, run in posting order.
    QMetaObject::invokeMethod(
        context_.get(), [job = std::move(job)] { job(); }, Qt::QueuedConnection);
}

Timer QtMainLoop::singleShot(Duration after, std::function<void()> fn, TimerOptions options) {
    return schedule(after, false, std::move(fn), options);
}

Timer QtMainLoop::repeating(Duration period, std::function<void()> fn, TimerOptions options) {
    return schedule(period, true, std::move(fn), options);
}

Timer QtMainLoop::schedule(Duration interval, bool repeat, std::function<void()> fn,
                           TimerOptions options) {
    auto* timer = new QTimer();
    // A repeating zero interval would spin the loop.
    if (repeat && interval < std::chrono::milliseconds(1)) interval = std::chrono::milliseconds(1);
    timer->setInterval(toMilliseconds(interval));
    timer->setSingleShot(true);
    timer->setTimerType(options.strict ? Qt::PreciseTimer : Qt::CoarseTimer);
    auto state = std::make_shared<TimerState>();
    state->repeat = repeat;
    state->period = interval;
    state->due = std::chrono::steady_clock::now() + interval;
    QObject::connect(timer, &QTimer::timeout, timer, [state, timer, fn = std::move(fn)] {
        if (state->dropped) return;
        // Re-armed before the callback, which may drop the handle and so stop the timer again.
        if (state->repeat) rearm(timer, *state);
        state->firing = true;
        // The slot object (and fn) stays alive even if fn drops the handle: the timer is then
        // only scheduled for deletion.
        fn();
        state->firing = false;
    });
    timer->start();
    return std::make_unique<QtTimerHandle>(timer, state);
}

}  // namespace tamborix
