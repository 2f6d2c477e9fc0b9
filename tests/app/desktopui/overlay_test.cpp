// The overlay windows on the server: where they are, that they stay above a normal window, that a
// click at the dot reaches the window below, and how they look with and without a compositor.

#include <gtest/gtest.h>
#include <xcb/shape.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/desktop/overlay_style.h"
#include "desktop_fixture.h"
#include "platform/linux/desktop/qt_overlay/overlay_windows.h"
#include "platform/linux/desktop/qt_overlay/qt_overlay_surface.h"
#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

// A white window of 600 × 400 at (40, 40), placed by itself rather than by the window manager
// (openbox may still be settling in when the first test runs), that counts the clicks it gets.
class ClickTarget {
public:
    explicit ClickTarget(XProbe& probe) : probe_(probe) {
        xcb_connection_t* c = probe.get();
        window_ = xcb_generate_id(c);
        const std::uint32_t values[] = {0xffffff, 1, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, probe.root(), 40, 40, 600, 400, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, window_);
        xcb_flush(c);
    }
    ~ClickTarget() {
        xcb_destroy_window(probe_.get(), window_);
        xcb_flush(probe_.get());
    }
    [[nodiscard]] xcb_window_t id() const { return window_; }
    int presses() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(probe_.get())) {
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS) ++presses_;
            std::free(e);
        }
        return presses_;
    }

private:
    XProbe& probe_;
    xcb_window_t window_ = 0;
    int presses_ = 0;
};

// The top-level window (a child of the root) that holds `window`.
xcb_window_t topLevel(const XProbe& probe, xcb_window_t window) {
    while (true) {
        auto* t = xcb_query_tree_reply(probe.get(), xcb_query_tree(probe.get(), window), nullptr);
        if (!t) return window;
        const xcb_window_t parent = t->parent;
        std::free(t);
        if (parent == probe.root() || parent == 0) return window;
        window = parent;
    }
}

// Whether `upper` is stacked above `lower`, both top-level windows.
bool stackedAbove(const XProbe& probe, xcb_window_t upper, xcb_window_t lower) {
    auto* t = xcb_query_tree_reply(probe.get(), xcb_query_tree(probe.get(), probe.root()), nullptr);
    if (!t) return false;
    const xcb_window_t* kids = xcb_query_tree_children(t);
    int up = -1;
    int low = -1;
    for (int i = 0; i < xcb_query_tree_children_length(t); ++i) {
        if (kids[i] == upper) up = i;
        if (kids[i] == lower) low = i;
    }
    std::free(t);
    return up >= 0 && low >= 0 && up > low;  // bottom to top
}

std::vector<xcb_rectangle_t> shapeRectangles(const XProbe& probe, xcb_window_t w, xcb_shape_kind_t kind) {
    auto* r = xcb_shape_get_rectangles_reply(probe.get(), xcb_shape_get_rectangles(probe.get(), w, kind), nullptr);
    std::vector<xcb_rectangle_t> out;
    if (r) {
        const auto* rects = xcb_shape_get_rectangles_rectangles(r);
        out.assign(rects, rects + xcb_shape_get_rectangles_rectangles_length(r));
    }
    std::free(r);
    return out;
}

bool boundingShaped(const XProbe& probe, xcb_window_t w) {
    auto* r = xcb_shape_query_extents_reply(probe.get(), xcb_shape_query_extents(probe.get(), w), nullptr);
    const bool shaped = r && r->bounding_shaped;
    std::free(r);
    return shaped;
}

bool insideShape(const std::vector<xcb_rectangle_t>& rects, int x, int y) {
    for (const auto& r : rects) {
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) return true;
    }
    return false;
}

// The screen's pixel at a root point as 0xRRGGBB.
std::uint32_t pixelAt(const XProbe& probe, QPoint p) {
    auto* img = xcb_get_image_reply(
        probe.get(),
        xcb_get_image(probe.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, probe.root(), static_cast<std::int16_t>(p.x()),
                      static_cast<std::int16_t>(p.y()), 1, 1, ~0u),
        nullptr);
    std::uint32_t value = 0;
    if (img && xcb_get_image_data_length(img) >= 4) {
        const std::uint8_t* d = xcb_get_image_data(img);
        value = (std::uint32_t{d[2]} << 16) | (std::uint32_t{d[1]} << 8) | d[0];
    }
    std::free(img);
    return value & 0xffffff;
}

int depthOf(const XProbe& probe, xcb_window_t w) {
    auto* g = xcb_get_geometry_reply(probe.get(), xcb_get_geometry(probe.get(), w), nullptr);
    const int depth = g ? g->depth : 0;
    std::free(g);
    return depth;
}

bool click(QPoint p) {
    return desktopServer().run({"xdotool", "mousemove", "--sync", std::to_string(p.x()),
                                std::to_string(p.y()), "click", "1"}) == 0;
}

TEST(OverlayWindows, Laser_NoCompositor_RoundShapeAboveWindowsAndClicksPassThrough) {
    XProbe probe;
    ClickTarget below(probe);
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(below.id()); }));
    // The window manager places the window: the dot goes inside wherever it is.
    const auto area = probe.rootGeometry(below.id());
    ASSERT_TRUE(area);
    const QPoint origin = area->topLeft() + QPoint(100, 80);
    const QPoint middle = origin + QPoint(23, 23);
    qt::QtOverlaySurface surface([] { return false; });
    surface.showLaser({static_cast<double>(origin.x()), static_cast<double>(origin.y())});
    qt::LaserWindow* laser = surface.laserWindow();
    ASSERT_NE(laser, nullptr);
    const auto id = static_cast<xcb_window_t>(laser->winId());
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(id) && laser->isExposed(); }));
    EXPECT_EQ(probe.rootGeometry(id), QRect(origin, QSize(46, 46)));
    EXPECT_TRUE(stackedAbove(probe, topLevel(probe, id), topLevel(probe, below.id())));
    EXPECT_FALSE(laser->translucent());

    // Round: the centre is in the window's shape, its corners are not; it takes no input at all.
    const auto bounding = shapeRectangles(probe, id, XCB_SHAPE_SK_BOUNDING);
    EXPECT_TRUE(insideShape(bounding, 23, 23));
    EXPECT_FALSE(insideShape(bounding, 1, 1));
    EXPECT_FALSE(insideShape(bounding, 44, 44));
    EXPECT_TRUE(shapeRectangles(probe, id, XCB_SHAPE_SK_INPUT).empty());
    // Drawn on the screen: the dot's red at the centre, the white window below around it.
    ASSERT_TRUE(spinUntil([&] { return pixelAt(probe, middle) != 0xffffff; }));
    const std::uint32_t centre = pixelAt(probe, middle);
    EXPECT_GT(centre >> 16, 0xc0u) << std::hex << centre;
    EXPECT_LT((centre >> 8) & 0xff, 0x60u) << std::hex << centre;
    EXPECT_EQ(pixelAt(probe, origin + QPoint(1, 1)), 0xffffffu);

    ASSERT_TRUE(click(middle));
    EXPECT_TRUE(spinUntil([&] { return below.presses() == 1; })) << "the click stayed in the dot";

    surface.moveLaser({300, 200});
    EXPECT_TRUE(spinUntil([&] { return probe.rootGeometry(id) == QRect(300, 200, 46, 46); }));
    surface.hideLaser();
    EXPECT_TRUE(spinUntil([&] { return !probe.viewable(id); }));
    surface.showLaser({10, 10});
    EXPECT_EQ(surface.laserWindow(), laser) << "the same window comes back";
    EXPECT_TRUE(spinUntil([&] { return probe.viewable(id); }));
}

TEST(OverlayWindows, Laser_Compositor_TranslucentUnshapedAndStillClickThrough) {
    XProbe probe;
    ClickTarget below(probe);
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(below.id()); }));
    const auto area = probe.rootGeometry(below.id());
    ASSERT_TRUE(area);
    const QPoint origin = area->topLeft() + QPoint(200, 100);
    qt::QtOverlaySurface surface([] { return true; });
    surface.showLaser({static_cast<double>(origin.x()), static_cast<double>(origin.y())});
    qt::LaserWindow* laser = surface.laserWindow();
    const auto id = static_cast<xcb_window_t>(laser->winId());
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(id) && laser->isExposed(); }));
    EXPECT_TRUE(laser->translucent());
    EXPECT_EQ(depthOf(probe, id), 32) << "an alpha channel for the compositor";
    EXPECT_FALSE(boundingShaped(probe, id));
    EXPECT_TRUE(shapeRectangles(probe, id, XCB_SHAPE_SK_INPUT).empty());
    ASSERT_TRUE(click(origin + QPoint(23, 23)));
    EXPECT_TRUE(spinUntil([&] { return below.presses() == 1; }));
}

// The core puts the dot's window at the pointer less half its size, in the X server's pixels,
// whatever scale Qt draws at: its centre lands on the pointer, also under QT_SCALE_FACTOR=2.
TEST(OverlayWindows, LaserAndFinder_AnyScale_CentredOnThePointer) {
    // The run with a desktop's resolution of 192 dpi must really be one at twice the scale.
    if (const char* dpi = std::getenv("TAMBORIX_TEST_XFT_DPI"); dpi && std::string(dpi) == "192")
        ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), 2.0);
    XProbe probe;
    qt::QtOverlaySurface surface([] { return false; });
    const QPoint pointer(500, 300);
    const double half = overlay_style::laser::size / 2;
    surface.showLaser({pointer.x() - half, pointer.y() - half});
    const auto laser = static_cast<xcb_window_t>(surface.laserWindow()->winId());
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(laser); }));
    auto placed = probe.rootGeometry(laser);
    ASSERT_TRUE(placed);
    EXPECT_LE((placed->center() - pointer).manhattanLength(), 2)
        << "centre " << placed->center().x() << "," << placed->center().y();

    const double finderHalf = overlay_style::finder::size / 2;
    surface.showFinder(Rect{pointer.x() - finderHalf, pointer.y() - finderHalf, overlay_style::finder::size,
                            overlay_style::finder::size});
    const auto finder = static_cast<xcb_window_t>(surface.finderWindow()->winId());
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(finder); }));
    placed = probe.rootGeometry(finder);
    ASSERT_TRUE(placed);
    EXPECT_LE((placed->center() - pointer).manhattanLength(), 2)
        << "centre " << placed->center().x() << "," << placed->center().y();
    surface.hideFinder();
    surface.hideLaser();
}

TEST(OverlayWindows, Finder_PulseOnTheRightMonitor_PlacedThenGoneWhenTheRingsEnd) {
    XProbe probe;
    qt::QtOverlaySurface surface([] { return false; });
    // The right half of the screen, as the core places it on a second monitor.
    surface.showFinder(Rect{900, 300, overlay_style::finder::size, overlay_style::finder::size});
    qt::FinderWindow* finder = surface.finderWindow();
    ASSERT_NE(finder, nullptr);
    const auto id = static_cast<xcb_window_t>(finder->winId());
    ASSERT_TRUE(spinUntil([&] { return probe.viewable(id); }));
    EXPECT_EQ(probe.rootGeometry(id), QRect(900, 300, 220, 220));
    EXPECT_TRUE(shapeRectangles(probe, id, XCB_SHAPE_SK_INPUT).empty());
    // A ring, not a disc: the stroke is in the shape, the middle is not.
    const auto bounding = shapeRectangles(probe, id, XCB_SHAPE_SK_BOUNDING);
    EXPECT_FALSE(insideShape(bounding, 110, 110));
    EXPECT_TRUE(finder->pulsing());
    // Both rings play out (0.35 s apart, 0.7 s each) and the window leaves the screen.
    EXPECT_TRUE(spinUntil([&] { return !finder->pulsing() && !probe.viewable(id); }, 5000));
    surface.showFinder(Rect{100, 100, 220, 220});
    EXPECT_TRUE(finder->pulsing()) << "a new request plays the pulse from its start";
    surface.hideFinder();
    EXPECT_FALSE(finder->pulsing());
    EXPECT_TRUE(spinUntil([&] { return !probe.viewable(id); }));
}

}  // namespace
}  // namespace tamborix::testing
