#pragma once

#include <cstdint>

#include "ports/main_loop.h"

namespace tamborix {

// Events per whole second of wall time. Reads the count of the previous complete second; a gap of
// two seconds or more reads 0. No allocation, so it can count every frame.
struct RateCounter {
    std::int64_t second = 0;
    std::int64_t count = 0;
    std::int64_t previous = 0;

    void hit(WallTime now) noexcept;
    [[nodiscard]] std::int64_t perSecond(WallTime now) noexcept;

private:
    void roll(std::int64_t t) noexcept;
};

}  // namespace tamborix
