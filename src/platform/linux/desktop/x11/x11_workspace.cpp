#include "platform/linux/desktop/x11/x11_workspace.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/support/gio/icon_images.h"
#include "platform/linux/desktop/x11/ewmh_window_control.h"
#include "platform/linux/desktop/x11/startup_notification.h"
#include "platform/linux/desktop/x11/x_properties.h"

namespace tamborix::x11 {

namespace {

constexpr std::uint32_t sourcePager = 2;

std::string executableOf(std::uint32_t pid) {
    if (pid == 0) return {};
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : target.string();
}

}  // namespace

X11Workspace::X11Workspace(XConnection& x, std::shared_ptr<gio::DesktopEntries> entries,
                           std::string ownAppId)
    : x_(x), entriesOwner_(std::move(entries)), entries_(*entriesOwner_), ownAppId_(std::move(ownAppId)) {}

std::optional<X11Workspace::WindowInfo> X11Workspace::describe(xcb_window_t window) const {
    const std::uint32_t pid =
        cardinal(x_, window, x_.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL).value_or(0);
    if (pid == static_cast<std::uint32_t>(::getpid())) return std::nullopt;
    WindowInfo info;
    // WM_CLASS holds the instance and the class, each ended by a NUL.
    const std::string wmClass = bytes(x_, window, XCB_ATOM_WM_CLASS, 1024).value_or("");
    const auto cut = wmClass.find('\0');
    std::string instance = wmClass.substr(0, cut);
    std::string klass = cut == std::string::npos ? std::string() : wmClass.substr(cut + 1);
    if (const auto end = klass.find('\0'); end != std::string::npos) klass.resize(end);
    info.key = Key{pid, klass, instance};
    info.gtkApplicationId = bytes(x_, window, x_.atom("_GTK_APPLICATION_ID"), 512).value_or("");

    const auto types = cardinals(x_, window, x_.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
    const xcb_atom_t normal = x_.atom("_NET_WM_WINDOW_TYPE_NORMAL");
    const xcb_atom_t dialog = x_.atom("_NET_WM_WINDOW_TYPE_DIALOG");
    info.regular = types.empty() || types.front() == normal || types.front() == dialog;
    if (info.regular) {
        const auto states = cardinals(x_, window, x_.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
        const xcb_atom_t skip = x_.atom("_NET_WM_STATE_SKIP_TASKBAR");
        info.regular = std::find(states.begin(), states.end(), skip) == states.end();
    }
    return info;
}

std::optional<gio::DesktopEntry> X11Workspace::entryFor(const Key& key,
                                                        const std::string& gtkId) const {
    auto slot = std::make_pair(key, gtkId);
    if (auto it = entryCache_.find(slot); it != entryCache_.end()) return it->second;
    gio::WindowIdentity identity{gtkId, std::get<1>(key), std::get<2>(key),
                                 executableOf(std::get<0>(key))};
    auto entry = entries_.forWindow(identity);
    entryCache_.emplace(std::move(slot), entry);
    return entry;
}

AppHandle X11Workspace::handleFor(const Key& key) const {
    auto [it, added] = handles_.try_emplace(key, nextHandle_);
    if (added) ++nextHandle_;
    return it->second;
}

std::vector<X11Workspace::App> X11Workspace::scan() const {
    const auto clients = cardinals(x_, x_.root(), x_.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    auto stacking =
        cardinals(x_, x_.root(), x_.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (stacking.empty()) stacking = clients;
    std::vector<App> apps;
    std::map<xcb_window_t, std::size_t> appOfWindow;
    for (const xcb_window_t window : clients) {
        auto info = describe(window);
        if (!info) continue;
        auto it = std::find_if(apps.begin(), apps.end(), [&](const App& a) { return a.key == info->key; });
        if (it == apps.end()) {
            App app;
            app.key = info->key;
            app.handle = handleFor(info->key);
            app.entry = entryFor(info->key, info->gtkApplicationId);
            apps.push_back(std::move(app));
            it = std::prev(apps.end());
        }
        it->regular = it->regular || info->regular;
        appOfWindow[window] = static_cast<std::size_t>(it - apps.begin());
    }
    for (const xcb_window_t window : stacking) {
        if (auto it = appOfWindow.find(window); it != appOfWindow.end()) {
            apps[it->second].windows.push_back(window);
        }
    }
    // Handles of applications that are gone are not needed again (and never reused); nor is
    // what their windows were matched to.
    const auto gone = [&](const Key& key) {
        return std::none_of(apps.begin(), apps.end(), [&](const App& a) { return a.key == key; });
    };
    std::erase_if(handles_, [&](const auto& kv) { return gone(kv.first); });
    std::erase_if(entryCache_, [&](const auto& kv) { return gone(kv.first.first); });
    for (auto& app : apps) {
        const auto& [pid, klass, instance] = app.key;
        if (app.entry) {
            app.appId = app.entry->id;
            app.name = app.entry->name;
        } else {
            // Without an entry the window class stands in: stable for as long as it runs.
            app.appId = !klass.empty() ? klass : instance;
            app.name = app.appId;
        }
    }
    std::erase_if(apps, [&](const App& a) { return a.appId == ownAppId_ || a.windows.empty(); });
    return apps;
}

std::vector<RunningApp> X11Workspace::runningApps() const {
    std::vector<RunningApp> out;
    for (const auto& app : scan()) {
        out.push_back(RunningApp{app.handle, app.appId, app.name, app.regular, false});
    }
    return out;
}

std::optional<AppHandle> X11Workspace::frontmost() const {
    const auto active = activeWindow(x_);
    if (!active) return std::nullopt;
    const auto info = describe(*active);
    if (!info) return std::nullopt;  // the helper's own window
    return handleFor(info->key);
}

std::unique_ptr<Workspace::FrontWatch> X11Workspace::watchFront(std::function<void()> changed) {
    x_.selectRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
    struct Watch final : FrontWatch {
        std::unique_ptr<XConnection::Subscription> subscription;
    };
    auto watch = std::make_unique<Watch>();
    const xcb_atom_t active = x_.atom("_NET_ACTIVE_WINDOW");
    const xcb_window_t root = x_.root();
    watch->subscription = x_.subscribe([=, changed = std::move(changed)](const xcb_generic_event_t& e) {
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (notify.window == root && notify.atom == active) changed();
    });
    return watch;
}

std::optional<X11Workspace::App> X11Workspace::find(AppHandle handle) const {
    for (auto& app : scan()) {
        if (app.handle == handle) return std::move(app);
    }
    return std::nullopt;
}

void X11Workspace::unhide(const RunningApp&) {
    // Activating a minimised window restores it (see activate); there is nothing to do before.
}

bool X11Workspace::activate(const RunningApp& app) {
    const auto found = find(app.handle);
    if (!found || found->windows.empty()) return false;
    if (!cardinal(x_, x_.root(), x_.atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW)) return false;
    const xcb_window_t current = activeWindow(x_).value_or(XCB_WINDOW_NONE);
    sendToRoot(x_, found->windows.back(), x_.atom("_NET_ACTIVE_WINDOW"),
               {sourcePager, XCB_CURRENT_TIME, current, 0, 0});
    return true;
}

std::optional<InstalledApp> X11Workspace::findApp(std::string_view appId) const {
    return entries_.installedApp(appId);
}

std::vector<InstalledApp> X11Workspace::installedApps() const { return entries_.installedApps(); }

bool X11Workspace::launch(const InstalledApp& app) {
    const auto entry = entries_.byId(app.appId);
    if (!entry) return false;
    std::string startupId;
    if (entry->startupNotify) startupId = announceLaunch(x_, entry->name, entry->icon, entry->id);
    return entries_.launch(entry->id, startupId);
}

bool X11Workspace::openUrl(const std::string& url) { return entries_.openUrl(url); }

std::optional<Bytes> X11Workspace::iconPNG(const RunningApp& app, int px) const {
    const auto found = find(app.handle);
    if (!found) return std::nullopt;
    if (found->entry) {
        if (auto png = gio::themeIconPNG(found->entry->icon, px)) return png;
    }
    for (auto it = found->windows.rbegin(); it != found->windows.rend(); ++it) {
        const auto value = cardinals(x_, *it, x_.atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL);
        if (auto png = gio::argbIconPNG(value, px)) return png;
    }
    return std::nullopt;
}

}  // namespace tamborix::x11
