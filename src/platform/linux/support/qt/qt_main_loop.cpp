#include "platform/linux/support/qt/qt_main_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

namespace tamborix {

// Shared between a timer's handle, its slot and the loop, so a callback can drop its own handle.
struct QtMainLoop::TimerState {
    QTimer* timer = nullptr;
    std::function<void()> fn;
    bool firing = false;
    bool dropped = false;
    bool repeat = false;
    Duration period{0};
    MonoTime due{};  // of the next firing, for repeating timers
    Duration early{0};
};

namespace {

using TimerState = QtMainLoop::TimerState;

class QtTimerHandle final : public TimerHandle {
public:
    explicit QtTimerHandle(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
    ~QtTimerHandle() override {
        auto* timer = state_->timer;
        timer->stop();
        state_->dropped = true;
        if (state_->firing) {
            // Still inside the timer's own callback: delete once it has returned.
            timer->deleteLater();
        } else {
            delete timer;
        }
    }

private:
    std::shared_ptr<TimerState> state_;
};

std::chrono::milliseconds toMilliseconds(Duration d) {
    if (d < Duration{0}) d = Duration{0};
    return std::chrono::round<std::chrono::milliseconds>(d);
}

// Qt timers count whole milliseconds. Repeating timers are re-armed against their own deadlines,
// so a 1/120 s period fires after 8, 8 and 9 ms in turn and keeps its rate instead of drifting.
void rearm(TimerState& state) {
    const auto now = std::chrono::steady_clock::now();
    state.due += state.period;
    // After a stall, start again from now rather than firing a burst to catch up.
    if (state.due + state.period < now) state.due = now;
    state.timer->start(toMilliseconds(state.due - now));
}

void fire(const std::shared_ptr<TimerState>& state) {
    if (state->dropped) return;
    // Re-armed before the callback, which may drop the handle and so stop the timer again.
    if (state->repeat) rearm(*state);
    state->firing = true;
    // `state` (and fn with it) stays alive even if fn drops the handle.
    state->fn();
    state->firing = false;
}

// How early a coarse repeating timer may run when the loop is awake anyway: the 5 % that Qt
// allows a coarse timer in either direction.
Duration coalesceWindow(const TimerState& state) { return state.period / 20; }

}  // namespace

QtMainLoop::QtMainLoop()
    : loopThread_(std::this_thread::get_id()),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      context_(std::make_unique<QObject>()) {
    if (!wake_) throw std::system_error(errno, std::generic_category(), "eventfd");
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wake_.get(), QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, context_.get(),
                     [this] { runPostedFromOtherThreads(); });
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        // Emitted as the loop starts a pass, right after the work of the last wake-up.
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, context_.get(),
                         [this] { runDueCoarseTimers(); });
        // Emitted once a pass's work is done, before the loop computes how long it may sleep.
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, context_.get(),
                         [this] { runEarlyStrictTimers(); });
    }
}

QtMainLoop::~QtMainLoop() = default;

MonoTime QtMainLoop::now() const { return std::chrono::steady_clock::now(); }

WallTime QtMainLoop::wallNow() const { return std::chrono::system_clock::now(); }

void QtMainLoop::post(std::function<void()> job) {
    if (std::this_thread::get_id() == loopThread_) {
        // A queued call to an object of the loop's thread: run in posting order.
        QMetaObject::invokeMethod(
            context_.get(), [job = std::move(job)] { job(); }, Qt::QueuedConnection);
        return;
    }
    {
        const std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses, and then the loop is woken already.
    (void)!::write(wake_.get(), &one, sizeof one);
}

void QtMainLoop::runPostedFromOtherThreads() {
    std::uint64_t count = 0;
    (void)!::read(wake_.get(), &count, sizeof count);
    for (;;) {
        std::function<void()> job;
        {
            const std::lock_guard lock(postedMutex_);
            if (posted_.empty()) return;
            job = std::move(posted_.front());
            posted_.pop_front();
        }
        job();
    }
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
    state->timer = timer;
    state->fn = std::move(fn);
    state->repeat = repeat;
    state->period = interval;
    state->due = std::chrono::steady_clock::now() + interval;
    state->early = options.early;
    QObject::connect(timer, &QTimer::timeout, timer, [state] { fire(state); });
    timer->start();
    // Polls and watchdogs need no wake-up of their own while something else keeps the loop busy.
    if (repeat && !options.strict) coarse_.push_back(state);
    if (repeat && options.strict && options.early > Duration{0}) early_.push_back(state);
    return std::make_unique<QtTimerHandle>(state);
}

void QtMainLoop::runDueCoarseTimers() {
    if (coarse_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    // By index: a callback may start new timers, which are appended.
    for (std::size_t i = 0; i < coarse_.size();) {
        auto state = coarse_[i].lock();
        if (!state || state->dropped) {
            coarse_[i] = std::move(coarse_.back());
            coarse_.pop_back();
            continue;
        }
        if (!state->firing && now >= state->due - coalesceWindow(*state)) fire(state);
        ++i;
    }
}

void QtMainLoop::runEarlyStrictTimers() {
    if (early_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < early_.size();) {
        auto state = early_[i].lock();
        if (!state || state->dropped) {
            early_[i] = std::move(early_.back());
            early_.pop_back();
            continue;
        }
        if (!state->firing && now >= state->due - state->early && now < state->due) {
            // Its next period counts from now, as if it had been due now.
            state->due = now;
            fire(state);
        }
        ++i;
    }
}

}  // namespace tamborix
