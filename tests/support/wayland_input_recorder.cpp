// A Wayland client for tests: one full-screen window on every output, printing each pointer,
// button, axis and key event it receives as a line on standard output, so that a test can check
// what a compositor delivered. Pointer positions are printed in the desktop's global coordinates
// (the output's position plus the position in its window); keys as the keysym the compositor's
// own keymap and modifier state give, so that typed text can be read back. The window at x = 0
// is blue (#2060c0), the others green (#20c060).
//
//   output X Y W H        once per output, then "ready"
//   motion X Y            enter and motion alike
//   button CODE 1|0
//   axis AXIS VALUE       smooth (AXIS 0 vertical, 1 horizontal; VALUE > 0 = down / right)
//   discrete AXIS STEPS
//   key KEYSYM 1|0
//   mods DEPRESSED        the modifier mask held down, after every change
//   held N                answer to a line "held" on standard input: keys and buttons still down
//   configure W H STATE…  windowed only: each size and the xdg-toplevel states the desktop sets
//
// With TAMBORIX_RECORDER_WINDOWED=1 it shows one ordinary 400 × 300 window instead, for tests of
// where the desktop places it.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "xdg-shell-client-protocol.h"

namespace {

struct Output {
    wl_output* output = nullptr;
    int x = 0, y = 0, width = 0, height = 0;
};

struct Window {
    Output* output = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    int width = 0, height = 0;
};

struct Client {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wm = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::vector<Output*> outputs;
    std::vector<Window*> windows;
    Window* under = nullptr;
    xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    std::set<std::uint32_t> keysDown;
    std::set<std::uint32_t> buttonsDown;
};

Client client;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

wl_buffer* makeBuffer(int width, int height, std::uint32_t colour) {
    const int stride = width * 4;
    const int size = stride * height;
    const int fd = ::memfd_create("recorder", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, size) != 0) return nullptr;
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data != MAP_FAILED) {
        auto* pixels = static_cast<std::uint32_t*>(data);
        for (int i = 0; i < width * height; ++i) pixels[i] = colour;
        ::munmap(data, size);
    }
    wl_shm_pool* pool = wl_shm_create_pool(client.shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    return buffer;
}

// --- outputs

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t) {
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
}
void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto* o = static_cast<Output*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        o->width = width;
        o->height = height;
    }
}
void outputDone(void*, wl_output*) {}
void outputScale(void*, wl_output*, int32_t) {}
const wl_output_listener outputListener{
    .geometry = outputGeometry, .mode = outputMode, .done = outputDone, .scale = outputScale};

// --- windows

void wmPing(void*, xdg_wm_base* wm, uint32_t serial) { xdg_wm_base_pong(wm, serial); }
const xdg_wm_base_listener wmListener{wmPing};

void surfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* w = static_cast<Window*>(data);
    xdg_surface_ack_configure(surface, serial);
    const int width = w->width > 0 ? w->width : w->output->width;
    const int height = w->height > 0 ? w->height : w->output->height;
    if (w->buffer) wl_buffer_destroy(w->buffer);
    // Plain colours easy to find in a screen picture: blue on the leftmost output, green elsewhere.
    w->buffer = makeBuffer(width, height, w->output->x == 0 ? 0xff2060c0 : 0xff20c060);
    wl_surface_attach(w->surface, w->buffer, 0, 0);
    wl_surface_damage(w->surface, 0, 0, width, height);
    wl_surface_commit(w->surface);
}
const xdg_surface_listener surfaceListener{surfaceConfigure};

bool windowed = false;

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array* states) {
    auto* w = static_cast<Window*>(data);
    if (windowed) {
        std::string line = "configure " + std::to_string(width) + " " + std::to_string(height);
        const auto* state = static_cast<const uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(uint32_t); ++i) line += " " + std::to_string(state[i]);
        say("%s", line.c_str());
        if (width == 0 || height == 0) {
            width = 400;
            height = 300;
        }
    }
    w->width = width;
    w->height = height;
}
void toplevelClose(void*, xdg_toplevel*) {}
const xdg_toplevel_listener toplevelListener{.configure = toplevelConfigure, .close = toplevelClose};

// --- pointer

Window* windowOf(wl_surface* surface) {
    for (auto* w : client.windows)
        if (w->surface == surface) return w;
    return nullptr;
}

void sayMotion(wl_fixed_t sx, wl_fixed_t sy) {
    if (!client.under) return;
    say("motion %.0f %.0f", client.under->output->x + wl_fixed_to_double(sx),
        client.under->output->y + wl_fixed_to_double(sy));
}
void pointerEnter(void*, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t sx, wl_fixed_t sy) {
    client.under = windowOf(surface);
    sayMotion(sx, sy);
}
void pointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) { client.under = nullptr; }
void pointerMotion(void*, wl_pointer*, uint32_t, wl_fixed_t sx, wl_fixed_t sy) { sayMotion(sx, sy); }
void pointerButton(void*, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
    if (state) client.buttonsDown.insert(button);
    else client.buttonsDown.erase(button);
    say("button %u %u", button, state);
}
void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value) {
    say("axis %u %.2f", axis, wl_fixed_to_double(value));
}
void pointerFrame(void*, wl_pointer*) {}
void pointerAxisSource(void*, wl_pointer*, uint32_t) {}
void pointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void pointerAxisDiscrete(void*, wl_pointer*, uint32_t axis, int32_t steps) {
    say("discrete %u %d", axis, steps);
}
const wl_pointer_listener pointerListener{.enter = pointerEnter,
                                          .leave = pointerLeave,
                                          .motion = pointerMotion,
                                          .button = pointerButton,
                                          .axis = pointerAxis,
                                          .frame = pointerFrame,
                                          .axis_source = pointerAxisSource,
                                          .axis_stop = pointerAxisStop,
                                          .axis_discrete = pointerAxisDiscrete};

// --- keyboard

void keyboardKeymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            if (client.state) xkb_state_unref(client.state);
            if (client.keymap) xkb_keymap_unref(client.keymap);
            client.keymap = xkb_keymap_new_from_string(client.xkb, static_cast<const char*>(map),
                                                       XKB_KEYMAP_FORMAT_TEXT_V1,
                                                       XKB_KEYMAP_COMPILE_NO_FLAGS);
            client.state = client.keymap ? xkb_state_new(client.keymap) : nullptr;
            ::munmap(map, size);
        }
    }
    ::close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboardKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    if (state) client.keysDown.insert(key);
    else client.keysDown.erase(key);
    const xkb_keysym_t sym = client.state ? xkb_state_key_get_one_sym(client.state, key + 8) : 0;
    say("key %u %u", sym, state);
}
void keyboardModifiers(void*, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                       uint32_t locked, uint32_t group) {
    if (client.state) xkb_state_update_mask(client.state, depressed, latched, locked, 0, 0, group);
    say("mods %u", depressed);
}
void keyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener{keyboardKeymap, keyboardEnter,     keyboardLeave,
                                            keyboardKey,    keyboardModifiers, keyboardRepeat};

void seatCapabilities(void*, wl_seat* seat, uint32_t caps) {
    // Either may come and go on a headless desktop, with the virtual devices that drive it.
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !client.pointer) {
        client.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(client.pointer, &pointerListener, nullptr);
    } else if (!(caps & WL_SEAT_CAPABILITY_POINTER) && client.pointer) {
        wl_pointer_release(client.pointer);
        client.pointer = nullptr;
        client.under = nullptr;
        client.buttonsDown.clear();
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !client.keyboard) {
        client.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(client.keyboard, &keyboardListener, nullptr);
    } else if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && client.keyboard) {
        wl_keyboard_release(client.keyboard);
        client.keyboard = nullptr;
        client.keysDown.clear();
    }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{seatCapabilities, seatName};

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    const std::string is(interface);
    if (is == "wl_compositor") {
        client.compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (is == "wl_shm") {
        client.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (is == "xdg_wm_base") {
        client.wm = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(client.wm, &wmListener, nullptr);
    } else if (is == "wl_seat" && !client.seat) {
        client.seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 7)));
        wl_seat_add_listener(client.seat, &seatListener, nullptr);
    } else if (is == "wl_output") {
        auto* o = new Output;
        o->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
        wl_output_add_listener(o->output, &outputListener, o);
        client.outputs.push_back(o);
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{global, globalRemove};

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot connect to the Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    if (!client.compositor || !client.shm || !client.wm || client.outputs.empty()) {
        std::fprintf(stderr, "the compositor lacks wl_compositor, wl_shm, xdg_wm_base or outputs\n");
        return 1;
    }
    if (const char* v = std::getenv("TAMBORIX_RECORDER_WINDOWED")) windowed = std::string(v) == "1";
    for (auto* o : client.outputs) {
        if (windowed && !client.windows.empty()) break;
        auto* w = new Window;
        w->output = o;
        w->surface = wl_compositor_create_surface(client.compositor);
        w->xdgSurface = xdg_wm_base_get_xdg_surface(client.wm, w->surface);
        xdg_surface_add_listener(w->xdgSurface, &surfaceListener, w);
        w->toplevel = xdg_surface_get_toplevel(w->xdgSurface);
        xdg_toplevel_add_listener(w->toplevel, &toplevelListener, w);
        xdg_toplevel_set_title(w->toplevel, "input recorder");
        if (!windowed) xdg_toplevel_set_fullscreen(w->toplevel, o->output);
        wl_surface_commit(w->surface);
        client.windows.push_back(w);
    }
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    for (auto* o : client.outputs) say("output %d %d %d %d", o->x, o->y, o->width, o->height);
    say("ready");

    std::string input;
    for (;;) {
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(display);
            continue;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(display) != 0) break;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) break;
        if (fds[0].revents & (POLLERR | POLLHUP)) break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[256];
            const auto n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) break;
            input.append(buffer, static_cast<std::size_t>(n));
            for (auto nl = input.find('\n'); nl != std::string::npos; nl = input.find('\n')) {
                if (input.compare(0, nl, "held") == 0)
                    say("held %zu", client.keysDown.size() + client.buttonsDown.size());
                input.erase(0, nl + 1);
            }
        }
    }
    wl_display_disconnect(display);
    return 0;
}
