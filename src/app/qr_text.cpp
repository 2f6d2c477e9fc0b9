#include "app/qr_text.h"

#include <qrencode.h>

#include "base/owned.h"

namespace tamborix {

std::optional<std::vector<std::vector<bool>>> qrModules(std::string_view text) {
    const std::string data(text);
    const Owned<QRcode, QRcode_free> code(QRcode_encodeData(
        static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.data()), 0,
        QR_ECLEVEL_M));
    if (!code || code->width <= 0) return std::nullopt;
    const auto width = static_cast<std::size_t>(code->width);
    std::vector<std::vector<bool>> modules(width, std::vector<bool>(width));
    for (std::size_t y = 0; y < width; ++y) {
        for (std::size_t x = 0; x < width; ++x) modules[y][x] = code->data[y * width + x] & 1;
    }
    return modules;
}

std::vector<std::string> qrTextLines(const std::vector<std::vector<bool>>& modules) {
    constexpr long quiet = 4;
    const long width = static_cast<long>(modules.size());
    const auto light = [&](long x, long y) {
        if (x < 0 || y < 0 || x >= width || y >= width) return true;
        return !modules[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    };
    std::vector<std::string> lines;
    for (long y = -quiet; y < width + quiet; y += 2) {
        std::string line;
        for (long x = -quiet; x < width + quiet; ++x) {
            const bool top = light(x, y);
            const bool bottom = y + 1 < width + quiet ? light(x, y + 1) : false;
            if (top && bottom) line += "\u2588";
            else if (top) line += "\u2580";
            else if (bottom) line += "\u2584";
            else line += ' ';
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace tamborix
