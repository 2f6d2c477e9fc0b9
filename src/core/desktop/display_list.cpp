#include "core/desktop/display_list.h"

#include <algorithm>

namespace tamborix {
namespace {

bool before(const Rect& a, const Rect& b) {
    if (a.minX() != b.minX()) return a.minX() < b.minX();
    return a.minY() < b.minY();
}

}  // namespace

std::vector<DisplayInfo> sortedDisplays(const DisplaySource& source) {
    auto list = source.displays();
    std::stable_sort(list.begin(), list.end(),
                     [](const DisplayInfo& a, const DisplayInfo& b) { return before(a.bounds, b.bounds); });
    return list;
}

void sortLikeDisplays(std::vector<Rect>& rects) {
    std::stable_sort(rects.begin(), rects.end(), before);
}

int displayNumberAt(const std::vector<DisplayInfo>& sorted, Point p) {
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i].bounds.contains(p)) return static_cast<int>(i) + 1;
    }
    return 1;
}

Point pointerOrOrigin(const DisplaySource& source) { return source.pointer().value_or(Point{}); }

int currentDisplayNumber(const DisplaySource& source) {
    return displayNumberAt(sortedDisplays(source), pointerOrOrigin(source));
}

}  // namespace tamborix
