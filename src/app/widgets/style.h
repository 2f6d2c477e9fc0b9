#pragma once
// The few text styles of the windows, in the spirit of the platform's type scale.

#include <QFont>
#include <QLabel>
#include <QString>

namespace tamborix::ui {

[[nodiscard]] QFont headlineFont();
[[nodiscard]] QFont calloutFont();
[[nodiscard]] QFont captionFont();
// A word-wrapped label in the caption font and the secondary text colour.
[[nodiscard]] QLabel* captionLabel(const QString& text = {});

}  // namespace tamborix::ui
