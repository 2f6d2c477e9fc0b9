#pragma once
// Spreads each burst of relative pointer motion over the expected time until the next burst, in
// ticks of 1/120 s, so that the pointer glides instead of jumping. Main thread only.

#include "core/input/input_injector.h"
#include "ports/main_loop.h"

namespace tamborix {

class Smoother {
public:
    static constexpr double tickSeconds = 1.0 / 120.0;

    Smoother(MainLoop& loop, InputActions& input);
    ~Smoother();
    Smoother(const Smoother&) = delete;
    Smoother& operator=(const Smoother&) = delete;

    void add(double dx, double dy);
    // Posts any remainder at once and stops spreading.
    void flush();

    // Scales the spreading time (0.5 while the laser pointer is on).
    [[nodiscard]] double glide() const { return glide_; }
    void setGlide(double g) { glide_ = g; }

    [[nodiscard]] double interval() const { return interval_; }
    [[nodiscard]] int stepsLeft() const { return stepsLeft_; }
    [[nodiscard]] bool spreading() const { return timer_ != nullptr; }

private:
    void step();

    MainLoop& loop_;
    InputActions& input_;
    double rx_ = 0;
    double ry_ = 0;
    int stepsLeft_ = 0;
    double interval_ = 1.0 / 60.0;
    MonoTime lastArrival_ = InputInjector::distantPast;
    Timer timer_;
    double glide_ = 1.0;
};

}  // namespace tamborix
