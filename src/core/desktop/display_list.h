#pragma once
// The display order every part of the helper counts in: left edge first, then top edge.

#include <vector>

#include "ports/display_source.h"
#include "ports/geometry.h"

namespace tamborix {

// Stable: displays with the same left and top edge keep the system's order.
[[nodiscard]] std::vector<DisplayInfo> sortedDisplays(const DisplaySource& source);
void sortLikeDisplays(std::vector<Rect>& rects);

// 1-based position in sortedDisplays() of the first display that holds `p`, else 1.
[[nodiscard]] int displayNumberAt(const std::vector<DisplayInfo>& sorted, Point p);
// The same for the real pointer, read as (0, 0) when it cannot be read.
[[nodiscard]] int currentDisplayNumber(const DisplaySource& source);
[[nodiscard]] Point pointerOrOrigin(const DisplaySource& source);

}  // namespace tamborix
