#include "key_listener.h"

#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <poll.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace tamborix::testing {

namespace {

using Clock = std::chrono::steady_clock;

bool isModifierKeysym(xkb_keysym_t s) {
    return (s >= XKB_KEY_Shift_L && s <= XKB_KEY_Hyper_R) || (s >= XKB_KEY_ISO_Lock && s <= XKB_KEY_ISO_Level5_Lock) ||
           s == XKB_KEY_Mode_switch;
}

}  // namespace

std::vector<xkb_keysym_t> keysymsOf(std::u32string_view s) {
    std::vector<xkb_keysym_t> out;
    for (char32_t c : s) out.push_back(xkb_utf32_to_keysym(c));
    return out;
}

KeyListener::KeyListener(const std::string& display, Options options) : options_(options) {
    conn_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(conn_)) throw std::runtime_error("cannot open " + display);
    if (!xkb_x11_setup_xkb_extension(conn_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEvent_, nullptr))
        throw std::runtime_error("no XKB on " + display);
    const std::uint16_t kinds = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(conn_, XCB_XKB_ID_USE_CORE_KBD, kinds, 0, kinds, 0xffff, 0xffff, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
    const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
    if (options_.window == 0) {
        window_ = xcb_generate_id(conn_);
        const std::uint32_t values[] = {1, mask};
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(conn_, window_);
        xcb_set_input_focus(conn_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    } else {
        window_ = options_.window;
        xcb_change_window_attributes(conn_, window_, XCB_CW_EVENT_MASK, &mask);
    }
    std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    thread_ = std::thread([this] { loop(); });
}

KeyListener::~KeyListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    xcb_disconnect(conn_);
}

std::vector<xkb_keysym_t> KeyListener::typed() const {
    std::lock_guard lock(mutex_);
    return typed_;
}

void KeyListener::clear() {
    std::lock_guard lock(mutex_);
    typed_.clear();
}

void KeyListener::loop() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(conn_);
    xkb_keymap* keymap = nullptr;
    std::deque<std::pair<Clock::time_point, xcb_generic_event_t*>> queue;
    while (!stop_ && !xcb_connection_has_error(conn_)) {
        pollfd p{xcb_get_file_descriptor(conn_), POLLIN, 0};
        poll(&p, 1, 5);
        while (xcb_generic_event_t* e = xcb_poll_for_event(conn_)) {
            const auto type = e->response_type & 0x7f;
            // A new keyboard (the server switching to the XTEST device's copy of the map) is no
            // change of the mapping; a map notification is.
            if (type == xkbEvent_ && reinterpret_cast<const std::uint8_t*>(e)[1] == XCB_XKB_MAP_NOTIFY)
                ++mappingChanges_;
            // Late from when the server made the event (its time is the monotonic clock in
            // milliseconds), so that this thread's own wake-ups add nothing.
            auto made = Clock::now();
            if (type == xkbEvent_ || type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                std::uint32_t ms = 0;
                std::memcpy(&ms, reinterpret_cast<const std::uint8_t*>(e) + 4, 4);
                const auto nowMs = static_cast<std::uint32_t>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(made.time_since_epoch()).count());
                const auto ago = static_cast<std::int32_t>(nowMs - ms);
                if (ago > 0 && ago < 60000) made -= std::chrono::milliseconds(ago);
            }
            queue.emplace_back(made, e);
        }
        // Handled only once they are old enough; until then the server may change anything.
        while (!queue.empty() && queue.front().first + options_.lateBy <= Clock::now()) {
            xcb_generic_event_t* e = queue.front().second;
            queue.pop_front();
            const auto type = e->response_type & 0x7f;
            if (type == xkbEvent_ || type == XCB_MAPPING_NOTIFY) {
                if (keymap) xkb_keymap_unref(keymap);
                keymap = nullptr;
            } else if (type == XCB_KEY_PRESS) {
                const auto* k = reinterpret_cast<const xcb_key_press_event_t*>(e);
                if (!keymap) keymap = xkb_x11_keymap_new_from_device(context, conn_, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
                xkb_keysym_t sym = XKB_KEY_NoSymbol;
                if (keymap) {
                    xkb_state* st = xkb_state_new(keymap);
                    xkb_state_update_mask(st, k->state & 0xff, 0, 0, 0, 0, (k->state >> 13) & 3);
                    sym = xkb_state_key_get_one_sym(st, k->detail);
                    xkb_state_unref(st);
                }
                if (!isModifierKeysym(sym)) {
                    std::lock_guard lock(mutex_);
                    typed_.push_back(sym);
                }
            }
            std::free(e);
        }
    }
    for (auto& [t, e] : queue) std::free(e);
    if (keymap) xkb_keymap_unref(keymap);
    xkb_context_unref(context);
}

}  // namespace tamborix::testing
