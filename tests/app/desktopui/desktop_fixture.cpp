#include "desktop_fixture.h"

#include <unistd.h>

#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>

#include "app/settings.h"
#include "support/qt_spin.h"

namespace tamborix::testing {

XProbe::XProbe() : c_(xcb_connect(desktopServer().display().c_str(), nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
}

XProbe::~XProbe() { xcb_disconnect(c_); }

bool XProbe::viewable(xcb_window_t window) const {
    auto* r = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr);
    const bool shown = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(r);
    return shown;
}

std::optional<QRect> XProbe::rootGeometry(xcb_window_t window) const {
    auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
    if (!g) return std::nullopt;
    auto* t = xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, window, root_, 0, 0), nullptr);
    std::optional<QRect> out;
    if (t) out = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(t);
    std::free(g);
    return out;
}

xcb_window_t XProbe::selectionOwner(const std::string& name) const {
    auto* a = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, name.size(), name.c_str()), nullptr);
    if (!a) return 0;
    auto* o = xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, a->atom), nullptr);
    const xcb_window_t owner = o ? o->owner : 0;
    std::free(o);
    std::free(a);
    return owner;
}

xcb_window_t XProbe::windowAt(QPoint p) const {
    xcb_window_t current = root_;
    std::int16_t x = static_cast<std::int16_t>(p.x());
    std::int16_t y = static_cast<std::int16_t>(p.y());
    while (true) {
        auto* t = xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, root_, current, x, y), nullptr);
        const xcb_window_t child = t ? t->child : 0;
        const std::int16_t cx = t ? t->dst_x : 0;
        const std::int16_t cy = t ? t->dst_y : 0;
        std::free(t);
        (void)cx;
        (void)cy;
        if (child == 0) return current;
        current = child;
    }
}

DesktopFixture::DesktopFixture(bool launchedBefore) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tamborix-desk.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    std::filesystem::create_directories(dir_ / "store");
    if (launchedBefore) {
        Settings settings(dir_ / "settings.json");
        (void)settings.set(Settings::hasLaunched, true);
    }
    auto env = fakes_.environment(loop_, dir_, listeners_);
    model_ = std::make_unique<HelperModel>(env);
    ui_ = std::make_unique<ui::DesktopUi>(*model_);
    model_->setPrompter(&ui_->prompter());
}

DesktopFixture::~DesktopFixture() {
    model_->setPrompter(nullptr);
    ui_.reset();
    model_->shutdown();
    model_.reset();
    // Deleted-later widgets and sockets go before the next test builds its own.
    spinUntil([] { return false; }, 30);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string DesktopFixture::address() const {
    return "127.0.0.1:" + std::to_string(model_->linkPort());
}

bool DesktopFixture::waitShown(QWidget* window) {
    if (!window) return false;
    XProbe probe;
    return spinUntil([&] {
        return window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed() &&
               probe.viewable(static_cast<xcb_window_t>(window->winId()));
    });
}

std::filesystem::path DesktopFixture::screenshot(QWidget* window, const std::string& name) {
    // Let the last paint reach the server before reading it back.
    spinUntil([] { return false; }, 100);
    const auto file = dir_ / (name + ".png");
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", static_cast<unsigned long>(window->winId()));
    if (desktopServer().run({"import", "-window", id, file.string()}) != 0) return {};
    if (const char* keep = std::getenv("TAMBORIX_SCREENSHOT_DIR"); keep && *keep) {
        std::error_code ignored;
        std::filesystem::copy_file(file, std::filesystem::path(keep) / (name + ".png"),
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    }
    return file;
}

bool DesktopFixture::click(QPoint global) {
    const int rc = desktopServer().run({"xdotool", "mousemove", "--sync", std::to_string(global.x()),
                                        std::to_string(global.y()), "click", "1"});
    return rc == 0;
}

}  // namespace tamborix::testing
