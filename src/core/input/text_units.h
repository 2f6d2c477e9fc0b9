#pragma once
// UTF-8 in, UTF-16 units out, and the character questions the keyboard path asks of them.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tamborix::textunits {

// Invalid UTF-8 sequences become U+FFFD rather than being dropped or passed through.
[[nodiscard]] std::u16string toUtf16(std::string_view utf8);

// User-perceived characters (extended grapheme clusters).
[[nodiscard]] std::size_t characterCount(std::u16string_view units);
// Length in units of the first user-perceived character; 0 for empty input.
[[nodiscard]] std::size_t firstCharacterLength(std::u16string_view units);

// The one code point `units` consists of, if it is exactly one.
[[nodiscard]] std::optional<char32_t> singleScalar(std::u16string_view units);
// The canonically composed form (NFC), so that "e" + combining acute and a precomposed "é" are
// the same character, as they are to the user.
[[nodiscard]] std::u16string composed(std::u16string_view units);
// Full (not just simple) lower-case mapping, locale-neutral.
[[nodiscard]] std::u16string lowercased(std::u16string_view units);

// End of the chunk that starts at `begin`: at most `maxUnits` units on, pulled back by one when
// it would fall between the two halves of a surrogate pair, so every chunk holds whole code
// points. Always past `begin` while units remain.
[[nodiscard]] std::size_t chunkEnd(std::u16string_view units, std::size_t begin,
                                   std::size_t maxUnits);

}  // namespace tamborix::textunits
