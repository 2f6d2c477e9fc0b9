#include "testing/fake_overlay_surface.h"

namespace tamborix::testing {

void FakeOverlaySurface::showLaser(Point origin) {
    laserVisible = true;
    laserOrigin = origin;
    ++laserShows;
}

void FakeOverlaySurface::moveLaser(Point origin) {
    laserOrigin = origin;
    laserMoves.push_back(origin);
}

void FakeOverlaySurface::hideLaser() { laserVisible = false; }

void FakeOverlaySurface::showFinder(const Rect& frame) {
    finderVisible = true;
    finderFrame = frame;
    ++pulses;
}

void FakeOverlaySurface::hideFinder() {
    finderVisible = false;
    ++finderHides;
}

}  // namespace tamborix::testing
