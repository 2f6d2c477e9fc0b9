#include "core/desktop/cursor_finder.h"

#include "core/desktop/display_list.h"
#include "core/desktop/overlay_style.h"

namespace tamborix {

CursorFinder::CursorFinder(MainLoop& loop, const DisplaySource& displays, OverlaySurface& surface)
    : loop_(loop), displays_(displays), surface_(surface) {}

void CursorFinder::show(std::optional<Point> at) {
    namespace style = overlay_style::finder;
    const Point p = at ? *at : pointerOrOrigin(displays_);
    surface_.showFinder(Rect{p.x - style::size / 2, p.y - style::size / 2, style::size, style::size});
    hideWork_ = loop_.singleShot(seconds(style::hideAfterSeconds), [this] {
        surface_.hideFinder();
        hideWork_.reset();
    });
}

}  // namespace tamborix
