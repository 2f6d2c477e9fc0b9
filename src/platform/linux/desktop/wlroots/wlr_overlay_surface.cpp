#include "platform/linux/desktop/wlroots/wlr_overlay_surface.h"

#include <cmath>

#include "base/user_text.h"
#include "core/desktop/overlay_style.h"
#include "platform/linux/desktop/wlroots/layer_overlay.h"
#include "platform/linux/desktop/wlroots/overlay_pictures.h"

namespace tamborix::wlroots {

namespace {
int whole(double v) { return static_cast<int>(std::lround(v)); }
}  // namespace

std::unique_ptr<WlrOverlaySurface> WlrOverlaySurface::create(wayland::WaylandConnection& conn,
                                                             const OutputLayout& layout, std::string& why) {
    std::unique_ptr<WlrOverlaySurface> s(new WlrOverlaySurface);
    Globals& g = s->globals_;
    g.shell.reset(conn.bind<zwlr_layer_shell_v1>(zwlr_layer_shell_v1_interface, 4));
    g.compositor.reset(conn.bind<wl_compositor>(wl_compositor_interface, 4));
    g.shm.reset(conn.bind<wl_shm>(wl_shm_interface, 1));
    if (!g.shell) {
        why = userText("Wlroots", "the compositor offers no layer shell (zwlr_layer_shell_v1)");
        return nullptr;
    }
    if (!g.compositor || !g.shm) {
        why = userText("Wlroots", "the compositor offers no surfaces in shared memory");
        return nullptr;
    }
    namespace style = overlay_style;
    s->laser_ = std::make_unique<LayerOverlay>(
        conn, layout, g, whole(style::laser::size), "tamborix-laser",
        [](std::span<std::uint32_t> px, int size, double) {
            drawLaser(px, size);
            return true;
        },
        false);
    s->finder_ = std::make_unique<LayerOverlay>(conn, layout, g, whole(style::finder::size), "tamborix-finder",
                                                drawFinder, true);
    return s;
}

// The overlays go before the globals they were made from.
WlrOverlaySurface::~WlrOverlaySurface() {
    laser_.reset();
    finder_.reset();
}

void WlrOverlaySurface::showLaser(Point origin) { laser_->show(origin); }
void WlrOverlaySurface::moveLaser(Point origin) { laser_->move(origin); }
void WlrOverlaySurface::hideLaser() { laser_->hide(); }
void WlrOverlaySurface::showFinder(const Rect& frame) { finder_->show({frame.x, frame.y}); }
void WlrOverlaySurface::hideFinder() { finder_->hide(); }
bool WlrOverlaySurface::finderPulsing() const { return finder_->animating(); }

}  // namespace tamborix::wlroots
