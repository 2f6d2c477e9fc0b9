#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tamborix {

// The first `count` user-perceived characters (extended grapheme clusters) of UTF-8 text, so a
// cut never splits an accented letter, an emoji sequence or a multi-byte sequence.
[[nodiscard]] std::string prefixCharacters(std::string_view utf8, std::size_t count);

// What a name with nothing visible in it is shown as.
inline constexpr std::string_view fallbackName = "Device";

// A name a phone chose, made safe to show: control characters (line breaks, escape sequences),
// line and paragraph separators and bidirectional overrides each become U+FFFD, as does any
// ill-formed UTF-8. Characters that show nothing (format characters, private use,
// noncharacters, Hangul fillers) are removed, except joiners inside emoji sequences and the tags
// of a subdivision flag. A name left without a visible character becomes fallbackName.
[[nodiscard]] std::string cleanDisplayName(std::string_view utf8);

}  // namespace tamborix
