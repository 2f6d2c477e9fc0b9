#include "platform/linux/desktop/qt_overlay/qt_overlay_surface.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

#include "core/desktop/overlay_style.h"
#include "platform/linux/desktop/qt_overlay/overlay_windows.h"

namespace tamborix::qt {

namespace {

// The core places an overlay of `size` pixels at `origin` in the X server's pixels; Qt places
// windows in device-independent pixels, which differ from them under QT_SCALE_FACTOR or a
// high-DPI setting. The centre stays where the core put it, and the window keeps its own size.
QPoint placement(Point origin, double size, const QWindow& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const double ratio = screen ? screen->devicePixelRatio() : 1.0;
    const double x = (origin.x + size / 2) / ratio - window.width() / 2.0;
    const double y = (origin.y + size / 2) / ratio - window.height() / 2.0;
    return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
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
    laser_->showAt(placement(origin, overlay_style::laser::size, *laser_));
}

void QtOverlaySurface::moveLaser(Point origin) {
    if (!laser_ || !laser_->isVisible()) return;
    laser_->setPosition(placement(origin, overlay_style::laser::size, *laser_));
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
    finder_->showAt(placement(Point{frame.x, frame.y}, frame.width, *finder_));
}

void QtOverlaySurface::hideFinder() {
    if (finder_) finder_->stop();
}

bool overlayWindowsPossible() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
           QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace tamborix::qt
