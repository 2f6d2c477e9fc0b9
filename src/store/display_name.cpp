#include "store/display_name.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

namespace tamborix {
namespace {

struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
struct BreakCloser {
    void operator()(UBreakIterator* it) const { ubrk_close(it); }
};

// Fallback when ICU fails: cut at a code-point boundary.
std::string prefixCodePoints(std::string_view utf8, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte & 0xC0) != 0x80 && seen++ == count) break;
    }
    return std::string(utf8.substr(0, i));
}

}  // namespace

std::string prefixCharacters(std::string_view utf8, std::size_t count) {
    // A cheap bound: every character takes at least one byte.
    if (utf8.size() <= count) return std::string(utf8);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, TextCloser> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
    std::unique_ptr<UBreakIterator, BreakCloser> breaks(
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
