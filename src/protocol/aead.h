#pragma once
// ChaCha20-Poly1305 (IETF variant: 96-bit nonce) with the tag kept apart from the ciphertext,
// the layout of sealed frames.

#include <array>
#include <cstdint>

#include "protocol/bytes.h"

namespace tamborix::Aead {

inline constexpr std::size_t keyLength = 32;
inline constexpr std::size_t nonceLength = 12;
inline constexpr std::size_t tagLength = 16;

using Key = std::array<std::uint8_t, keyLength>;
using Nonce = std::array<std::uint8_t, nonceLength>;

// Writes plaintext.size() bytes of ciphertext to `cipherOut` and the tag to `tagOut`.
[[nodiscard]] bool seal(std::uint8_t* cipherOut, std::uint8_t* tagOut, ByteView plaintext,
                        ByteView aad, const Nonce& nonce, const Key& key);
// Writes cipher.size() bytes of plaintext to `plainOut` only when the tag verifies.
[[nodiscard]] bool open(std::uint8_t* plainOut, ByteView cipher, const std::uint8_t* tag,
                        ByteView aad, const Nonce& nonce, const Key& key);

}  // namespace tamborix::Aead
