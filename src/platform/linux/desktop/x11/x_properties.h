#pragma once
// Reading window properties and sending the client messages of the window-manager conventions.

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/geometry.h"

namespace tamborix::x11 {

class XConnection;

// 32-bit items of a property of `type` (XCB_ATOM_ANY: any type); empty when absent or malformed.
[[nodiscard]] std::vector<std::uint32_t> cardinals(XConnection& x, xcb_window_t window,
                                                    xcb_atom_t property, xcb_atom_t type);
// The first 32-bit item, if the property holds one.
[[nodiscard]] std::optional<std::uint32_t> cardinal(XConnection& x, xcb_window_t window,
                                                    xcb_atom_t property, xcb_atom_t type);
// The bytes of an 8-bit property (STRING, UTF8_STRING, …), at most `limit` bytes.
[[nodiscard]] std::optional<std::string> bytes(XConnection& x, xcb_window_t window,
                                               xcb_atom_t property, std::size_t limit = 1 << 16);

// A _NET_* request to the window manager about `window`, as a pager would send it.
void sendToRoot(XConnection& x, xcb_window_t window, xcb_atom_t type,
                const std::array<std::uint32_t, 5>& data);

// The window's outer rectangle on the root window (without decorations).
[[nodiscard]] std::optional<Rect> rootGeometry(XConnection& x, xcb_window_t window);

// Adds `mask` to what this client selects on `window`, keeping what others selected before.
void selectEvents(XConnection& x, xcb_window_t window, std::uint32_t mask);

}  // namespace tamborix::x11
