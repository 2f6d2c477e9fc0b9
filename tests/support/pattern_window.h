#pragma once
// A test's own client of the X server: an 800 × 400 window of four coloured quadrants (red,
// green, blue, white) that the server paints itself (window backgrounds, no Expose handling), a
// solid magenta 16 × 16 cursor with its hotspot in the middle, and pointer warps.

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::testing {

class PatternWindow {
public:
    static constexpr int width = 800;
    static constexpr int height = 400;
    static constexpr std::uint32_t red = 0xDC1E1E, green = 0x1EC828, blue = 0x2832D2, white = 0xFAFAFA;
    static constexpr int cursorSize = 16;

    PatternWindow(const std::string& display, int x, int y) : x_(x), y_(y) {
        conn_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(conn_)) throw std::runtime_error("cannot connect to " + display);
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
        window_ = makeWindow(screen_->root, x, y, width, height, 0x000000);
        const std::uint32_t colours[4] = {red, green, blue, white};
        for (int i = 0; i < 4; ++i) {
            quadrants_[i] = makeWindow(window_, (i % 2) * width / 2, (i / 2) * height / 2, width / 2,
                                       height / 2, colours[i]);
        }
        makeCursor();
        xcb_map_subwindows(conn_, window_);
        xcb_map_window(conn_, window_);
        sync();
    }
    ~PatternWindow() { xcb_disconnect(conn_); }
    PatternWindow(const PatternWindow&) = delete;
    PatternWindow& operator=(const PatternWindow&) = delete;

    [[nodiscard]] int x() const { return x_; }
    [[nodiscard]] int y() const { return y_; }

    // Quadrant 0 top-left … 3 bottom-right gets a new colour, painted by the server.
    void repaint(int quadrant, std::uint32_t colour) {
        xcb_change_window_attributes(conn_, quadrants_[quadrant], XCB_CW_BACK_PIXEL, &colour);
        xcb_clear_area(conn_, 0, quadrants_[quadrant], 0, 0, 0, 0);
        sync();
    }

    void warpPointer(int rootX, int rootY) {
        xcb_warp_pointer(conn_, XCB_NONE, screen_->root, 0, 0, 0, 0, static_cast<std::int16_t>(rootX),
                         static_cast<std::int16_t>(rootY));
        sync();
    }

private:
    xcb_window_t makeWindow(xcb_window_t parent, int x, int y, int w, int h, std::uint32_t background) {
        const xcb_window_t id = xcb_generate_id(conn_);
        const std::uint32_t values[2] = {background, 1};  // override-redirect: placed exactly here
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, id, parent, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(w),
                          static_cast<std::uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        return id;
    }

    void makeCursor() {
        const xcb_pixmap_t bits = xcb_generate_id(conn_);
        xcb_create_pixmap(conn_, 1, bits, screen_->root, cursorSize, cursorSize);
        const xcb_gcontext_t gc = xcb_generate_id(conn_);
        const std::uint32_t one = 1;
        xcb_create_gc(conn_, gc, bits, XCB_GC_FOREGROUND, &one);
        const xcb_rectangle_t all{0, 0, cursorSize, cursorSize};
        xcb_poly_fill_rectangle(conn_, bits, gc, 1, &all);
        const xcb_cursor_t cursor = xcb_generate_id(conn_);
        xcb_create_cursor(conn_, cursor, bits, bits, 0xFFFF, 0, 0xFFFF, 0, 0, 0, cursorSize / 2,
                          cursorSize / 2);
        // On the root as well, so the shape does not depend on what lies under the pointer.
        for (xcb_window_t w : {screen_->root, window_}) {
            xcb_change_window_attributes(conn_, w, XCB_CW_CURSOR, &cursor);
        }
        xcb_free_gc(conn_, gc);
        xcb_free_pixmap(conn_, bits);
    }

    void sync() {
        x11::XReply<xcb_get_input_focus_reply_t>(
            xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    }

    xcb_connection_t* conn_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t window_ = 0;
    std::array<xcb_window_t, 4> quadrants_{};
    int x_, y_;
};

}  // namespace tamborix::testing
