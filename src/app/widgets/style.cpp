#include "app/widgets/style.h"

#include <QApplication>

namespace tamborix::ui {

namespace {
QFont scaled(double factor, QFont::Weight weight = QFont::Normal) {
    QFont f = QApplication::font();
    const double base = f.pointSizeF() > 0 ? f.pointSizeF() : 10.0;
    f.setPointSizeF(base * factor);
    f.setWeight(weight);
    return f;
}
}  // namespace

QFont headlineFont() { return scaled(1.1, QFont::DemiBold); }
QFont calloutFont() { return scaled(0.95); }
QFont captionFont() { return scaled(0.85); }

QLabel* captionLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setFont(captionFont());
    label->setWordWrap(true);
    QPalette p = label->palette();
    QColor c = p.color(QPalette::WindowText);
    c.setAlphaF(0.6);
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
    return label;
}

}  // namespace tamborix::ui
