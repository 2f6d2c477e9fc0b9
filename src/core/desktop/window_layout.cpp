#include "core/desktop/window_layout.h"

#include <algorithm>

namespace tamborix {

bool isWindowOp(std::string_view op) {
    return op == "left" || op == "right" || op == "max" || op == "next";
}

std::optional<Rect> placeWindow(std::string_view op, const Rect& window,
                                const std::vector<Rect>& areas) {
    if (areas.empty() || !isWindowOp(op)) return std::nullopt;
    const Point centre{window.midX(), window.midY()};
    std::size_t current = 0;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        if (areas[i].contains(centre)) {
            current = i;
            break;
        }
    }
    const Rect& area = areas[current];
    if (op == "left") return Rect{area.minX(), area.minY(), area.width / 2, area.height};
    if (op == "right") return Rect{area.midX(), area.minY(), area.width / 2, area.height};
    if (op == "max") return area;

    // "next": same relative place and size on the following area; a window larger than its
    // area is shrunk to fit the target.
    const Rect& target = areas[(current + 1) % areas.size()];
    return Rect{
        target.minX() + (window.minX() - area.minX()) / area.width * target.width,
        target.minY() + (window.minY() - area.minY()) / area.height * target.height,
        std::min(window.width / area.width, 1.0) * target.width,
        std::min(window.height / area.height, 1.0) * target.height,
    };
}

}  // namespace tamborix
