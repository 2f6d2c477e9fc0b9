#pragma once
// The helper's texts in the user's language (from the locale: LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), for its own texts and Qt's, and the portable code's texts pointed at them.

#include <cstddef>
#include <span>

namespace tamborix::ui {

// A compiled translation built into the program.
struct EmbeddedTranslation {
    const char* language;  // "de"
    const unsigned char* data;
    std::size_t size;
};
[[nodiscard]] std::span<const EmbeddedTranslation> embeddedTranslations();

// Needs a QCoreApplication. Returns false when there is no translation for the user's language
// (the English source texts stay).
bool installTranslations();

}  // namespace tamborix::ui
