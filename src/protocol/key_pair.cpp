#include "protocol/key_pair.h"

#include <sodium.h>

#include "protocol/secure_error.h"
#include "protocol/sodium_ready.h"

namespace tamborix {

KeyPair KeyPair::generate(RandomSource& rng) {
    detail::ensureSodium();
    KeyPair pair;
    rng.fill(pair.private_.data(), pair.private_.size());
    crypto_scalarmult_base(pair.public_.data(), pair.private_.data());
    return pair;
}

std::optional<KeyPair> KeyPair::fromRaw(ByteView raw32) {
    if (raw32.size() != 32) return std::nullopt;
    detail::ensureSodium();
    KeyPair pair;
    std::copy(raw32.begin(), raw32.end(), pair.private_.begin());
    crypto_scalarmult_base(pair.public_.data(), pair.private_.data());
    return pair;
}

KeyPair::~KeyPair() { sodium_memzero(private_.data(), private_.size()); }

std::array<std::uint8_t, 32> KeyPair::dh(ByteView peerPublic) const {
    if (peerPublic.size() != 32) throw SecureError::invalidKey();
    detail::ensureSodium();
    std::array<std::uint8_t, 32> shared{};
    // libsodium already refuses an all-zero result; the explicit check keeps that promise even
    // if the library's behaviour changes.
    if (crypto_scalarmult(shared.data(), private_.data(), peerPublic.data()) != 0 ||
        sodium_is_zero(shared.data(), shared.size())) {
        throw SecureError::invalidKey();
    }
    return shared;
}

}  // namespace tamborix
