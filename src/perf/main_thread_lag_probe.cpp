#include "perf/main_thread_lag_probe.h"

#include <algorithm>

namespace tamborix {

MainThreadLagProbe::MainThreadLagProbe(MainLoop& loop) : loop_(loop), expected_(loop.now()) {}

void MainThreadLagProbe::start() {
    if (timer_) return;
    expected_ = loop_.now() + period;
    // The timer dies with the probe, so the callback never sees a dead probe.
    // Served at the end of a pass the loop makes anyway within the last 5 % of the period: the
    // loop was free then, and the tick takes no wake-up of its own while a phone sends.
    timer_ = loop_.repeating(period, [this] { tick(); }, TimerOptions{.strict = true, .early = period / 20});
}

void MainThreadLagProbe::stop() {
    timer_.reset();
    recent_.clear();
}

void MainThreadLagProbe::tick() {
    const auto now = loop_.now();
    const double lateMs = std::chrono::duration<double, std::milli>(now - expected_).count();
    expected_ = now + period;
    recent_.emplace_back(now, std::max(lateMs, 0.0));
    while (!recent_.empty() && now - recent_.front().first > window) recent_.pop_front();
}

double MainThreadLagProbe::worstMs() const {
    double worst = 0;
    for (const auto& [at, lag] : recent_) worst = std::max(worst, lag);
    return worst;
}

}  // namespace tamborix
