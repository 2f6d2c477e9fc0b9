#include "platform/linux/desktop/x11/work_areas.h"

#include <algorithm>
#include <string>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/x_properties.h"

namespace tamborix::x11 {

Rect intersection(const Rect& a, const Rect& b) {
    const double left = std::max(a.minX(), b.minX());
    const double top = std::max(a.minY(), b.minY());
    const double right = std::min(a.maxX(), b.maxX());
    const double bottom = std::min(a.maxY(), b.maxY());
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

namespace {

double area(const Rect& r) { return r.isEmpty() ? 0 : r.width * r.height; }

std::vector<Rect> rects(const std::vector<std::uint32_t>& values) {
    std::vector<Rect> out;
    for (std::size_t i = 0; i + 3 < values.size(); i += 4) {
        // Positions may be negative on screens that extend left of or above the primary.
        out.push_back({static_cast<double>(static_cast<std::int32_t>(values[i])),
                       static_cast<double>(static_cast<std::int32_t>(values[i + 1])),
                       static_cast<double>(values[i + 2]), static_cast<double>(values[i + 3])});
    }
    return out;
}

}  // namespace

std::vector<Rect> usableAreas(const std::vector<Rect>& monitors, const WorkAreaHints& hints) {
    std::vector<Rect> out;
    out.reserve(monitors.size());
    for (const auto& monitor : monitors) {
        Rect best;
        for (const auto& candidate : hints.perMonitor) {
            const Rect on = intersection(candidate, monitor);
            if (area(on) > area(best)) best = on;
        }
        if (best.isEmpty() && hints.wholeScreen) best = intersection(*hints.wholeScreen, monitor);
        out.push_back(best.isEmpty() ? monitor : best);
    }
    return out;
}

WorkAreaHints readWorkAreaHints(XConnection& x) {
    WorkAreaHints hints;
    const auto desktop =
        cardinal(x, x.root(), x.atom("_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL).value_or(0);
    hints.perMonitor = rects(cardinals(
        x, x.root(), x.atom("_GTK_WORKAREAS_D" + std::to_string(desktop)), XCB_ATOM_CARDINAL));
    const auto whole = rects(cardinals(x, x.root(), x.atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL));
    if (desktop < whole.size()) {
        hints.wholeScreen = whole[desktop];
    } else if (!whole.empty()) {
        hints.wholeScreen = whole.front();
    }
    return hints;
}

}  // namespace tamborix::x11
