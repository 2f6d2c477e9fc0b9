#pragma once
// The focused window through the window manager's conventions (EWMH): the active window, its
// frame with decorations, and moving it as a pager would ask.

#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/window_control.h"

namespace tamborix::x11 {

class EwmhWindowControl final : public WindowControl {
public:
    explicit EwmhWindowControl(XConnection& x) : x_(x) {}

    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override;
    [[nodiscard]] std::optional<Rect> frame(WindowHandle window) const override;
    bool setFrame(WindowHandle window, const Rect& frame) override;

private:
    struct Extents {
        double left = 0, right = 0, top = 0, bottom = 0;
        friend bool operator==(const Extents&, const Extents&) = default;
    };
    [[nodiscard]] Extents extents(xcb_window_t window) const;
    [[nodiscard]] bool maximisedOrFullScreen(xcb_window_t window) const;

    XConnection& x_;
};

// The active window the window manager names; nullopt with no window manager or no active window.
[[nodiscard]] std::optional<xcb_window_t> activeWindow(XConnection& x);

}  // namespace tamborix::x11
