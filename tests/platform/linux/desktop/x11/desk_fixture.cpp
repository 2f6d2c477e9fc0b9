#include "desk_fixture.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::testing {

using x11::XReply;

Client::Client(const std::string& display) {
    conn_ = xcb_connect(display.c_str(), nullptr);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
}

Client::~Client() { xcb_disconnect(conn_); }

xcb_atom_t Client::atom(const char* name) {
    XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        conn_, xcb_intern_atom(conn_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void Client::sync() {
    XReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

xcb_window_t Client::create(const WindowRecipe& want) {
    const xcb_window_t w = xcb_generate_id(conn_);
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, w, root_, static_cast<int16_t>(want.x),
                      static_cast<int16_t>(want.y), static_cast<uint16_t>(want.width),
                      static_cast<uint16_t>(want.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    std::string wmClass = want.instance + '\0' + want.klass + '\0';
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(wmClass.size()), wmClass.data());
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(want.klass.size()), want.klass.data());
    if (want.pid != 0) {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                            32, 1, &want.pid);
    }
    if (!want.icon.empty()) {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL,
                            32, static_cast<uint32_t>(want.icon.size()), want.icon.data());
    }
    if (want.dock) {
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &dock);
        // left, right, top, bottom, then the start and end of each edge's band.
        const uint32_t bottom = static_cast<uint32_t>(want.height);
        const std::uint32_t strut[12] = {0, 0, 0, bottom, 0, 0, 0, 0, 0, 0,
                                         static_cast<uint32_t>(want.x),
                                         static_cast<uint32_t>(want.x + want.width - 1)};
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
    }
    xcb_map_window(conn_, w);
    sync();
    return w;
}

void Client::setRootCardinals(const char* name, const std::vector<std::uint32_t>& values) {
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, root_, atom(name), XCB_ATOM_CARDINAL, 32,
                        static_cast<uint32_t>(values.size()), values.data());
    sync();
}

void Client::remap(xcb_window_t window) {
    xcb_unmap_window(conn_, window);
    xcb_map_window(conn_, window);
    sync();
}

void Client::destroy(xcb_window_t window) {
    xcb_destroy_window(conn_, window);
    sync();
}

void Client::sendState(xcb_window_t window, std::uint32_t action, const char* state) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("_NET_WM_STATE");
    event.data.data32[0] = action;
    event.data.data32[1] = atom(state);
    event.data.data32[3] = 1;
    xcb_send_event(conn_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    sync();
}

void Client::minimise(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_CHANGE_STATE");
    event.data.data32[0] = 3;  // IconicState
    xcb_send_event(conn_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    sync();
}

void Client::activate(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2;
    xcb_send_event(conn_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    sync();
}

std::vector<std::uint32_t> Client::rootCardinals(const char* name) { return cardinalsOf(root_, name); }

std::vector<std::uint32_t> Client::cardinalsOf(xcb_window_t window, const char* name) {
    XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        conn_, xcb_get_property(conn_, 0, window, atom(name), XCB_ATOM_ANY, 0, 4096), nullptr));
    if (!reply || reply->format != 32) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / 4};
}

Client::Size Client::geometryOf(xcb_window_t window) {
    XReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, window), nullptr));
    if (!g) return {};
    return {g->width, g->height};
}

bool Client::hasState(xcb_window_t window, const char* state) {
    XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        conn_, xcb_get_property(conn_, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64), nullptr));
    if (!reply || reply->format != 32) return false;
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const auto n = xcb_get_property_value_length(reply.get()) / 4;
    return std::find(data, data + n, atom(state)) != data + n;
}

Desk::Desk() {
    server.splitIntoTwoMonitors();
    std::string error;
    x = x11::XConnection::open(server.display(), error);
    EXPECT_NE(x, nullptr) << error;
    client = std::make_unique<Client>(server.display());
    settle();
}

bool Desk::managed(xcb_window_t window) {
    return spinUntil([&] {
        const auto list = client->rootCardinals("_NET_CLIENT_LIST");
        return std::find(list.begin(), list.end(), window) != list.end();
    });
}

void Desk::settle() {
    // openbox sometimes drops a map request that comes while it takes in the new monitors; a
    // probe window is mapped again until openbox manages it.
    const auto probe = client->create({.instance = "probe", .klass = "Probe", .pid = 0x7ffffffe});
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (spinUntil([&] {
                const auto list = client->rootCardinals("_NET_CLIENT_LIST");
                return std::find(list.begin(), list.end(), probe) != list.end();
            }, 500)) {
            break;
        }
        client->remap(probe);
    }
    client->destroy(probe);
    spinUntil([&] { return client->rootCardinals("_NET_CLIENT_LIST").empty(); });
}

bool Desk::active(xcb_window_t window) {
    return spinUntil([&] {
        const auto a = client->rootCardinals("_NET_ACTIVE_WINDOW");
        return !a.empty() && a[0] == window;
    });
}

}  // namespace tamborix::testing
