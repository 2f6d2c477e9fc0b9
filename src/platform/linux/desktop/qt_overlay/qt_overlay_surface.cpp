#include "platform/linux/desktop/qt_overlay/qt_overlay_surface.h"

#include <QGuiApplication>
#include <cmath>

#include "platform/linux/desktop/qt_overlay/overlay_windows.h"

namespace tamborix::qt {

namespace {

QPoint toPixels(Point p) {
    return {static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y))};
}

}  // namespace

QtOverlaySurface::QtOverlaySurface(std::function<bool()> composited)
    : composited_(std::move(composited)) {}

QtOverlaySurface::~QtOverlaySurface() = default;

void QtOverlaySurface::showLaser(Point origin) {
    const bool alpha = composited_ && composited_();
    // A window made for the other kind of desktop would look wrong: black corners or no glow.
    if (laser_ && laser_->translucent() != alpha && !laser_->isVisible()) laser_.reset();
    if (!laser_) laser_ = std::make_unique<LaserWindow>(alpha);
    laser_->showAt(toPixels(origin));
}

void QtOverlaySurface::moveLaser(Point origin) {
    if (!laser_ || !laser_->isVisible()) return;
    laser_->setPosition(toPixels(origin));
}

void QtOverlaySurface::hideLaser() {
    if (laser_) laser_->hide();
}

void QtOverlaySurface::showFinder(const Rect& frame) {
    const bool alpha = composited_ && composited_();
    if (finder_ && finder_->translucent() != alpha && !finder_->isVisible()) finder_.reset();
    if (!finder_) finder_ = std::make_unique<FinderWindow>(alpha);
    // The shape of the first frame is in place before the window appears.
    finder_->restart();
    finder_->showAt(toPixels(Point{frame.x, frame.y}));
}

void QtOverlaySurface::hideFinder() {
    if (finder_) finder_->stop();
}

bool overlayWindowsPossible() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
           QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace tamborix::qt
