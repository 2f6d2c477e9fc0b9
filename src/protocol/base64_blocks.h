#pragma once
// The bulk of a base64 encoding, twelve bytes to sixteen characters at a time, where the processor
// has the instructions for it.

#include <cstddef>
#include <cstdint>

namespace tamborix::Wire::blocks {

// Encodes whole blocks of 12 bytes from `in` into `out` with the alphabet whose last two
// characters are `c62` and `c63`, reading no byte at or past `size`. Returns the bytes encoded
// (a multiple of 12, possibly 0); the caller encodes the rest.
[[nodiscard]] std::size_t encode(const std::uint8_t* in, std::size_t size, char* out, char c62, char c63);

}  // namespace tamborix::Wire::blocks
