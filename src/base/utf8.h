#pragma once
// Decoding one UTF-8 sequence strictly: no overlong forms, no surrogates, nothing past U+10FFFF.

#include <cstddef>
#include <string_view>

namespace tamborix {

// The length of the well-formed UTF-8 sequence at the start of `s`, with its code point in
// `out`; 0 (and `out` untouched) when there is none, also for an empty `s`.
[[nodiscard]] inline std::size_t decodeUtf8(std::string_view s, char32_t& out) {
    if (s.empty()) return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    std::size_t n = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    out = c;
    return n;
}

}  // namespace tamborix
