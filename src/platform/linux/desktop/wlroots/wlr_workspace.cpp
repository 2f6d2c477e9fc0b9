#include "platform/linux/desktop/wlroots/wlr_workspace.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/support/gio/icon_images.h"
#include "wayland/foreign-toplevel.h"

namespace tamborix::wlroots {

namespace {

WlrWorkspace& self(void* data) { return *static_cast<WlrWorkspace*>(data); }

const zwlr_foreign_toplevel_handle_v1_listener handleListener{
    [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    [](void* d, zwlr_foreign_toplevel_handle_v1* h, const char* appId) {
        if (auto* t = self(d).find(h)) t->pendingAppId = appId;
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* d, zwlr_foreign_toplevel_handle_v1* h, wl_array* states) {
        auto* t = self(d).find(h);
        if (!t) return;
        t->pendingActivated = t->pendingMinimized = false;
        const auto* s = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->pendingActivated = true;
            if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) t->pendingMinimized = true;
        }
    },
    [](void* d, zwlr_foreign_toplevel_handle_v1* h) {
        if (auto* t = self(d).find(h)) self(d).done(*t);
    },
    [](void* d, zwlr_foreign_toplevel_handle_v1* h) { self(d).closed(h); },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

const zwlr_foreign_toplevel_manager_v1_listener managerListener{
    [](void* d, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* h) { self(d).added(h); },
    [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

struct Watch final : Workspace::FrontWatch {
    std::shared_ptr<std::function<void()>> fn;
};

}  // namespace

std::unique_ptr<WlrWorkspace> WlrWorkspace::create(wayland::WaylandConnection& conn, wl_seat* seat,
                                                   std::shared_ptr<gio::DesktopEntries> entries, std::string ownAppId,
                                                   std::string& why) {
    std::unique_ptr<WlrWorkspace> w(new WlrWorkspace(conn, seat, std::move(entries), std::move(ownAppId)));
    w->manager_.reset(
        conn.bind<zwlr_foreign_toplevel_manager_v1>(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!w->manager_ || !seat) {
        why = "the compositor offers no foreign-toplevel list";
        return nullptr;
    }
    zwlr_foreign_toplevel_manager_v1_add_listener(w->manager_.get(), &managerListener, w.get());
    auto* raw = w.get();
    w->afterDispatch_ = conn.afterDispatch([raw] { raw->reportFront(); });
    conn.roundtrip();
    return w;
}

WlrWorkspace::WlrWorkspace(wayland::WaylandConnection& conn, wl_seat* seat,
                           std::shared_ptr<gio::DesktopEntries> entries, std::string ownAppId)
    : conn_(conn), seat_(seat), entries_(std::move(entries)), ownAppId_(std::move(ownAppId)) {}

WlrWorkspace::~WlrWorkspace() {
    afterDispatch_.reset();
    toplevels_.clear();
    if (manager_) zwlr_foreign_toplevel_manager_v1_stop(manager_.get());
    conn_.flush();
}

void WlrWorkspace::added(zwlr_foreign_toplevel_handle_v1* handle) {
    auto t = std::make_unique<Toplevel>();
    t->handle.reset(handle);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, this);
    toplevels_.push_back(std::move(t));
}

WlrWorkspace::Toplevel* WlrWorkspace::find(zwlr_foreign_toplevel_handle_v1* handle) {
    for (auto& t : toplevels_) {
        if (t->handle.get() == handle) return t.get();
    }
    return nullptr;
}

void WlrWorkspace::done(Toplevel& t) {
    t.appId = t.pendingAppId;
    t.minimized = t.pendingMinimized;
    if (t.pendingActivated && !t.activated) t.order = ++activations_;
    t.activated = t.pendingActivated;
    t.announced = true;
    frontMayHaveChanged();
}

void WlrWorkspace::closed(zwlr_foreign_toplevel_handle_v1* handle) {
    std::erase_if(toplevels_, [handle](const auto& t) { return t->handle.get() == handle; });
    frontMayHaveChanged();
}

void WlrWorkspace::reportFront() {
    if (!frontDirty_) return;
    frontDirty_ = false;
    std::optional<std::string> front;
    for (const auto& t : toplevels_) {
        if (t->announced && t->activated) front = groupOf(t->appId);
    }
    if (front == lastFront_) return;
    lastFront_ = front;
    if (frontWatcher_ && *frontWatcher_) (*frontWatcher_)();
}

std::string WlrWorkspace::groupOf(const std::string& appId) const {
    gio::WindowIdentity id;
    id.gtkApplicationId = appId;
    id.wmClass = appId;
    if (auto entry = entries_->forWindow(id)) return entry->id;
    return appId;
}

AppHandle WlrWorkspace::handleOf(const std::string& group) const {
    auto [it, fresh] = handles_.try_emplace(group, nextHandle_);
    if (fresh) ++nextHandle_;
    return it->second;
}

std::vector<RunningApp> WlrWorkspace::runningApps() const {
    std::vector<RunningApp> apps;
    std::vector<std::string> groups;
    for (const auto& t : toplevels_) {
        if (!t->announced) continue;
        const std::string group = groupOf(t->appId);
        if (group == ownAppId_ || std::find(groups.begin(), groups.end(), group) != groups.end()) continue;
        groups.push_back(group);
        RunningApp app;
        app.handle = handleOf(group);
        const auto entry = entries_->byId(group);
        app.appId = entry ? entry->id : std::string();
        app.name = entry ? entry->name : t->appId;
        apps.push_back(std::move(app));
    }
    // Applications whose windows all closed give their handles up.
    std::erase_if(handles_, [&](const auto& h) { return std::find(groups.begin(), groups.end(), h.first) == groups.end(); });
    return apps;
}

std::optional<AppHandle> WlrWorkspace::frontmost() const {
    for (const auto& t : toplevels_) {
        if (t->announced && t->activated) return handleOf(groupOf(t->appId));
    }
    return std::nullopt;
}

std::unique_ptr<Workspace::FrontWatch> WlrWorkspace::watchFront(std::function<void()> changed) {
    auto w = std::make_unique<Watch>();
    w->fn = std::make_shared<std::function<void()>>(std::move(changed));
    frontWatcher_ = w->fn;
    return w;
}

void WlrWorkspace::unhide(const RunningApp& app) {
    for (const auto& t : toplevels_) {
        if (t->minimized && handleOf(groupOf(t->appId)) == app.handle) {
            zwlr_foreign_toplevel_handle_v1_unset_minimized(t->handle.get());
        }
    }
    conn_.flush();
}

bool WlrWorkspace::activate(const RunningApp& app) {
    std::vector<Toplevel*> windows;
    for (const auto& t : toplevels_) {
        if (t->announced && handleOf(groupOf(t->appId)) == app.handle) windows.push_back(t.get());
    }
    if (windows.empty()) return false;
    // The window used last is activated last, so it ends up in front of its siblings.
    std::sort(windows.begin(), windows.end(), [](const Toplevel* a, const Toplevel* b) { return a->order < b->order; });
    for (auto* t : windows) zwlr_foreign_toplevel_handle_v1_activate(t->handle.get(), seat_);
    conn_.flush();
    return true;
}

std::optional<InstalledApp> WlrWorkspace::findApp(std::string_view appId) const {
    return entries_->installedApp(appId);
}

std::vector<InstalledApp> WlrWorkspace::installedApps() const { return entries_->installedApps(); }

bool WlrWorkspace::launch(const InstalledApp& app) { return entries_->launch(app.appId, {}); }

bool WlrWorkspace::openUrl(const std::string& url) { return entries_->openUrl(url); }

std::optional<Bytes> WlrWorkspace::iconPNG(const RunningApp& app, int px) const {
    const auto entry = entries_->byId(app.appId);
    if (!entry) return std::nullopt;
    return gio::themeIconPNG(entry->icon, px);
}

}  // namespace tamborix::wlroots
