#include "core/desktop/text_limits.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace tamborix {
namespace {

// Converted once per call: callers pass short, bounded texts (names, addresses).
struct Graphemes {
    icu::UnicodeString text;
    std::unique_ptr<icu::BreakIterator> it;

    explicit Graphemes(std::string_view utf8)
        : text(icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(),
                                                             static_cast<std::int32_t>(utf8.size())))) {
        UErrorCode status = U_ZERO_ERROR;
        it.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        if (it) it->setText(text);
    }
};

}  // namespace

std::size_t characterCount(std::string_view text, std::size_t stopAt) {
    if (text.empty()) return 0;
    Graphemes g(text);
    // Without break rules, code points are the closest safe count (never fewer than graphemes).
    if (!g.it) return static_cast<std::size_t>(g.text.countChar32());
    std::size_t n = 0;
    g.it->first();
    while (g.it->next() != icu::BreakIterator::DONE) {
        if (++n > stopAt) break;
    }
    return n;
}

std::string characterPrefix(std::string_view text, std::size_t limit) {
    Graphemes g(text);
    std::int32_t end = g.text.length();
    if (g.it) {
        g.it->first();
        std::size_t n = 0;
        std::int32_t pos = 0;
        while (n < limit && (pos = g.it->next()) != icu::BreakIterator::DONE) ++n;
        if (n == limit && pos != icu::BreakIterator::DONE) end = pos;
    } else if (static_cast<std::size_t>(g.text.countChar32()) > limit) {
        end = g.text.moveIndex32(0, static_cast<std::int32_t>(limit));
    }
    std::string out;
    g.text.tempSubString(0, end).toUTF8String(out);
    return out;
}

}  // namespace tamborix
