#include "desktop_fixture.h"

#include <unistd.h>

#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/settings.h"
#include "support/qt_spin.h"

namespace tamborix::testing {

void isolateDesktopProcess(const XServer& server) {
    const std::pair<const char*, const char*> folders[] = {
        {"XDG_RUNTIME_DIR", "runtime"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
        {"XDG_CACHE_HOME", "cache"}, {"HOME", "home"}};
    for (const auto& [name, sub] : folders) ::setenv(name, (server.dir() / sub).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_NO_GLIB", "1", 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
}

std::optional<DesktopBus> startDesktopBus(const XServer& server, const std::string& policy,
                                          const std::filesystem::path& services) {
    const auto config = server.dir() / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path=" << (server.dir() / "bus").string()
                          << "</listen>"
                          << (services.empty() ? std::string() : "<servicedir>" + services.string() + "</servicedir>")
                          << "<policy context=\"default\">" << policy << "</policy></busconfig>\n";
    DesktopBus bus;
    bus.daemon = std::make_unique<ChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"--config-file=" + config.string(), "--nofork", "--nopidfile", "--print-address=1"},
        server.environment(), false);
    const auto address = bus.daemon->waitForLine([](const std::string& l) { return !l.empty(); });
    if (!address) {
        std::fprintf(stderr, "dbus-daemon did not start: %s\n", bus.daemon->transcript().c_str());
        return std::nullopt;
    }
    bus.address = *address;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
    bus.environment = server.environment();
    for (auto& e : bus.environment) {
        if (e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0) e = "DBUS_SESSION_BUS_ADDRESS=" + *address;
    }
    return bus;
}

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
