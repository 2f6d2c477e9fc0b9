#include "store/display_name.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include "base/owned.h"
#include "base/utf8.h"
#include <memory>
#include <vector>

namespace tamborix {
namespace {

// Fallback when ICU fails: cut at a code-point boundary.
std::string prefixCodePoints(std::string_view utf8, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte & 0xC0) != 0x80 && seen++ == count) break;
    }
    return std::string(utf8.substr(0, i));
}

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool unsafe(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
           c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// Characters that show nothing, so that a name could look blank or like another device's:
// format characters (zero-width space, joiners, U+FEFF, U+2060, soft hyphen, tags), private use,
// noncharacters and the Hangul fillers, which are letters only in name.
bool invisible(char32_t c) {
    const auto type = u_charType(static_cast<UChar32>(c));
    return type == U_FORMAT_CHAR || type == U_PRIVATE_USE_CHAR ||
           u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_NONCHARACTER_CODE_POINT) ||
           c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0;
}

bool pictographic(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_EXTENDED_PICTOGRAPHIC);
}

constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t variationSelector16 = 0xFE0F;
constexpr char32_t blackFlag = 0x1F3F4;
constexpr char32_t cancelTag = 0xE007F;

bool isTag(char32_t c) { return c >= 0xE0020 && c <= 0xE007E; }

}  // namespace

std::string cleanDisplayName(std::string_view utf8) {
    struct Point {
        char32_t c;
        std::string_view bytes;  // empty: ill-formed, shown as U+FFFD
    };
    std::vector<Point> points;
    while (!utf8.empty()) {
        char32_t c = 0;
        const auto n = decodeUtf8(utf8, c);
        points.push_back(n == 0 ? Point{0xFFFD, {}} : Point{c, utf8.substr(0, n)});
        utf8.remove_prefix(n == 0 ? 1 : n);
    }
    std::string out;
    bool visible = false;
    char32_t last = 0;  // the last code point kept
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto [c, bytes] = points[i];
        if (bytes.empty() || unsafe(c)) {
            out += replacement;
            last = 0xFFFD;
            visible = true;
            continue;
        }
        if (invisible(c)) {
            // A joiner between two pictographs draws one emoji; elsewhere it only hides.
            const bool joins = c == zeroWidthJoiner && i + 1 < points.size() &&
                               pictographic(points[i + 1].c) &&
                               (pictographic(last) || last == variationSelector16 ||
                                (last >= 0x1F3FB && last <= 0x1F3FF));
            // A subdivision flag is the black flag followed by tags and a cancel tag.
            bool flagTag = false;
            if (isTag(c) || c == cancelTag) {
                std::size_t start = i;
                while (start > 0 && isTag(points[start - 1].c)) --start;
                std::size_t end = i;
                while (end < points.size() && isTag(points[end].c)) ++end;
                flagTag = start > 0 && points[start - 1].c == blackFlag && end < points.size() &&
                          points[end].c == cancelTag && end > start;
            }
            if (!joins && !flagTag) continue;
        }
        out += bytes;
        last = c;
        if (!u_isUWhiteSpace(static_cast<UChar32>(c)) && !invisible(c)) visible = true;
    }
    // A name with nothing left to see would be a blank row in the menu.
    if (!visible) return std::string(fallbackName);
    return out;
}

std::string prefixCharacters(std::string_view utf8, std::size_t count) {
    // A cheap bound: every character takes at least one byte.
    if (utf8.size() <= count) return std::string(utf8);
    UErrorCode status = U_ZERO_ERROR;
    const Owned<UText, utext_close> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
    const Owned<UBreakIterator, ubrk_close> breaks(
        ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status));
    if (U_SUCCESS(status)) ubrk_setUText(breaks.get(), text.get(), &status);
    if (U_FAILURE(status)) return prefixCodePoints(utf8, count);
    int32_t end = ubrk_first(breaks.get());
    for (std::size_t i = 0; i < count; ++i) {
        const int32_t next = ubrk_next(breaks.get());
        if (next == UBRK_DONE) return std::string(utf8);
        end = next;
    }
    return std::string(utf8.substr(0, static_cast<std::size_t>(end)));
}

}  // namespace tamborix
