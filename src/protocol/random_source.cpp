#include "protocol/random_source.h"

#include <sodium.h>

#include <stdexcept>

#include "protocol/sodium_ready.h"

namespace tamborix {

namespace detail {

void ensureSodium() {
    static const bool ready = [] {
        if (sodium_init() < 0) throw std::runtime_error("libsodium failed to initialise");
        return true;
    }();
    (void)ready;
}

}  // namespace detail

namespace {

class SodiumRandom final : public RandomSource {
public:
    void fill(std::uint8_t* out, std::size_t n) override {
        if (n != 0) randombytes_buf(out, n);
    }
    std::uint32_t uniform(std::uint32_t upperBound) override {
        return upperBound < 2 ? 0 : randombytes_uniform(upperBound);
    }
};

}  // namespace

RandomSource& systemRandom() {
    detail::ensureSodium();
    static SodiumRandom source;
    return source;
}

}  // namespace tamborix
