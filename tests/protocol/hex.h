#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/bytes.h"

namespace tamborix::testing {

inline Bytes fromHex(std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') { --i; continue; }
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    }
    return out;
}

inline std::string toHex(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

inline Bytes range(int from, int to) {
    Bytes out;
    for (int v = from; v < to; ++v) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

}  // namespace tamborix::testing
