#include "platform/linux/desktop/portal/desktop_keymap.h"

#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/mapping.h"
#include "base/owned.h"
#include "base/unique_fd.h"

namespace tamborix::portal {
namespace {

using Keymap = Owned<xkb_keymap, xkb_keymap_unref>;

struct Context {
    Owned<xkb_context, xkb_context_unref> xkb{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
};

std::set<std::uint32_t> keysymsOf(xkb_keymap* keymap) {
    std::set<std::uint32_t> out;
    if (!keymap) return out;
    struct Walk {
        xkb_keymap* keymap;
        std::set<std::uint32_t>* out;
    } walk{keymap, &out};
    xkb_keymap_key_for_each(
        keymap,
        [](xkb_keymap* map, xkb_keycode_t key, void* data) {
            auto* w = static_cast<Walk*>(data);
            const auto levels = xkb_keymap_num_levels_for_key(map, key, 0);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(map, key, 0, level, &syms);
                for (int i = 0; i < n; ++i) w->out->insert(syms[i]);
            }
        },
        &walk);
    return out;
}

// What the compositor sends a new wl_keyboard; nullopt when it has no keyboard to offer.
struct SeatProbe {
    Owned<wl_seat, wl_seat_destroy> seat;
    Owned<wl_keyboard, wl_keyboard_destroy> keyboard;
    std::string keymap;
    bool capabilitiesKnown = false;
};

void keymapEvent(void* data, wl_keyboard*, uint32_t format, int32_t fdSent, uint32_t size) {
    auto* probe = static_cast<SeatProbe*>(data);
    const UniqueFd fd(fdSent);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) probe->keymap = mappedText(fd.get(), size);
}
void enterEvent(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void leaveEvent(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyEvent(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void modifiersEvent(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void repeatEvent(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener{.keymap = keymapEvent,
                                           .enter = enterEvent,
                                           .leave = leaveEvent,
                                           .key = keyEvent,
                                           .modifiers = modifiersEvent,
                                           .repeat_info = repeatEvent};

void capabilitiesEvent(void* data, wl_seat* seat, uint32_t caps) {
    auto* probe = static_cast<SeatProbe*>(data);
    probe->capabilitiesKnown = true;
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !probe->keyboard) {
        probe->keyboard.reset(wl_seat_get_keyboard(seat));
        wl_keyboard_add_listener(probe->keyboard.get(), &keyboardListener, probe);
    }
}
void nameEvent(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{.capabilities = capabilitiesEvent, .name = nameEvent};

void globalEvent(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* probe = static_cast<SeatProbe*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !probe->seat) {
        probe->seat.reset(static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 4))));
        wl_seat_add_listener(probe->seat.get(), &seatListener, probe);
    }
}
void globalRemoveEvent(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{.global = globalEvent, .global_remove = globalRemoveEvent};

std::string compositorKeymap() {
    // libwayland finds a display named without a path only in XDG_RUNTIME_DIR, and complains on
    // the console where that is missing.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((!name || *name != '/') && (!runtime || !*runtime)) return {};
    const Owned<wl_display, wl_display_disconnect> display(wl_display_connect(nullptr));
    if (!display) return {};
    // Declared after the display, so its proxies are destroyed before the display disconnects.
    SeatProbe probe;
    const Owned<wl_registry, wl_registry_destroy> registry(wl_display_get_registry(display.get()));
    wl_registry_add_listener(registry.get(), &registryListener, &probe);
    // Globals, then the seat's capabilities, then the keyboard's keymap.
    for (int i = 0; i < 3 && probe.keymap.empty(); ++i) {
        if (wl_display_roundtrip(display.get()) < 0) break;
    }
    return std::move(probe.keymap);
}

}  // namespace

std::set<std::uint32_t> keysymsOf(const std::string& keymapText) {
    Context c;
    if (!c.xkb) return {};
    const Keymap keymap(xkb_keymap_new_from_string(c.xkb.get(), keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                   XKB_KEYMAP_COMPILE_NO_FLAGS));
    return keysymsOf(keymap.get());
}

DesktopKeymap readDesktopKeymap() {
    DesktopKeymap out;
    if (const auto text = compositorKeymap(); !text.empty()) {
        out.keysyms = keysymsOf(text);
        out.source = "the compositor's keymap";
        if (!out.keysyms.empty()) return out;
    }
    Context c;
    if (!c.xkb) return out;
    // Null names take XKB_DEFAULT_* from the environment, else the library's defaults.
    const Keymap keymap(xkb_keymap_new_from_names(c.xkb.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    out.keysyms = keysymsOf(keymap.get());
    out.source = "the default keyboard layout";
    return out;
}

}  // namespace tamborix::portal
