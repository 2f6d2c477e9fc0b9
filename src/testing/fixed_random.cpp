#include "testing/fixed_random.h"

namespace tamborix::testing {

std::uint8_t FixedRandom::next() {
    ++drawn_;
    if (!scripted_.empty()) {
        const std::uint8_t b = scripted_.front();
        scripted_.pop_front();
        return b;
    }
    if (blockLeft_ == 0) {
        // splitmix64: cheap, well mixed, and fully determined by the seed.
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        block_ = z ^ (z >> 31);
        blockLeft_ = 8;
    }
    --blockLeft_;
    const auto b = static_cast<std::uint8_t>(block_);
    block_ >>= 8;
    return b;
}

void FixedRandom::fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = next();
}

std::uint32_t FixedRandom::uniform(std::uint32_t upperBound) {
    if (upperBound < 2) return 0;
    // Rejection sampling keeps the result free of modulo bias, as the real source promises.
    const std::uint32_t limit = static_cast<std::uint32_t>(-upperBound) % upperBound;
    for (;;) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | next();
        if (v >= limit) return v % upperBound;
    }
}

}  // namespace tamborix::testing
