/* A plain Wayland window that prints what reaches it, one line per event, for tests:
 *   ready W H            the first frame is on screen at W x H
 *   enter X Y / motion X Y   pointer position in the window (whole pixels)
 *   button CODE down|up
 *   axis v|h VALUE / discrete v|h STEPS
 *   key CODE down|up KEYSYM [TEXT]   (evdev code; keysym name and UTF-8 through the keymap)
 *   size W H             the compositor resized the window
 *   mods DEPRESSED       the modifier mask held down
 *   focus in|out
 * Usage: probe_window APP_ID */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "wayland/xdg-shell.h"

struct probe {
    struct wl_compositor* compositor;
    struct wl_shm* shm;
    struct xdg_wm_base* wm;
    struct wl_seat* seat;
    struct wl_surface* surface;
    struct xdg_surface* xdg;
    struct xdg_toplevel* toplevel;
    struct wl_pointer* pointer;
    struct wl_keyboard* keyboard;
    struct xkb_context* xkb;
    struct xkb_keymap* keymap;
    struct xkb_state* state;
    int width, height, sized, shown;
};

static void draw(struct probe* p) {
    const int stride = p->width * 4, size = stride * p->height;
    int fd = memfd_create("probe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) exit(2);
    unsigned* px = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (px == MAP_FAILED) exit(2);
    for (int i = 0; i < p->width * p->height; ++i) px[i] = 0xff2080e0u; /* a blue the tests look for */
    munmap(px, size);
    struct wl_shm_pool* pool = wl_shm_create_pool(p->shm, fd, size);
    struct wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, p->width, p->height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(p->surface, buffer, 0, 0);
    wl_surface_damage(p->surface, 0, 0, p->width, p->height);
    wl_surface_commit(p->surface);
}

static void wm_ping(void* d, struct xdg_wm_base* wm, uint32_t serial) { (void)d; xdg_wm_base_pong(wm, serial); }
static const struct xdg_wm_base_listener wm_listener = {wm_ping};

/* Ready once the compositor has shown the sized frame: its frame callback is done. */
static void shown(void* d, struct wl_callback* cb, uint32_t time) {
    struct probe* p = d;
    (void)time;
    wl_callback_destroy(cb);
    printf("ready %d %d\n", p->width, p->height);
}
static const struct wl_callback_listener shown_listener = {shown};

static void xdg_configure(void* d, struct xdg_surface* xdg, uint32_t serial) {
    struct probe* p = d;
    xdg_surface_ack_configure(xdg, serial);
    if (p->sized && !p->shown) {
        p->shown = 1;
        wl_callback_add_listener(wl_surface_frame(p->surface), &shown_listener, p);
    }
    draw(p);
}
static const struct xdg_surface_listener xdg_listener = {xdg_configure};

static void top_configure(void* d, struct xdg_toplevel* t, int32_t w, int32_t h, struct wl_array* states) {
    struct probe* p = d;
    (void)t, (void)states;
    if (w > 0 && h > 0 && (w != p->width || h != p->height || !p->sized)) {
        p->width = w, p->height = h, p->sized = 1;
        if (p->shown) printf("size %d %d\n", w, h);
    }
}
static void top_close(void* d, struct xdg_toplevel* t) { (void)d, (void)t; exit(0); }
static void top_bounds(void* d, struct xdg_toplevel* t, int32_t w, int32_t h) { (void)d, (void)t, (void)w, (void)h; }
static void top_caps(void* d, struct xdg_toplevel* t, struct wl_array* c) { (void)d, (void)t, (void)c; }
static const struct xdg_toplevel_listener top_listener = {top_configure, top_close, top_bounds, top_caps};

static void p_enter(void* d, struct wl_pointer* ptr, uint32_t s, struct wl_surface* sf, wl_fixed_t x, wl_fixed_t y) {
    (void)d, (void)ptr, (void)s, (void)sf;
    printf("enter %d %d\n", wl_fixed_to_int(x), wl_fixed_to_int(y));
}
static void p_leave(void* d, struct wl_pointer* ptr, uint32_t s, struct wl_surface* sf) {
    (void)d, (void)ptr, (void)s, (void)sf;
    printf("leave\n");
}
static void p_motion(void* d, struct wl_pointer* ptr, uint32_t t, wl_fixed_t x, wl_fixed_t y) {
    (void)d, (void)ptr, (void)t;
    printf("motion %d %d\n", wl_fixed_to_int(x), wl_fixed_to_int(y));
}
static void p_button(void* d, struct wl_pointer* ptr, uint32_t s, uint32_t t, uint32_t b, uint32_t st) {
    (void)d, (void)ptr, (void)s, (void)t;
    printf("button %u %s\n", b, st ? "down" : "up");
}
static void p_axis(void* d, struct wl_pointer* ptr, uint32_t t, uint32_t axis, wl_fixed_t v) {
    (void)d, (void)ptr, (void)t;
    printf("axis %s %g\n", axis ? "h" : "v", wl_fixed_to_double(v));
}
static void p_frame(void* d, struct wl_pointer* ptr) { (void)d, (void)ptr; }
static void p_source(void* d, struct wl_pointer* ptr, uint32_t s) { (void)d, (void)ptr, (void)s; }
static void p_stop(void* d, struct wl_pointer* ptr, uint32_t t, uint32_t a) { (void)d, (void)ptr, (void)t, (void)a; }
static void p_discrete(void* d, struct wl_pointer* ptr, uint32_t axis, int32_t steps) {
    (void)d, (void)ptr;
    printf("discrete %s %d\n", axis ? "h" : "v", steps);
}
static void p_value120(void* d, struct wl_pointer* ptr, uint32_t a, int32_t v) { (void)d, (void)ptr, (void)a, (void)v; }
static const struct wl_pointer_listener pointer_listener = {p_enter, p_leave, p_motion, p_button, p_axis,
                                                            p_frame, p_source, p_stop, p_discrete, p_value120};

static void k_keymap(void* d, struct wl_keyboard* k, uint32_t format, int32_t fd, uint32_t size) {
    struct probe* p = d;
    (void)k;
    char* text = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || text == MAP_FAILED) return;
    struct xkb_keymap* km = xkb_keymap_new_from_string(p->xkb, text, XKB_KEYMAP_FORMAT_TEXT_V1, 0);
    munmap(text, size);
    if (!km) return;
    if (p->state) xkb_state_unref(p->state);
    if (p->keymap) xkb_keymap_unref(p->keymap);
    p->keymap = km;
    p->state = xkb_state_new(km);
}
static void k_enter(void* d, struct wl_keyboard* k, uint32_t s, struct wl_surface* sf, struct wl_array* keys) {
    (void)d, (void)k, (void)s, (void)sf, (void)keys;
    printf("focus in\n");
}
static void k_leave(void* d, struct wl_keyboard* k, uint32_t s, struct wl_surface* sf) {
    (void)d, (void)k, (void)s, (void)sf;
    printf("focus out\n");
}
static void k_key(void* d, struct wl_keyboard* k, uint32_t s, uint32_t t, uint32_t key, uint32_t st) {
    struct probe* p = d;
    (void)k, (void)s, (void)t;
    char name[64] = "?", text[64] = "";
    if (p->state) {
        xkb_keysym_t sym = xkb_state_key_get_one_sym(p->state, key + 8);
        xkb_keysym_get_name(sym, name, sizeof name);
        xkb_state_key_get_utf8(p->state, key + 8, text, sizeof text);
        if ((unsigned char)text[0] < 0x20 || text[0] == 0x7f) text[0] = 0;
    }
    printf("key %u %s %s%s%s\n", key, st ? "down" : "up", name, text[0] ? " " : "", text);
}
static void k_mods(void* d, struct wl_keyboard* k, uint32_t s, uint32_t dep, uint32_t lat, uint32_t lock, uint32_t g) {
    struct probe* p = d;
    (void)k, (void)s;
    if (p->state) xkb_state_update_mask(p->state, dep, lat, lock, 0, 0, g);
    printf("mods %u\n", dep);
}
static void k_repeat(void* d, struct wl_keyboard* k, int32_t r, int32_t dl) { (void)d, (void)k, (void)r, (void)dl; }
static const struct wl_keyboard_listener keyboard_listener = {k_keymap, k_enter, k_leave, k_key, k_mods, k_repeat};

static void global(void* d, struct wl_registry* r, uint32_t name, const char* iface, uint32_t version) {
    struct probe* p = d;
    if (!strcmp(iface, wl_compositor_interface.name)) p->compositor = wl_registry_bind(r, name, &wl_compositor_interface, 4);
    else if (!strcmp(iface, wl_shm_interface.name)) p->shm = wl_registry_bind(r, name, &wl_shm_interface, 1);
    else if (!strcmp(iface, xdg_wm_base_interface.name)) p->wm = wl_registry_bind(r, name, &xdg_wm_base_interface, 1);
    else if (!strcmp(iface, wl_seat_interface.name)) p->seat = wl_registry_bind(r, name, &wl_seat_interface, version < 5 ? version : 5);
}
static void global_remove(void* d, struct wl_registry* r, uint32_t name) { (void)d, (void)r, (void)name; }
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void seat_caps(void* d, struct wl_seat* seat, uint32_t caps) {
    struct probe* p = d;
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !p->pointer) {
        p->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(p->pointer, &pointer_listener, p);
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !p->keyboard) {
        p->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(p->keyboard, &keyboard_listener, p);
    }
}
static void seat_name(void* d, struct wl_seat* seat, const char* n) { (void)d, (void)seat, (void)n; }
static const struct wl_seat_listener seat_listener = {seat_caps, seat_name};

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    struct probe p = {0};
    p.width = 640, p.height = 480;
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "probe_window: no compositor\n");
        return 1;
    }
    p.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, &p);
    wl_display_roundtrip(display);
    if (!p.compositor || !p.shm || !p.wm || !p.seat) {
        fprintf(stderr, "probe_window: the compositor lacks a global\n");
        return 1;
    }
    xdg_wm_base_add_listener(p.wm, &wm_listener, &p);
    wl_seat_add_listener(p.seat, &seat_listener, &p);
    p.surface = wl_compositor_create_surface(p.compositor);
    p.xdg = xdg_wm_base_get_xdg_surface(p.wm, p.surface);
    xdg_surface_add_listener(p.xdg, &xdg_listener, &p);
    p.toplevel = xdg_surface_get_toplevel(p.xdg);
    xdg_toplevel_add_listener(p.toplevel, &top_listener, &p);
    xdg_toplevel_set_app_id(p.toplevel, argc > 1 ? argv[1] : "tamborix-probe");
    xdg_toplevel_set_title(p.toplevel, "probe");
    wl_surface_commit(p.surface);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
