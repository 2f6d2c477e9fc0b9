#pragma once
// OverlaySurface for an X11 desktop through Qt's windows. Whether a compositor runs is asked
// each time a window is made, so a compositor started or stopped later is followed at the next
// window.

#include <functional>
#include <memory>

#include "ports/overlay_surface.h"

namespace tamborix::qt {

class LaserWindow;
class FinderWindow;

class QtOverlaySurface final : public OverlaySurface {
public:
    // `composited`: whether a compositor blends translucent windows now.
    explicit QtOverlaySurface(std::function<bool()> composited);
    ~QtOverlaySurface() override;

    void showLaser(Point origin) override;
    void moveLaser(Point origin) override;
    void hideLaser() override;
    void showFinder(const Rect& frame) override;
    void hideFinder() override;

    // The windows (null until first shown), for tests that look at them on the server.
    [[nodiscard]] LaserWindow* laserWindow() const { return laser_.get(); }
    [[nodiscard]] FinderWindow* finderWindow() const { return finder_.get(); }

private:
    std::function<bool()> composited_;
    std::unique_ptr<LaserWindow> laser_;
    std::unique_ptr<FinderWindow> finder_;
};

// Whether this process runs a Qt GUI application on the X11 platform, which the windows need.
[[nodiscard]] bool overlayWindowsPossible();

}  // namespace tamborix::qt
