#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tamborix {

// The first `count` user-perceived characters (extended grapheme clusters) of UTF-8 text, so a
// cut never splits an accented letter, an emoji sequence or a multi-byte sequence.
[[nodiscard]] std::string prefixCharacters(std::string_view utf8, std::size_t count);

// A name a phone chose, made safe to show: control characters (line breaks, escape sequences),
// line and paragraph separators and bidirectional overrides each become U+FFFD, as does any
// ill-formed UTF-8. Everything else, joiners in emoji sequences included, stays as it is.
[[nodiscard]] std::string cleanDisplayName(std::string_view utf8);

}  // namespace tamborix
