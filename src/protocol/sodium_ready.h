#pragma once
// libsodium picks its fastest implementations in sodium_init(); every entry point that reaches
// libsodium calls this first. Internal to the protocol library.

#include <cstdint>

#include "protocol/bytes.h"

namespace tamborix::detail {

void ensureSodium();

// libsodium declares its buffer arguments non-null even when their length is zero, while an
// empty span may well carry a null pointer.
inline const std::uint8_t* nonNull(ByteView bytes) noexcept {
    static constexpr std::uint8_t empty = 0;
    return bytes.data() != nullptr ? bytes.data() : &empty;
}

}  // namespace tamborix::detail
