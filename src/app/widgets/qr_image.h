#pragma once
// The pairing link as a QR image: dark modules on white, each module `scale` pixels square.

#include <QImage>
#include <string_view>

namespace tamborix::ui {

// A null image when the text does not fit in a QR code.
[[nodiscard]] QImage qrImage(std::string_view text, int scale = 8);

}  // namespace tamborix::ui
