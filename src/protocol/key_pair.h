#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/bytes.h"
#include "protocol/random_source.h"

namespace tamborix {

// An X25519 key pair. The private scalar is wiped when the value dies.
class KeyPair {
public:
    static KeyPair generate(RandomSource& rng = systemRandom());
    // Any 32 bytes make a valid X25519 private key; other lengths give nullopt.
    static std::optional<KeyPair> fromRaw(ByteView raw32);

    KeyPair(const KeyPair&) = default;
    KeyPair& operator=(const KeyPair&) = default;
    ~KeyPair();

    [[nodiscard]] const std::array<std::uint8_t, 32>& publicKey() const noexcept { return public_; }
    [[nodiscard]] const std::array<std::uint8_t, 32>& rawPrivate() const noexcept { return private_; }

    // X25519 with a peer's raw public key. Throws SecureError::invalidKey for a key that is not
    // 32 bytes and for an all-zero result.
    [[nodiscard]] std::array<std::uint8_t, 32> dh(ByteView peerPublic) const;

private:
    KeyPair() = default;
    std::array<std::uint8_t, 32> private_{};
    std::array<std::uint8_t, 32> public_{};
};

}  // namespace tamborix
