#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tamborix {

// The first `count` user-perceived characters (extended grapheme clusters) of UTF-8 text, so a
// cut never splits an accented letter, an emoji sequence or a multi-byte sequence.
[[nodiscard]] std::string prefixCharacters(std::string_view utf8, std::size_t count);

}  // namespace tamborix
