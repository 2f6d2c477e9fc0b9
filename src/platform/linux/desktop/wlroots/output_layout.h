#pragma once
// The compositor's outputs in its logical layout (xdg-output positions and sizes, which already
// take scale and transform into account), kept current from the compositor's events, and the
// DisplaySource over them. Wayland tells no client where the pointer is: the pointer reported is
// where the helper last put it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/owned.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/display_source.h"
#include "wayland/xdg-output-unstable-v1.h"

namespace tamborix::wlroots {

struct Output {
    std::uint32_t globalName = 0;
    std::string name;  // "HEADLESS-1", "DP-2", ...
    Rect logical;
    bool complete = false;  // position and size both known
    wayland::Proxy<wl_output> output;
    wayland::Proxy<zxdg_output_v1> xdg;
};

class OutputLayout {
public:
    // Null with `why` set when the compositor has no xdg-output manager. Runs roundtrips until
    // every output's position and size are known.
    [[nodiscard]] static std::unique_ptr<OutputLayout> create(wayland::WaylandConnection& conn, std::string& why);
    ~OutputLayout();

    [[nodiscard]] std::vector<DisplayInfo> displays() const;
    // The rectangle spanning every output: what absolute pointer motion is measured against.
    [[nodiscard]] Rect extent() const;
    [[nodiscard]] const std::vector<std::unique_ptr<Output>>& outputs() const noexcept { return outputs_; }
    [[nodiscard]] wl_output* outputAt(Point p) const;
    // Called after an output came, went or moved.
    void onChanged(std::function<void()> fn) { onChanged_ = std::move(fn); }

    // Listener plumbing (the xdg-output events).
    void changed();

private:
    explicit OutputLayout(wayland::WaylandConnection& conn) : conn_(conn) {}
    void add(const wayland::Global& g);

    wayland::WaylandConnection& conn_;
    wayland::Proxy<zxdg_output_manager_v1> manager_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::function<void()> onChanged_;
};

class WlrDisplaySource final : public DisplaySource {
public:
    using PointerFn = std::function<std::optional<Point>()>;
    WlrDisplaySource(const OutputLayout& layout, PointerFn pointer)
        : layout_(layout), pointer_(std::move(pointer)) {}
    [[nodiscard]] std::vector<DisplayInfo> displays() const override { return layout_.displays(); }
    [[nodiscard]] std::optional<Point> pointer() const override;

private:
    const OutputLayout& layout_;
    PointerFn pointer_;
};

}  // namespace tamborix::wlroots
