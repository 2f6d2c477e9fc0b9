#pragma once
// A brief pulse of two shrinking rings around a point, so the user sees where the pointer is.

#include <optional>

#include "ports/display_source.h"
#include "ports/main_loop.h"
#include "ports/overlay_surface.h"

namespace tamborix {

class CursorFinder {
public:
    CursorFinder(MainLoop& loop, const DisplaySource& displays, OverlaySurface& surface);
    CursorFinder(const CursorFinder&) = delete;
    CursorFinder& operator=(const CursorFinder&) = delete;

    // Around `at`, or around the real pointer ((0, 0) when it cannot be read). A request while
    // the pulse is showing restarts it and postpones the hide.
    void show(std::optional<Point> at = std::nullopt);

    [[nodiscard]] bool hidePending() const { return hideWork_ != nullptr; }

private:
    MainLoop& loop_;
    const DisplaySource& displays_;
    OverlaySurface& surface_;
    Timer hideWork_;
};

}  // namespace tamborix
