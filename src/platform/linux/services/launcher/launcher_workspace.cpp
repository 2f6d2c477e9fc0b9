#include "platform/linux/services/launcher/launcher_workspace.h"

#include <gio/gio.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>

#include "base/owned.h"
#include "platform/linux/support/gio/icon_images.h"

namespace tamborix::launcher {

namespace {

using Object = Owned<GObject, g_object_unref>;
using Variant = Owned<GVariant, g_variant_unref>;

// A bus call that an application in a hung state must not turn into a hung helper.
constexpr int busTimeoutMs = 1500;

constexpr std::string_view entrySuffix = ".desktop";

// The bus name an application of this entry holds while it runs: its id without ".desktop".
std::string busNameOf(const std::string& appId) {
    if (!appId.ends_with(entrySuffix)) return {};
    return appId.substr(0, appId.size() - entrySuffix.size());
}

// The object path org.freedesktop.Application lives at for a bus name.
std::string objectPathOf(const std::string& busName) {
    std::string path = "/" + busName;
    std::replace(path.begin(), path.end(), '.', '/');
    std::replace(path.begin(), path.end(), '-', '_');
    return path;
}

bool alive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

GDBusConnection* sessionBus() {
    // GIO keeps the one session-bus connection of the process; a failure is retried next time.
    return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
}

}  // namespace

struct LauncherWorkspace::Shared {
    std::mutex mutex;
    std::map<int, std::string> launched;  // process id → desktop-entry id
};

LauncherWorkspace::LauncherWorkspace(std::shared_ptr<gio::DesktopEntries> entries, std::string ownAppId)
    : entries_(std::move(entries)), ownAppId_(std::move(ownAppId)), shared_(std::make_shared<Shared>()) {}

LauncherWorkspace::~LauncherWorkspace() = default;

std::set<std::string> LauncherWorkspace::busNames() const {
    std::set<std::string> names;
    const Object bus(G_OBJECT(sessionBus()));
    if (!bus) return names;
    const Variant reply(g_dbus_connection_call_sync(
        G_DBUS_CONNECTION(bus.get()), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, busTimeoutMs, nullptr, nullptr));
    if (!reply) return names;
    GVariantIter* raw = nullptr;
    g_variant_get(reply.get(), "(as)", &raw);
    const Owned<GVariantIter, g_variant_iter_free> iter(raw);
    const gchar* name = nullptr;
    while (g_variant_iter_loop(iter.get(), "&s", &name)) {
        if (name[0] != ':') names.insert(name);
    }
    return names;
}

AppHandle LauncherWorkspace::handleFor(const std::string& appId) const {
    const auto [it, added] = handles_.try_emplace(appId, handles_.size() + 1);
    return it->second;
}

std::string LauncherWorkspace::appIdOf(AppHandle handle) const {
    for (const auto& [id, h] : handles_) {
        if (h == handle) return id;
    }
    return {};
}

std::vector<RunningApp> LauncherWorkspace::runningApps() const {
    std::set<std::string> launched;
    {
        const std::lock_guard lock(shared_->mutex);
        std::erase_if(shared_->launched, [](const auto& entry) { return !alive(entry.first); });
        for (const auto& [pid, id] : shared_->launched) launched.insert(id);
    }
    const auto names = busNames();
    std::vector<RunningApp> out;
    std::set<std::string> listed;
    const auto add = [&](const gio::DesktopEntry& e) {
        if (e.id == ownAppId_ || !listed.insert(e.id).second) return;
        out.push_back(RunningApp{handleFor(e.id), e.id, e.name, true, false});
    };
    for (const auto& e : entries_->all()) {
        const auto name = busNameOf(e.id);
        if ((!name.empty() && names.contains(name)) || launched.contains(e.id)) add(e);
    }
    // A launched entry that is hidden from menus still runs.
    for (const auto& id : launched) {
        if (listed.contains(id)) continue;
        if (auto e = entries_->byId(id)) add(*e);
    }
    return out;
}

bool LauncherWorkspace::activate(const RunningApp& app) {
    const auto name = busNameOf(app.appId);
    if (name.empty() || !busNames().contains(name)) return false;
    const Object bus(G_OBJECT(sessionBus()));
    if (!bus) return false;
    const Variant reply(g_dbus_connection_call_sync(
        G_DBUS_CONNECTION(bus.get()), name.c_str(), objectPathOf(name).c_str(), "org.freedesktop.Application",
        "Activate", g_variant_new("(a{sv})", nullptr), nullptr, G_DBUS_CALL_FLAGS_NONE, busTimeoutMs, nullptr,
        nullptr));
    return reply != nullptr;
}

std::optional<InstalledApp> LauncherWorkspace::findApp(std::string_view appId) const {
    return entries_->installedApp(appId);
}

std::vector<InstalledApp> LauncherWorkspace::installedApps() const { return entries_->installedApps(); }

bool LauncherWorkspace::launch(const InstalledApp& app) {
    return entries_->launch(app.appId, {}, [shared = shared_, id = app.appId](int pid) {
        const std::lock_guard lock(shared->mutex);
        shared->launched[pid] = id;
    });
}

bool LauncherWorkspace::openUrl(const std::string& url) { return entries_->openUrl(url); }

std::optional<Bytes> LauncherWorkspace::iconPNG(const RunningApp& app, int px) const {
    const std::string id = app.appId.empty() ? appIdOf(app.handle) : app.appId;
    const auto entry = entries_->byId(id);
    if (!entry) return std::nullopt;
    return gio::themeIconPNG(entry->icon, px);
}

}  // namespace tamborix::launcher
