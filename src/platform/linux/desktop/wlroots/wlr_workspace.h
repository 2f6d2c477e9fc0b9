#pragma once
// Running applications on a wlroots compositor from its foreign-toplevel list: windows grouped
// into applications by app_id, matched to desktop entries through GIO as on X11; the front
// application is the one whose window is activated, reported as the compositor changes it.
// Launching and web addresses through GIO.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/support/gio/desktop_entries.h"
#include "platform/linux/support/wayland/proxy.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/workspace.h"

namespace tamborix::wlroots {

class WlrWorkspace final : public Workspace {
public:
    // Null with `why` set when the compositor offers no foreign-toplevel list.
    [[nodiscard]] static std::unique_ptr<WlrWorkspace> create(wayland::WaylandConnection& conn, wl_seat* seat,
                                                              std::shared_ptr<gio::DesktopEntries> entries,
                                                              std::string ownAppId, std::string& why);
    ~WlrWorkspace() override;

    [[nodiscard]] std::vector<RunningApp> runningApps() const override;
    [[nodiscard]] std::optional<AppHandle> frontmost() const override;
    [[nodiscard]] std::string ownAppId() const override { return ownAppId_; }
    [[nodiscard]] std::unique_ptr<FrontWatch> watchFront(std::function<void()> changed) override;
    void unhide(const RunningApp& app) override;
    [[nodiscard]] bool activate(const RunningApp& app) override;
    [[nodiscard]] std::optional<InstalledApp> findApp(std::string_view appId) const override;
    [[nodiscard]] std::vector<InstalledApp> installedApps() const override;
    [[nodiscard]] bool launch(const InstalledApp& app) override;
    [[nodiscard]] bool openUrl(const std::string& url) override;
    [[nodiscard]] std::optional<Bytes> iconPNG(const RunningApp& app, int px) const override;

    // Listener plumbing.
    struct Toplevel {
        wayland::Proxy<zwlr_foreign_toplevel_handle_v1> handle;
        std::string appId, pendingAppId;
        bool activated = false, pendingActivated = false;
        bool minimized = false, pendingMinimized = false;
        bool announced = false;  // its first done arrived
        std::uint64_t order = 0;  // when it was last activated, for the activation order
    };
    void added(zwlr_foreign_toplevel_handle_v1* handle);
    Toplevel* find(zwlr_foreign_toplevel_handle_v1* handle);
    void done(Toplevel& t);
    void closed(zwlr_foreign_toplevel_handle_v1* handle);

private:
    WlrWorkspace(wayland::WaylandConnection& conn, wl_seat* seat, std::shared_ptr<gio::DesktopEntries> entries,
                 std::string ownAppId);
    // The application a window belongs to: its desktop entry's id, else its app_id.
    [[nodiscard]] std::string groupOf(const std::string& appId) const;
    [[nodiscard]] AppHandle handleOf(const std::string& group) const;
    void frontMayHaveChanged() { frontDirty_ = true; }
    void reportFront();

    wayland::WaylandConnection& conn_;
    wl_seat* seat_;
    std::shared_ptr<gio::DesktopEntries> entries_;
    std::string ownAppId_;
    wayland::Proxy<zwlr_foreign_toplevel_manager_v1> manager_;
    std::vector<std::unique_ptr<Toplevel>> toplevels_;
    // A handle per application, kept while any of its windows lives.
    mutable std::map<std::string, AppHandle> handles_;
    mutable AppHandle nextHandle_ = 1;
    std::uint64_t activations_ = 0;
    std::optional<std::string> lastFront_;
    std::shared_ptr<std::function<void()>> frontWatcher_;
    bool frontDirty_ = false;
    Subscription afterDispatch_;
};

}  // namespace tamborix::wlroots
