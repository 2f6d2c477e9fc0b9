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
    auto ms = toMilliseconds(interval);
    // A repeating zero interval would spin the loop.
    if (repeat && ms < std::chrono::milliseconds(1)) ms = std::chrono::milliseconds(1);
    timer->setInterval(ms);
    timer->setSingleShot(!repeat);
    timer->setTimerType(options.strict ? Qt::PreciseTimer : Qt::CoarseTimer);
    auto state = std::make_shared<TimerState>();
    QObject::connect(timer, &QTimer::timeout, timer, [state, fn = std::move(fn)] {
        if (state->dropped) return;
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
