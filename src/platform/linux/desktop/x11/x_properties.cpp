#include "platform/linux/desktop/x11/x_properties.h"

#include <array>

#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

namespace {

// Longest property read, in 32-bit units: a _NET_WM_ICON with several sizes runs to a few
// hundred kilobytes.
constexpr std::uint32_t maxLongs = 1u << 20;

XReply<xcb_get_property_reply_t> property(XConnection& x, xcb_window_t window, xcb_atom_t atom,
                                          xcb_atom_t type, std::uint32_t longs) {
    if (atom == XCB_ATOM_NONE) return nullptr;
    return XReply<xcb_get_property_reply_t>(xcb_get_property_reply(
        x.get(), xcb_get_property(x.get(), 0, window, atom, type, 0, longs), nullptr));
}

}  // namespace

std::vector<std::uint32_t> cardinals(XConnection& x, xcb_window_t window, xcb_atom_t atom,
                                     xcb_atom_t type) {
    auto reply = property(x, window, atom, type, maxLongs);
    if (!reply || reply->format != 32 || reply->type == XCB_ATOM_NONE) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(data, data + n);
}

std::optional<std::uint32_t> cardinal(XConnection& x, xcb_window_t window, xcb_atom_t atom,
                                      xcb_atom_t type) {
    auto reply = property(x, window, atom, type, 1);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

std::optional<std::string> bytes(XConnection& x, xcb_window_t window, xcb_atom_t atom,
                                 std::size_t limit) {
    auto reply = property(x, window, atom, XCB_ATOM_ANY,
                          static_cast<std::uint32_t>((limit + 3) / 4));
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const auto n = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    return std::string(data, std::min(n, limit));
}

void sendToRoot(XConnection& x, xcb_window_t window, xcb_atom_t type,
                const std::array<std::uint32_t, 5>& data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (std::size_t i = 0; i < data.size(); ++i) event.data.data32[i] = data[i];
    xcb_send_event(x.get(), 0, x.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    x.flush();
}

std::optional<Rect> rootGeometry(XConnection& x, xcb_window_t window) {
    auto* c = x.get();
    XReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry) return std::nullopt;
    XReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, x.root(), 0, 0), nullptr));
    if (!origin) return std::nullopt;
    return Rect{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
}

void selectEvents(XConnection& x, xcb_window_t window, std::uint32_t mask) {
    auto* c = x.get();
    XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!attributes) return;
    const std::uint32_t wanted = attributes->your_event_mask | mask;
    if (wanted == attributes->your_event_mask) return;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &wanted);
    x.flush();
}

}  // namespace tamborix::x11
