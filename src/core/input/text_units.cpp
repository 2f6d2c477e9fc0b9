#include "core/input/text_units.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <memory>

namespace tamborix::textunits {

namespace {

icu::UnicodeString alias(std::u16string_view units) {
    // Read-only alias: no copy of the caller's units.
    return icu::UnicodeString(false, units.data(), static_cast<int32_t>(units.size()));
}

// One character iterator for the process; everything here runs on the main thread.
icu::BreakIterator* characterIterator() {
    static const std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) created.reset();
        return created;
    }();
    return it.get();
}

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
    const auto s = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

std::size_t characterCount(std::u16string_view units) {
    if (units.empty()) return 0;
    auto* it = characterIterator();
    if (it == nullptr) {
        // Without break rules, code points are the closest count there is.
        const auto s = alias(units);
        return static_cast<std::size_t>(s.countChar32());
    }
    const auto s = alias(units);
    it->setText(s);
    std::size_t n = 0;
    for (auto pos = it->next(); pos != icu::BreakIterator::DONE; pos = it->next()) ++n;
    return n;
}

std::size_t firstCharacterLength(std::u16string_view units) {
    if (units.empty()) return 0;
    auto* it = characterIterator();
    if (it == nullptr) return U16_IS_LEAD(units[0]) && units.size() > 1 ? 2 : 1;
    const auto s = alias(units);
    it->setText(s);
    const auto pos = it->next();
    return pos == icu::BreakIterator::DONE ? units.size() : static_cast<std::size_t>(pos);
}

std::optional<char32_t> singleScalar(std::u16string_view units) {
    if (units.size() == 1 && !U16_IS_SURROGATE(units[0])) return static_cast<char32_t>(units[0]);
    if (units.size() == 2 && U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1]))
        return static_cast<char32_t>(U16_GET_SUPPLEMENTARY(units[0], units[1]));
    return std::nullopt;
}

std::u16string composed(std::u16string_view units) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || nfc == nullptr) return std::u16string(units);
    const auto s = nfc->normalize(alias(units), status);
    if (U_FAILURE(status)) return std::u16string(units);
    return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

std::u16string lowercased(std::u16string_view units) {
    icu::UnicodeString s(units.data(), static_cast<int32_t>(units.size()));
    s.toLower(icu::Locale::getRoot());
    return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

std::size_t chunkEnd(std::u16string_view units, std::size_t begin, std::size_t maxUnits) {
    if (maxUnits == 0) maxUnits = 1;
    if (begin >= units.size()) return units.size();
    std::size_t end = begin + maxUnits;
    if (end >= units.size()) return units.size();
    // Cutting here would leave a lead surrogate at the end and its trail at the next start.
    if (U16_IS_LEAD(units[end - 1]) && U16_IS_TRAIL(units[end]) && end - 1 > begin) --end;
    return end;
}

}  // namespace tamborix::textunits
