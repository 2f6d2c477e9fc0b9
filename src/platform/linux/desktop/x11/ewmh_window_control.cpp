#include "platform/linux/desktop/x11/ewmh_window_control.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/linux/desktop/x11/x_properties.h"

namespace tamborix::x11 {

namespace {

constexpr std::uint32_t stateRemove = 0;
constexpr std::uint32_t sourcePager = 2;
constexpr std::uint32_t northWestGravity = 1;
// _NET_MOVERESIZE_WINDOW flags: x, y, width and height present; source indication in bits 12-13.
constexpr std::uint32_t allFields = 0xF00;
constexpr auto stateChangeLimit = std::chrono::milliseconds(250);

}  // namespace

std::optional<xcb_window_t> activeWindow(XConnection& x) {
    // Without a window manager nobody keeps the property current.
    const auto check = cardinal(x, x.root(), x.atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (!check || *check == XCB_WINDOW_NONE) return std::nullopt;
    const auto active = cardinal(x, x.root(), x.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!active || *active == XCB_WINDOW_NONE) return std::nullopt;
    return *active;
}

std::optional<WindowHandle> EwmhWindowControl::frontWindow() const {
    const auto active = activeWindow(x_);
    if (!active) return std::nullopt;
    // The window may already be gone.
    if (!rootGeometry(x_, *active)) return std::nullopt;
    return WindowHandle{*active};
}

EwmhWindowControl::Extents EwmhWindowControl::extents(xcb_window_t window) const {
    const auto e = cardinals(x_, window, x_.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL);
    if (e.size() < 4) return {};
    return {static_cast<double>(e[0]), static_cast<double>(e[1]), static_cast<double>(e[2]),
            static_cast<double>(e[3])};
}

bool EwmhWindowControl::maximisedOrFullScreen(xcb_window_t window) const {
    const auto states = cardinals(x_, window, x_.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
    for (const char* name : {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
                             "_NET_WM_STATE_FULLSCREEN"}) {
        if (std::find(states.begin(), states.end(), x_.atom(name)) != states.end()) return true;
    }
    return false;
}

std::optional<Rect> EwmhWindowControl::frame(WindowHandle window) const {
    const auto w = static_cast<xcb_window_t>(window);
    const auto client = rootGeometry(x_, w);
    if (!client) return std::nullopt;
    const Extents e = extents(w);
    return Rect{client->x - e.left, client->y - e.top, client->width + e.left + e.right,
                client->height + e.top + e.bottom};
}

bool EwmhWindowControl::setFrame(WindowHandle window, const Rect& frame) {
    const auto w = static_cast<xcb_window_t>(window);
    if (!activeWindow(x_) || !rootGeometry(x_, w)) return false;
    // A maximised or full-screen window ignores placement until the state is cleared, and its
    // decorations change with it (no side borders while maximised), so wait for that first.
    if (maximisedOrFullScreen(w)) {
        selectEvents(x_, w, XCB_EVENT_MASK_PROPERTY_CHANGE);
        sendToRoot(x_, w, x_.atom("_NET_WM_STATE"),
                   {stateRemove, x_.atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                    x_.atom("_NET_WM_STATE_MAXIMIZED_HORZ"), sourcePager, 0});
        sendToRoot(x_, w, x_.atom("_NET_WM_STATE"),
                   {stateRemove, x_.atom("_NET_WM_STATE_FULLSCREEN"), 0, sourcePager, 0});
        // Most window managers change the decorations after the state; one that keeps them
        // costs the whole wait.
        const Extents before = extents(w);
        (void)x_.waitFor([&] { return !maximisedOrFullScreen(w) && !(extents(w) == before); },
                         stateChangeLimit);
    }
    // With north-west gravity the position is that of the frame's outer corner and the size that
    // of the client, as in a configure request.
    const Extents e = extents(w);
    const double width = std::max(1.0, std::round(frame.width - e.left - e.right));
    const double height = std::max(1.0, std::round(frame.height - e.top - e.bottom));
    sendToRoot(x_, w, x_.atom("_NET_MOVERESIZE_WINDOW"),
               {northWestGravity | allFields | (sourcePager << 12),
                static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(frame.x))),
                static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(frame.y))),
                static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)});
    return true;
}

}  // namespace tamborix::x11
