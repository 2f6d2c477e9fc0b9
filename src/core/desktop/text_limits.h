#pragma once
// Limits counted in user-perceived characters (grapheme clusters), as the phone counts them.

#include <cstddef>
#include <string>
#include <string_view>

namespace tamborix {

// The number of characters of UTF-8 `text`, counting no further than `stopAt` + 1, so that a
// limit check on a long text stays cheap. Invalid sequences count as one character each.
[[nodiscard]] std::size_t characterCount(std::string_view text, std::size_t stopAt);
[[nodiscard]] inline bool longerThan(std::string_view text, std::size_t limit) {
    return characterCount(text, limit) > limit;
}

// The first `limit` characters of `text` as valid UTF-8 (invalid sequences become U+FFFD).
[[nodiscard]] std::string characterPrefix(std::string_view text, std::size_t limit);

}  // namespace tamborix
