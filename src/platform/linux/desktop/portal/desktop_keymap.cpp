#include "platform/linux/desktop/portal/desktop_keymap.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tamborix::portal {
namespace {

struct Context {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> xkb{xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                   &xkb_context_unref};
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
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::string keymap;
    bool capabilitiesKnown = false;
};

void keymapEvent(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* probe = static_cast<SeatProbe*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            probe->keymap.assign(static_cast<const char*>(map), ::strnlen(static_cast<const char*>(map), size));
            ::munmap(map, size);
        }
    }
    ::close(fd);
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
        probe->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(probe->keyboard, &keyboardListener, probe);
    }
}
void nameEvent(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{.capabilities = capabilitiesEvent, .name = nameEvent};

void globalEvent(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* probe = static_cast<SeatProbe*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !probe->seat) {
        probe->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 4)));
        wl_seat_add_listener(probe->seat, &seatListener, probe);
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
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return {};
    SeatProbe probe;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &probe);
    // Globals, then the seat's capabilities, then the keyboard's keymap.
    for (int i = 0; i < 3 && probe.keymap.empty(); ++i) {
        if (wl_display_roundtrip(display) < 0) break;
    }
    if (probe.keyboard) wl_keyboard_destroy(probe.keyboard);
    if (probe.seat) wl_seat_destroy(probe.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return probe.keymap;
}

}  // namespace

std::set<std::uint32_t> keysymsOf(const std::string& keymapText) {
    Context c;
    if (!c.xkb) return {};
    xkb_keymap* keymap = xkb_keymap_new_from_string(c.xkb.get(), keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    auto out = keysymsOf(keymap);
    if (keymap) xkb_keymap_unref(keymap);
    return out;
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
    xkb_keymap* keymap = xkb_keymap_new_from_names(c.xkb.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    out.keysyms = keysymsOf(keymap);
    if (keymap) xkb_keymap_unref(keymap);
    out.source = "the default keyboard layout";
    return out;
}

}  // namespace tamborix::portal
