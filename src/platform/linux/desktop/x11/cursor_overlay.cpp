#include "platform/linux/desktop/x11/cursor_overlay.h"

#include <algorithm>
#include <cstring>

namespace tamborix::x11 {

void drawCursor(std::uint8_t* pixels, int stride, int width, int height, int originX, int originY,
                const CursorImage& cursor) {
    if (cursor.width <= 0 || cursor.height <= 0 ||
        cursor.pixels.size() < static_cast<std::size_t>(cursor.width) * static_cast<std::size_t>(cursor.height)) {
        return;
    }
    const int left = cursor.left() - originX;
    const int top = cursor.top() - originY;
    const int x0 = std::max(0, left), x1 = std::min(width, left + cursor.width);
    const int y0 = std::max(0, top), y1 = std::min(height, top + cursor.height);
    for (int y = y0; y < y1; ++y) {
        auto* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        const std::uint32_t* src = &cursor.pixels[static_cast<std::size_t>(y - top) * static_cast<std::size_t>(cursor.width)];
        for (int x = x0; x < x1; ++x) {
            const std::uint32_t c = src[x - left];
            const std::uint32_t a = c >> 24;
            if (a == 0) continue;
            std::uint32_t d;
            std::memcpy(&d, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
            std::uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                // Premultiplied "over": source + destination × (1 − alpha), rounded.
                const std::uint32_t s = (c >> shift) & 0xFF;
                const std::uint32_t t = (d >> shift) & 0xFF;
                const std::uint32_t v = s + (t * (255 - a) + 127) / 255;
                out |= std::min<std::uint32_t>(v, 255) << shift;
            }
            std::memcpy(row + static_cast<std::ptrdiff_t>(x) * 4, &out, 4);
        }
    }
}

}  // namespace tamborix::x11
