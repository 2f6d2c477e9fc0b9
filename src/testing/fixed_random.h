#pragma once
// A reproducible RandomSource: scripted bytes first, in the order the code under test draws them,
// then a deterministic stream from the seed. Two sources with the same seed and script produce
// the same keys, nonces and session ids.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "protocol/bytes.h"
#include "protocol/random_source.h"

namespace tamborix::testing {

class FixedRandom final : public RandomSource {
public:
    explicit FixedRandom(std::uint64_t seed = 0) : state_(seed) {}

    // Queues bytes that the next draws return before the seeded stream resumes.
    void script(ByteView bytes) { scripted_.insert(scripted_.end(), bytes.begin(), bytes.end()); }

    void fill(std::uint8_t* out, std::size_t n) override;
    std::uint32_t uniform(std::uint32_t upperBound) override;

    [[nodiscard]] std::size_t scriptedLeft() const noexcept { return scripted_.size(); }
    [[nodiscard]] std::size_t bytesDrawn() const noexcept { return drawn_; }

private:
    std::uint8_t next();

    std::deque<std::uint8_t> scripted_;
    std::uint64_t state_;
    std::uint64_t block_ = 0;
    unsigned blockLeft_ = 0;
    std::size_t drawn_ = 0;
};

}  // namespace tamborix::testing
