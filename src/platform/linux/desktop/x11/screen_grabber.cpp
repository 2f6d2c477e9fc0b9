#include "platform/linux/desktop/x11/screen_grabber.h"

#include <sys/socket.h>
#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <bit>
#include <cstdlib>

#include <libyuv/planar_functions.h>

namespace tamborix::x11 {
namespace {

xcb_screen_t* screenNumber(xcb_connection_t* conn, int number) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (; it.rem; --number, xcb_screen_next(&it)) {
        if (number == 0) return it.data;
    }
    return nullptr;
}

const xcb_visualtype_t* rootVisual(const xcb_screen_t* screen) {
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual) return v.data;
        }
    }
    return nullptr;
}

int bitsPerPixel(xcb_connection_t* conn, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(conn);
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth) return f.data->bits_per_pixel;
    }
    return 0;
}

// The byte of a 32-bit word that `mask` covers, or -1 when it is not one whole byte.
int maskByte(std::uint32_t mask) {
    if (mask == 0) return -1;
    const int shift = std::countr_zero(mask);
    if (shift % 8 != 0 || mask != (0xFFu << shift)) return -1;
    return shift / 8;
}

bool onUnixSocket(xcb_connection_t* conn) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(xcb_get_file_descriptor(conn), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    return address.ss_family == AF_UNIX;
}

template <class Reply, class Cookie, class Fn>
XReply<Reply> reply(xcb_connection_t* conn, Cookie cookie, Fn fn) {
    return XReply<Reply>(fn(conn, cookie, nullptr));
}

}  // namespace

std::unique_ptr<ScreenGrabber> ScreenGrabber::open(const std::string& displayName, std::string& error,
                                                   bool sharedMemory) {
    int screenIndex = 0;
    XcbConnection conn(xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenIndex));
    if (xcb_connection_has_error(conn.get())) {
        error = "cannot open display " + displayName;
        return nullptr;
    }
    xcb_screen_t* screen = screenNumber(conn.get(), screenIndex);
    std::unique_ptr<ScreenGrabber> grabber(new ScreenGrabber(std::move(conn)));
    grabber->screen_ = screen;
    if (!grabber->screen_) {
        error = "display " + displayName + " has no screen " + std::to_string(screenIndex);
        return nullptr;
    }
    if (!grabber->probe(error, sharedMemory)) return nullptr;
    return grabber;
}

ScreenGrabber::ScreenGrabber(XcbConnection conn) : conn_(std::move(conn)) {}

ScreenGrabber::~ScreenGrabber() {
    segment_.reset();  // detaches while the connection still exists
    plain_.reset();
}

bool ScreenGrabber::probe(std::string& error, bool sharedMemory) {
    const int bpp = bitsPerPixel(conn_.get(), screen_->root_depth);
    const xcb_visualtype_t* visual = rootVisual(screen_);
    if (bpp != 32 || !visual) {
        error = "the display's " + std::to_string(screen_->root_depth) + "-bit colour (" +
                std::to_string(bpp) + " bits a pixel) cannot be captured";
        return false;
    }
    const int words[3] = {maskByte(visual->blue_mask), maskByte(visual->green_mask), maskByte(visual->red_mask)};
    if (words[0] < 0 || words[1] < 0 || words[2] < 0) {
        error = "the display's colour masks cannot be captured";
        return false;
    }
    // Where each channel sits in memory, on the server's side and in the host-order words that
    // libyuv reads as "ARGB" (B, G, R, A from the lowest address on a little-endian machine).
    const bool serverLsb = xcb_get_setup(conn_.get())->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const bool hostLsb = std::endian::native == std::endian::little;
    int source[4];
    int alphaWord = 0 + 1 + 2 + 3 - words[0] - words[1] - words[2];
    for (int c = 0; c < 4; ++c) {
        const int word = c < 3 ? words[c] : alphaWord;
        source[c] = serverLsb ? word : 3 - word;
    }
    needsShuffle_ = false;
    for (int pixel = 0; pixel < 4; ++pixel) {
        for (int c = 0; c < 4; ++c) {
            const int target = hostLsb ? c : 3 - c;
            shuffle_[pixel * 4 + target] = static_cast<std::uint8_t>(pixel * 4 + source[c]);
            if (source[c] != target) needsShuffle_ = true;
        }
    }

    // Over TCP the server cannot map our memory, and a descriptor cannot travel at all.
    local_ = onUnixSocket(conn_.get());
    if (local_ && sharedMemory) {
        const auto* ext = xcb_get_extension_data(conn_.get(), &xcb_shm_id);
        if (ext && ext->present) {
            auto v = reply<xcb_shm_query_version_reply_t>(conn_.get(), xcb_shm_query_version(conn_.get()),
                                                          xcb_shm_query_version_reply);
            sharedOk_ = v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 2));
        }
    }

    if (const auto* ext = xcb_get_extension_data(conn_.get(), &xcb_xfixes_id); ext && ext->present) {
        auto v = reply<xcb_xfixes_query_version_reply_t>(conn_.get(), xcb_xfixes_query_version(conn_.get(), 5, 0),
                                                         xcb_xfixes_query_version_reply);
        xfixes_ = v && v->major_version >= 2;  // regions arrived in 2, which the damage check needs
    }
    if (const auto* ext = xcb_get_extension_data(conn_.get(), &xcb_damage_id); xfixes_ && ext && ext->present) {
        auto v = reply<xcb_damage_query_version_reply_t>(conn_.get(), xcb_damage_query_version(conn_.get(), 1, 1),
                                                         xcb_damage_query_version_reply);
        if (v) {
            damageId_ = xcb_generate_id(conn_.get());
            partsRegion_ = xcb_generate_id(conn_.get());
            xcb_xfixes_create_region(conn_.get(), partsRegion_, 0, nullptr);
            // Non-empty level: at most one event between two checks, which drain them.
            XReply<xcb_generic_error_t> failure(xcb_request_check(
                conn_.get(), xcb_damage_create_checked(conn_.get(), damageId_, screen_->root,
                                                 XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY)));
            damage_ = !failure;
        }
    }
    if (xcb_connection_has_error(conn_.get())) {
        error = "the X connection broke while probing the display";
        return false;
    }
    return true;
}

bool ScreenGrabber::alive() const { return xcb_connection_has_error(conn_.get()) == 0; }

std::string ScreenGrabber::method() const { return sharedOk_ ? "MIT-SHM" : "GetImage"; }

std::optional<Grab> ScreenGrabber::grab(const PixelRect& area) {
    if (area.width < 1 || area.height < 1 || area.width > 0x7FFF || area.height > 0x7FFF ||
        area.x < 0 || area.y < 0 || area.x > 0x7FFF || area.y > 0x7FFF) {
        return std::nullopt;
    }
    std::optional<Grab> g;
    if (sharedOk_) {
        g = grabShared(area);
        // Shared memory can fail for good (a server that cannot map it); go on without it.
        if (!g && sharedOk_) return std::nullopt;
    }
    if (!g) g = grabPlain(area);
    if (g) toHostOrder(*g);
    return g;
}

std::optional<Grab> ScreenGrabber::grabShared(const PixelRect& area) {
    const std::size_t bytes = static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4;
    if (!segment_ || segment_->size() < bytes) {
        segment_.reset();
        const std::size_t screenBytes = static_cast<std::size_t>(screen_->width_in_pixels) *
                                        static_cast<std::size_t>(screen_->height_in_pixels) * 4;
        std::string why;
        segment_ = ShmSegment::create(conn_.get(), std::max(bytes, screenBytes), why);
        if (!segment_) {
            sharedOk_ = false;
            return std::nullopt;
        }
    }
    xcb_generic_error_t* raw = nullptr;
    XReply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(
        conn_.get(),
        xcb_shm_get_image(conn_.get(), screen_->root, static_cast<std::int16_t>(area.x),
                          static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                          static_cast<std::uint16_t>(area.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          segment_->id(), 0),
        &raw));
    XReply<xcb_generic_error_t> failure(raw);
    if (!r) {
        // BadMatch: the area is not inside the screen, which no other method fixes. Anything
        // else means the server could not use the segment.
        if (failure && failure->error_code != XCB_MATCH) {
            segment_.reset();
            sharedOk_ = false;
        }
        return std::nullopt;
    }
    return Grab{segment_->data(), area.width * 4, area.width, area.height};
}

std::optional<Grab> ScreenGrabber::grabPlain(const PixelRect& area) {
    plain_.reset();
    plain_.reset(xcb_get_image_reply(
        conn_.get(),
        xcb_get_image(conn_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u),
        nullptr));
    if (!plain_) return std::nullopt;
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(plain_.get()));
    if (length < static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4) {
        return std::nullopt;
    }
    return Grab{xcb_get_image_data(plain_.get()), area.width * 4, area.width, area.height};
}

void ScreenGrabber::toHostOrder(Grab& g) const {
    if (!needsShuffle_) return;
    libyuv::ARGBShuffle(g.data, g.stride, g.data, g.stride, shuffle_.data(), g.width, g.height);
}

std::optional<CursorImage> ScreenGrabber::cursor() {
    if (!xfixes_) return std::nullopt;
    auto r = reply<xcb_xfixes_get_cursor_image_reply_t>(conn_.get(), xcb_xfixes_get_cursor_image(conn_.get()),
                                                        xcb_xfixes_get_cursor_image_reply);
    if (!r) return std::nullopt;
    CursorImage c;
    c.pointerX = r->x;
    c.pointerY = r->y;
    c.hotX = r->xhot;
    c.hotY = r->yhot;
    c.width = r->width;
    c.height = r->height;
    c.serial = r->cursor_serial;
    const std::uint32_t* px = xcb_xfixes_get_cursor_image_cursor_image(r.get());
    const auto n = static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(r.get()));
    if (n < static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height)) return std::nullopt;
    c.pixels.assign(px, px + static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height));
    return c;
}

bool ScreenGrabber::changedSince(const PixelRect& area) {
    if (!damage_) return true;
    // The notifications only say "something changed"; the region below says where.
    while (XReply<xcb_generic_event_t> e{xcb_poll_for_event(conn_.get())}) {
    }
    xcb_damage_subtract(conn_.get(), damageId_, XCB_NONE, partsRegion_);
    auto r = reply<xcb_xfixes_fetch_region_reply_t>(conn_.get(), xcb_xfixes_fetch_region(conn_.get(), partsRegion_),
                                                    xcb_xfixes_fetch_region_reply);
    if (!r) return true;
    const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(r.get());
    const int n = xcb_xfixes_fetch_region_rectangles_length(r.get());
    for (int i = 0; i < n; ++i) {
        const PixelRect changed{rects[i].x, rects[i].y, rects[i].width, rects[i].height};
        if (changed.intersects(area)) return true;
    }
    return false;
}

}  // namespace tamborix::x11
