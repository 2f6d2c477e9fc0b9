#include "core/input/smoother.h"

#include <algorithm>
#include <cmath>

namespace tamborix {

namespace {

constexpr Duration tick = seconds(Smoother::tickSeconds);
constexpr Duration pauseThreshold = seconds(0.1);
constexpr double sampleCap = 0.05;
constexpr double sampleWeight = 0.3;

}  // namespace

Smoother::Smoother(MainLoop& loop, InputActions& input) : loop_(loop), input_(input) {}

Smoother::~Smoother() = default;

void Smoother::add(double dx, double dy) {
    const auto now = loop_.now();
    // Arrivals after a pause (or the very first) say nothing about the phone's sending rate.
    if (lastArrival_ > now - pauseThreshold) {
        const double elapsed = toSeconds(now - lastArrival_);
        interval_ = sampleWeight * std::min(elapsed, sampleCap) + (1 - sampleWeight) * interval_;
    }
    lastArrival_ = now;

    rx_ += dx;
    ry_ += dy;
    double steps = std::round(interval_ * glide_ / tickSeconds);
    if (!std::isfinite(steps)) steps = 1;
    const auto n = static_cast<long>(std::clamp(steps, -1e6, 1e6));
    stepsLeft_ = static_cast<int>(std::max(n, 1L));

    if (n > 1) {
        if (!timer_) {
            step();
            timer_ = loop_.repeating(tick, [this] { step(); },
                                     TimerOptions{std::chrono::microseconds(500), true});
        }
    } else {
        flush();
    }
}

void Smoother::step() {
    if (stepsLeft_ > 0 && (rx_ != 0 || ry_ != 0)) {
        const double k = stepsLeft_;
        const double sx = rx_ / k;
        const double sy = ry_ / k;
        input_.move(sx, sy);
        rx_ -= sx;
        ry_ -= sy;
        --stepsLeft_;
    } else {
        flush();
    }
}

void Smoother::flush() {
    timer_.reset();
    if (rx_ != 0 || ry_ != 0) {
        const double x = rx_;
        const double y = ry_;
        rx_ = 0;
        ry_ = 0;
        input_.move(x, y);
    }
    stepsLeft_ = 0;
}

}  // namespace tamborix
