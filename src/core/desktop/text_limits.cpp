#include "core/desktop/text_limits.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace tamborix {
namespace {

icu::UnicodeString unicode(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Building break rules costs far more than using them, so each thread keeps one iterator.
icu::BreakIterator* graphemeBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    return it.get();
}

// Points the shared iterator at `text` for one use and away from it afterwards, so that it never
// holds on to a string that is gone.
class Breaks {
public:
    explicit Breaks(const icu::UnicodeString& text) : it_(graphemeBreaks()) {
        if (it_) it_->setText(text);
    }
    ~Breaks() {
        static const icu::UnicodeString nothing;
        if (it_) it_->setText(nothing);
    }
    Breaks(const Breaks&) = delete;
    Breaks& operator=(const Breaks&) = delete;
    icu::BreakIterator* operator->() const { return it_; }
    explicit operator bool() const { return it_ != nullptr; }

private:
    icu::BreakIterator* it_;
};

}  // namespace

std::size_t characterCount(std::string_view text, std::size_t stopAt) {
    // Every character takes at least one byte, and in ASCII at most one (CR LF is one).
    if (text.size() <= stopAt && isAscii(text)) {
        std::size_t n = text.size();
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == '\r' && text[i + 1] == '\n') --n;
        }
        return n;
    }
    const icu::UnicodeString u = unicode(text);
    Breaks it(u);
    // Without break rules, code points are the closest safe count (never fewer than graphemes).
    if (!it) return static_cast<std::size_t>(u.countChar32());
    std::size_t n = 0;
    it->first();
    while (it->next() != icu::BreakIterator::DONE) {
        if (++n > stopAt) break;
    }
    return n;
}

std::string characterPrefix(std::string_view text, std::size_t limit) {
    if (text.size() <= limit && isAscii(text)) return std::string(text);
    const icu::UnicodeString u = unicode(text);
    std::int32_t end = u.length();
    if (Breaks it(u); it) {
        it->first();
        std::size_t n = 0;
        std::int32_t pos = 0;
        while (n < limit && (pos = it->next()) != icu::BreakIterator::DONE) ++n;
        if (n == limit && pos != icu::BreakIterator::DONE) end = pos;
    } else if (static_cast<std::size_t>(u.countChar32()) > limit) {
        end = u.moveIndex32(0, static_cast<std::int32_t>(limit));
    }
    std::string out;
    u.tempSubString(0, end).toUTF8String(out);
    return out;
}

}  // namespace tamborix
