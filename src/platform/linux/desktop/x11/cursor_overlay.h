#pragma once
// The pointer drawn into a captured picture: the X server leaves it out of GetImage (hardware or
// sprite cursor), so the capture blends XFixes' image of it in at its hotspot.

#include <cstdint>
#include <vector>

namespace tamborix::x11 {

struct CursorImage {
    int pointerX = 0;  // the pointer, root coordinates
    int pointerY = 0;
    int hotX = 0;      // where the pointer sits inside the image
    int hotY = 0;
    int width = 0;
    int height = 0;
    std::uint32_t serial = 0;             // changes with the cursor's shape
    std::vector<std::uint32_t> pixels;    // premultiplied 0xAARRGGBB, row by row

    [[nodiscard]] int left() const { return pointerX - hotX; }
    [[nodiscard]] int top() const { return pointerY - hotY; }
};

// Blends `cursor` over `pixels` (0xXXRRGGBB words, `stride` bytes a row), a picture whose top-left
// corner is at (originX, originY) in root coordinates. Parts outside the picture are clipped.
void drawCursor(std::uint8_t* pixels, int stride, int width, int height, int originX, int originY,
                const CursorImage& cursor);

}  // namespace tamborix::x11
