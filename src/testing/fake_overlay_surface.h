#pragma once
// An OverlaySurface that records what the windows would show.

#include <optional>
#include <string>
#include <vector>

#include "ports/overlay_surface.h"

namespace tamborix::testing {

class FakeOverlaySurface final : public OverlaySurface {
public:
    void showLaser(Point origin) override;
    void moveLaser(Point origin) override;
    void hideLaser() override;
    void showFinder(const Rect& frame) override;
    void hideFinder() override;
    [[nodiscard]] std::string unavailableReason() const override { return unavailable; }

    std::string unavailable;  // set: a session where nothing can be drawn above windows, and why

    // Laser dot.
    bool laserVisible = false;
    std::optional<Point> laserOrigin;  // top-left of the dot window, once placed
    int laserShows = 0;
    std::vector<Point> laserMoves;  // every moveLaser, in order

    // Cursor finder.
    bool finderVisible = false;
    std::optional<Rect> finderFrame;
    int pulses = 0;  // every showFinder starts a pulse
    int finderHides = 0;
};

}  // namespace tamborix::testing
