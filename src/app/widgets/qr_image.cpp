#include "app/widgets/qr_image.h"

#include "app/qr_text.h"

namespace tamborix::ui {

QImage qrImage(std::string_view text, int scale) {
    const auto modules = qrModules(text);
    if (!modules || scale <= 0) return {};
    const int n = static_cast<int>(modules->size());
    QImage image(n * scale, n * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRgb dark = qRgb(0, 0, 0);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            if (!(*modules)[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]) continue;
            for (int dy = 0; dy < scale; ++dy) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y * scale + dy));
                for (int dx = 0; dx < scale; ++dx) line[x * scale + dx] = dark;
            }
        }
    }
    return image;
}

}  // namespace tamborix::ui
