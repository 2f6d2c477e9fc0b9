#pragma once
// The one seam through which portable code gets time, posting and timers. Everything that uses it
// runs on the main thread; the application backs it with the Qt event loop, tests with ManualLoop.

#include <chrono>
#include <functional>
#include <memory>

namespace tamborix {

using Duration = std::chrono::nanoseconds;
using MonoTime = std::chrono::steady_clock::time_point;  // for intervals and timeouts
using WallTime = std::chrono::system_clock::time_point;  // for stored dates

constexpr Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}
constexpr double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }

// A scheduled timer. Dropping the handle cancels the timer; a callback may drop its own handle.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
};
using Timer = std::unique_ptr<TimerHandle>;

struct TimerOptions {
    Duration leeway{0};   // how late the loop may fire, where it supports that
    bool strict = false;  // do not coalesce with other timers (precise timers)
    // A strict repeating timer may run up to this much before it is due, once the work of a pass
    // the loop makes anyway is done, where the loop supports that; its next period counts from
    // then. A loop woken often (a phone's moves) then needs no wake-up of the timer's own.
    Duration early{0};
};

class MainLoop {
public:
    virtual ~MainLoop() = default;

    [[nodiscard]] virtual MonoTime now() const = 0;
    [[nodiscard]] virtual WallTime wallNow() const = 0;

    // Runs `job` later on the main thread, after the current call stack unwinds, in posting order.
    // Safe to call from any thread.
    virtual void post(std::function<void()> job) = 0;

    [[nodiscard]] virtual Timer singleShot(Duration after, std::function<void()> fn,
                                           TimerOptions options = {}) = 0;
    // First firing one period from now.
    [[nodiscard]] virtual Timer repeating(Duration period, std::function<void()> fn,
                                          TimerOptions options = {}) = 0;
};

}  // namespace tamborix
