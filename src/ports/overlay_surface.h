#pragma once
// The two always-on-top, click-through overlay windows: the laser dot and the cursor-finder
// pulse. Positions are window frames in global coordinates (top-left origin, like displays).
// Their look (sizes, colours, rings, animation) is in core/desktop/overlay_style.h.

#include <string>

#include "ports/geometry.h"

namespace tamborix {

class OverlaySurface {
public:
    virtual ~OverlaySurface() = default;

    // Creates the dot window on first use, places its top-left corner at `origin` and shows it
    // above everything, whatever application is active.
    virtual void showLaser(Point origin) = 0;
    virtual void moveLaser(Point origin) = 0;
    // Hides the dot; the same window is shown again by the next showLaser.
    virtual void hideLaser() = 0;

    // Creates the finder window on first use, gives it `frame`, shows it above everything and
    // plays the pulse from its start (a running pulse is replaced).
    virtual void showFinder(const Rect& frame) = 0;
    virtual void hideFinder() = 0;

    // Why nothing can be drawn above other windows in this session; empty when it can.
    [[nodiscard]] virtual std::string unavailableReason() const { return {}; }
};

}  // namespace tamborix
