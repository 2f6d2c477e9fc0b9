#pragma once
// OverlaySurface through the layer shell (wlroots compositors, KWin): the laser dot and the
// finder pulse are surfaces on the overlay layer, above every window and panel, with an empty
// input region so that clicks reach what lies below. A layer surface belongs to one output: it
// is placed by its margins from that output's top-left corner and made anew on another output
// when the point crosses over. The finder's pulse is drawn frame by frame as the compositor
// asks for frames. Everything runs on the main loop, over the connection it dispatches.

#include <memory>
#include <string>

#include "platform/linux/desktop/wlroots/output_layout.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/overlay_surface.h"
#include "wayland/layer-shell.h"

namespace tamborix::wlroots {

class LayerOverlay;

class WlrOverlaySurface final : public OverlaySurface {
public:
    // Null with `why` set when the compositor offers no layer shell (or no compositor or shared
    // memory global).
    [[nodiscard]] static std::unique_ptr<WlrOverlaySurface> create(wayland::WaylandConnection& conn,
                                                                   const OutputLayout& layout, std::string& why);
    ~WlrOverlaySurface() override;

    void showLaser(Point origin) override;
    void moveLaser(Point origin) override;
    void hideLaser() override;
    void showFinder(const Rect& frame) override;
    void hideFinder() override;

    // Whether the finder is still drawing its pulse (for tests).
    [[nodiscard]] bool finderPulsing() const;

    struct Globals {
        wayland::Proxy<wl_compositor> compositor;
        wayland::Proxy<wl_shm> shm;
        wayland::Proxy<zwlr_layer_shell_v1> shell;
    };

private:
    WlrOverlaySurface() = default;

    Globals globals_;
    std::unique_ptr<LayerOverlay> laser_;
    std::unique_ptr<LayerOverlay> finder_;
};

}  // namespace tamborix::wlroots
