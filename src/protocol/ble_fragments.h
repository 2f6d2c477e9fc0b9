#pragma once

#include <optional>
#include <vector>

#include "protocol/bytes.h"

namespace tamborix::BLEFragments {

inline constexpr std::uint8_t marker = 0x02;
inline constexpr std::uint8_t lastFlag = 0x01;
inline constexpr std::size_t minPayload = 16;
inline constexpr std::size_t maxMessage = 4160;

std::vector<Bytes> split(ByteView message, std::size_t maxChunk);

class Reassembler {
public:
    // A complete message, or nullopt while one is incomplete or after one was discarded.
    [[nodiscard]] std::optional<Bytes> push(ByteView value);
    [[nodiscard]] std::size_t pending() const noexcept { return buf_.size(); }

private:
    Bytes buf_;
};

}  // namespace tamborix::BLEFragments
