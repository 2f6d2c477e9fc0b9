#pragma once
// One square overlay on the layer shell's overlay layer: a wl_surface with an empty input region
// and a layer surface on the output under its centre, anchored to that output's top-left corner
// and placed by its margins. Its picture is a shared-memory buffer it draws when asked: once
// (the laser) or at every frame the compositor asks for until the drawing says it is over (the
// finder's pulse).

#include <sys/mman.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/desktop/wlroots/output_layout.h"
#include "platform/linux/desktop/wlroots/wlr_overlay_surface.h"

namespace tamborix::wlroots {

// A picture the compositor may read until it releases it.
struct ShmPicture {
    ShmPicture(wl_shm* shm, int size);
    ~ShmPicture();
    ShmPicture(const ShmPicture&) = delete;
    ShmPicture& operator=(const ShmPicture&) = delete;
    [[nodiscard]] bool valid() const { return buffer != nullptr; }
    [[nodiscard]] std::span<std::uint32_t> pixels() const {
        return {static_cast<std::uint32_t*>(data), bytes / 4};
    }

    UniqueFd fd;
    void* data = MAP_FAILED;
    std::size_t bytes = 0;
    wayland::Proxy<wl_buffer> buffer;
    bool busy = false;  // attached and not yet released
};

class LayerOverlay {
public:
    // Draws into the pixels `seconds` after show(); false once there is nothing more to show.
    using Draw = std::function<bool(std::span<std::uint32_t> pixels, int size, double seconds)>;

    LayerOverlay(wayland::WaylandConnection& conn, const OutputLayout& layout,
                 const WlrOverlaySurface::Globals& globals, int size, std::string name, Draw draw, bool animated);
    ~LayerOverlay();

    // Shows the picture from its start with its top-left corner at `origin` (global coordinates).
    void show(Point origin);
    // Moves a shown overlay; nothing while hidden.
    void move(Point origin);
    void hide();
    [[nodiscard]] bool shown() const { return shown_; }
    [[nodiscard]] bool animating() const { return frame_ != nullptr; }

    // Listener plumbing.
    void configured(std::uint32_t serial);
    void closed();
    void frameDone();

private:
    // Makes the surfaces on `output` and asks to be configured.
    void make(const Output& output);
    void drop();
    void place(Point origin);
    // Draws the next picture into a free buffer and commits it.
    void present();

    wayland::WaylandConnection& conn_;
    const OutputLayout& layout_;
    const WlrOverlaySurface::Globals& globals_;
    const int size_;
    const std::string name_;
    const Draw draw_;
    const bool animated_;

    std::vector<std::unique_ptr<ShmPicture>> pictures_;
    bool shown_ = false;
    Point origin_;
    std::uint32_t outputName_ = 0;  // the output's global, 0 while no surface exists
    Rect outputBounds_;
    bool configured_ = false;
    bool finished_ = false;  // the drawing said it was over
    std::chrono::steady_clock::time_point start_;
    // Destroyed in reverse: the frame request, the role, then the surface.
    wayland::Proxy<wl_surface> surface_;
    wayland::Proxy<zwlr_layer_surface_v1> layer_;
    wayland::Proxy<wl_callback> frame_;
};

}  // namespace tamborix::wlroots
