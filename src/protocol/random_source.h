#pragma once
// The one seam for randomness, so tests can fix ephemeral keys, nonces and session ids.

#include <cstddef>
#include <cstdint>

#include "protocol/bytes.h"

namespace tamborix {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void fill(std::uint8_t* out, std::size_t n) = 0;
    // Uniform in [0, upperBound) without modulo bias.
    virtual std::uint32_t uniform(std::uint32_t upperBound) = 0;
};

// libsodium's CSPRNG.
RandomSource& systemRandom();

}  // namespace tamborix
