#include "platform/linux/support/gio/desktop_entries.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "base/owned.h"

namespace tamborix::gio {

namespace {

using Unref = ReleaseWith<g_object_unref>;
using AppInfo = Owned<GDesktopAppInfo, g_object_unref>;
using LaunchContext = Owned<GAppLaunchContext, g_object_unref>;
using Text = Owned<gchar, g_free>;

void freeObjects(GList* list) { g_list_free_full(list, g_object_unref); }
using ObjectList = Owned<GList, freeObjects>;

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

DesktopEntry entryOf(GDesktopAppInfo* info) {
    DesktopEntry e;
    e.id = text(g_app_info_get_id(G_APP_INFO(info)));
    e.name = text(g_app_info_get_name(G_APP_INFO(info)));
    if (GIcon* icon = g_app_info_get_icon(G_APP_INFO(info))) {
        if (G_IS_THEMED_ICON(icon)) {
            const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            if (names && names[0]) e.icon = names[0];
        } else if (G_IS_FILE_ICON(icon)) {
            const Text path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
            e.icon = text(path.get());
        }
    }
    e.startupNotify = g_desktop_app_info_get_boolean(info, "StartupNotify");
    return e;
}

AppInfo lookup(const std::string& id) {
    if (id.empty()) return nullptr;
    return AppInfo(g_desktop_app_info_new(id.c_str()));
}

std::string baseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The program an entry starts: TryExec, else the first word of Exec.
std::string programOf(GDesktopAppInfo* info) {
    const Text tryExec(g_desktop_app_info_get_string(info, "TryExec"));
    std::string program = text(tryExec.get());
    if (program.empty()) program = text(g_app_info_get_executable(G_APP_INFO(info)));
    return baseName(program);
}

template <class Visit>
void forEachEntry(Visit visit) {
    const ObjectList all(g_app_info_get_all());
    for (GList* it = all.get(); it; it = it->next) {
        if (G_IS_DESKTOP_APP_INFO(it->data)) visit(G_DESKTOP_APP_INFO(it->data));
    }
}

}  // namespace

DesktopEntries::DesktopEntries() = default;

DesktopEntries::~DesktopEntries() { launches_.stop(); }

std::optional<DesktopEntry> DesktopEntries::byId(std::string_view id) const {
    auto info = lookup(std::string(id));
    if (!info) return std::nullopt;
    return entryOf(info.get());
}

std::optional<DesktopEntry> DesktopEntries::forWindow(const WindowIdentity& window) const {
    if (!window.gtkApplicationId.empty()) {
        if (auto e = byId(window.gtkApplicationId + ".desktop")) return e;
    }
    std::optional<DesktopEntry> byClass, byClassIgnoringCase, byProgram;
    const std::string program = baseName(window.executable);
    forEachEntry([&](GDesktopAppInfo* info) {
        if (byClass) return;
        const std::string wmClass = text(g_desktop_app_info_get_startup_wm_class(info));
        if (!wmClass.empty()) {
            if (wmClass == window.wmClass || wmClass == window.wmInstance) {
                byClass = entryOf(info);
                return;
            }
            if (!byClassIgnoringCase && (lower(wmClass) == lower(window.wmClass) ||
                                         lower(wmClass) == lower(window.wmInstance))) {
                byClassIgnoringCase = entryOf(info);
            }
        }
        if (!byProgram && !program.empty() && programOf(info) == program) byProgram = entryOf(info);
    });
    if (byClass) return byClass;
    if (byClassIgnoringCase) return byClassIgnoringCase;
    for (const auto& name : {window.wmClass, lower(window.wmClass), window.wmInstance,
                             lower(window.wmInstance)}) {
        if (name.empty()) continue;
        if (auto e = byId(name + ".desktop")) return e;
    }
    return byProgram;
}

std::optional<InstalledApp> DesktopEntries::installedApp(std::string_view id) const {
    if (auto e = byId(id)) return InstalledApp{e->id, e->name};
    return std::nullopt;
}

std::vector<InstalledApp> DesktopEntries::installedApps() const {
    std::vector<InstalledApp> out;
    for (auto& e : all()) out.push_back({std::move(e.id), std::move(e.name)});
    return out;
}

std::vector<DesktopEntry> DesktopEntries::all() const {
    std::vector<DesktopEntry> out;
    forEachEntry([&](GDesktopAppInfo* info) {
        if (g_app_info_should_show(G_APP_INFO(info))) out.push_back(entryOf(info));
    });
    return out;
}

bool DesktopEntries::launch(const std::string& id, const std::string& startupId,
                            std::function<void(int pid)> started) {
    auto info = lookup(id);
    if (!info) return false;
    launches_.post([info = std::shared_ptr<GDesktopAppInfo>(info.release(), Unref{}), startupId,
                    started = std::move(started)] {
        const LaunchContext context(g_app_launch_context_new());
        if (!startupId.empty())
            g_app_launch_context_setenv(context.get(), "DESKTOP_STARTUP_ID", startupId.c_str());
        // As g_app_info_launch does, with the spawned program's process id handed out.
        const auto spawned = [](GDesktopAppInfo*, GPid pid, gpointer data) {
            const auto& report = *static_cast<const std::function<void(int)>*>(data);
            if (report) report(static_cast<int>(pid));
        };
        // The caller was answered before the launch ran: a failure has nobody left to tell.
        (void)g_desktop_app_info_launch_uris_as_manager(info.get(), nullptr, context.get(), G_SPAWN_SEARCH_PATH,
                                                        nullptr, nullptr, spawned,
                                                        const_cast<std::function<void(int)>*>(&started), nullptr);
    });
    return true;
}

bool DesktopEntries::openUrl(const std::string& url) {
    const Text scheme(g_uri_parse_scheme(url.c_str()));
    if (!scheme) return false;
    GAppInfo* handler = g_app_info_get_default_for_uri_scheme(scheme.get());
    if (!handler) return false;
    launches_.post([handler = std::shared_ptr<GAppInfo>(handler, Unref{}), url] {
        GList uris{};
        uris.data = const_cast<char*>(url.c_str());
        const LaunchContext context(g_app_launch_context_new());
        (void)g_app_info_launch_uris(handler.get(), &uris, context.get(), nullptr);
    });
    return true;
}

void DesktopEntries::afterLaunches(std::function<void()> job) { launches_.post(std::move(job)); }

}  // namespace tamborix::gio
