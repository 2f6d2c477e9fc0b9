#pragma once
// The code points of UTF-16 text as the input sinks type them: a surrogate pair joined, a lone
// surrogate passed on as itself (the sink finds no key for it and says so).

#include <cstddef>
#include <string_view>
#include <vector>

namespace tamborix {

[[nodiscard]] inline std::vector<char32_t> codePoints(std::u16string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] <= 0xdfff) {
            c = 0x10000 + ((c - 0xd800) << 10) + (text[i + 1] - 0xdc00);
            ++i;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace tamborix
