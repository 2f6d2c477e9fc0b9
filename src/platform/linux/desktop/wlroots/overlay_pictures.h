#pragma once
// The laser dot and the cursor-finder pulse drawn into pixels for a compositor that takes only
// buffers: premultiplied ARGB8888 (0xAARRGGBB words), square, anti-aliased, as
// core/desktop/overlay_style.h describes them.

#include <cstdint>
#include <span>

namespace tamborix::wlroots {

// The glow and the dot with its border, `size` x `size` pixels of one point each.
void drawLaser(std::span<std::uint32_t> pixels, int size);

// The pulse `seconds` after it began; false when no ring shows any more (the pixels are then
// all transparent).
bool drawFinder(std::span<std::uint32_t> pixels, int size, double seconds);

}  // namespace tamborix::wlroots
