#pragma once

#include <deque>
#include <utility>

#include "ports/main_loop.h"

namespace tamborix {

// How late a 0.1 s main-loop timer fires: a busy main thread delays it by that much. The
// application owns one and runs it only while someone looks (a phone, a view of the statistics),
// so an idle helper sleeps; readers keep a reference.
class MainThreadLagProbe {
public:
    static constexpr Duration period = std::chrono::milliseconds(100);
    static constexpr Duration window = std::chrono::seconds(3);

    explicit MainThreadLagProbe(MainLoop& loop);

    // Both idempotent; stop() forgets the ticks, so a later start does not report old lag.
    void start();
    void stop();
    [[nodiscard]] bool running() const noexcept { return timer_ != nullptr; }
    // The worst lag in milliseconds among the ticks of the last 3 s; 0 before the first tick.
    [[nodiscard]] double worstMs() const;

    // One timer firing; public so a loop that is not the probe's own can drive it.
    void tick();

private:
    MainLoop& loop_;
    Timer timer_;
    MonoTime expected_;
    std::deque<std::pair<MonoTime, double>> recent_;
};

}  // namespace tamborix
