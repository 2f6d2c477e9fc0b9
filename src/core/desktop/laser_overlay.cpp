#include "core/desktop/laser_overlay.h"

#include "core/desktop/display_list.h"
#include "core/desktop/overlay_style.h"

namespace tamborix {

namespace style = overlay_style::laser;

LaserOverlay::LaserOverlay(MainLoop& loop, const DisplaySource& displays, OverlaySurface& surface)
    : loop_(loop), displays_(displays), surface_(surface) {}

void LaserOverlay::setOn(bool on) {
    if (on == isOn_) return;
    isOn_ = on;
    if (on) {
        start();
    } else {
        stop();
    }
}

Point LaserOverlay::originFor(Point centre) {
    return {centre.x - style::size / 2, centre.y - style::size / 2};
}

void LaserOverlay::start() {
    const Point p = pointerOrOrigin(displays_);
    windowMade_ = true;
    last_ = p;
    surface_.showLaser(originFor(p));
    timer_ = loop_.repeating(seconds(1.0 / style::followHz), [this] { tick(); },
                             TimerOptions{seconds(style::followLeewaySeconds), false});
    // The follow timer's first firing is due at once.
    tick();
}

void LaserOverlay::stop() {
    timer_.reset();
    if (windowMade_) surface_.hideLaser();
}

void LaserOverlay::place(Point p) {
    if (!windowMade_ || p == last_) return;
    last_ = p;
    surface_.moveLaser(originFor(p));
}

void LaserOverlay::onInjectedMove(Point p) {
    if (!isOn_) return;
    lastInjected_ = loop_.now();
    place(p);
}

void LaserOverlay::tick() {
    // lastInjected_ starts at the clock's minimum; compare without subtracting from it.
    if (lastInjected_ != MonoTime::min() &&
        loop_.now() - lastInjected_ <= seconds(style::injectedHoldSeconds)) {
        return;
    }
    place(pointerOrOrigin(displays_));
}

}  // namespace tamborix
