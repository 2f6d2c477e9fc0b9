#pragma once
// The compositor's outputs in its logical layout (xdg-output positions and sizes, which already
// take scale and transform into account), kept current from the compositor's events, and the
// DisplaySource over them. Wayland tells no client where the pointer is: the pointer reported is
// where the helper last put it.
//
// An output the user switches off keeps its wl_output on sway 1.7, and neither it nor its
// xdg-output hears of it; only the output-management head reports enabled 0 (and when it comes
// back on, the old xdg-output stays silent, so a new one is asked for). sway 1.7 also reports
// every output with a custom mode (all headless ones) as disabled, so an output counts as off
// only once its head, having been on, reports it off.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/owned.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/display_source.h"
#include "wayland/output-management.h"
#include "wayland/xdg-output-unstable-v1.h"

namespace tamborix::wlroots {

struct Output {
    std::uint32_t globalName = 0;
    std::string name;  // "HEADLESS-1", "DP-2", ...
    Rect logical;
    bool complete = false;  // position and size both known, and the output is on
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

    // Listener plumbing (the xdg-output and head events).
    void changed();
    struct Head {
        wayland::Proxy<zwlr_output_head_v1> proxy;
        std::string name;
        bool enabled = false;
        bool seenOn = false;  // reported enabled at some point
        bool wasOff = false;  // switched off since, as of the last batch
    };
    void addHead(zwlr_output_head_v1* head);
    void removeHead(zwlr_output_head_v1* head);
    // The end of a batch of head changes: outputs switched on again get a new xdg-output.
    void headsDone();
    [[nodiscard]] Head* head(zwlr_output_head_v1* head);
    // Modes are announced with each head; the helper needs none of them.
    std::vector<wayland::Proxy<zwlr_output_mode_v1>> modes;

private:
    explicit OutputLayout(wayland::WaylandConnection& conn) : conn_(conn) {}
    void add(const wayland::Global& g);
    void listen(Output& o);
    [[nodiscard]] bool switchedOff(const Output& o) const;


    wayland::WaylandConnection& conn_;
    wayland::Proxy<zxdg_output_manager_v1> manager_;
    std::vector<std::unique_ptr<Output>> outputs_;
    // Null where the compositor has no output management: every output counts as on.
    wayland::Proxy<zwlr_output_manager_v1> headManager_;
    std::vector<std::unique_ptr<Head>> heads_;
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
