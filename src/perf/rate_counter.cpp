#include "perf/rate_counter.h"

namespace tamborix {

namespace {
std::int64_t unixSecond(WallTime now) {
    return std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
}
}  // namespace

void RateCounter::roll(std::int64_t t) noexcept {
    previous = (t == second + 1) ? count : 0;
    second = t;
}

void RateCounter::hit(WallTime now) noexcept {
    const auto t = unixSecond(now);
    if (t == second) {
        ++count;
        return;
    }
    roll(t);
    count = 1;
}

std::int64_t RateCounter::perSecond(WallTime now) noexcept {
    const auto t = unixSecond(now);
    if (t == second) return previous;
    roll(t);
    count = 0;
    return previous;
}

}  // namespace tamborix
