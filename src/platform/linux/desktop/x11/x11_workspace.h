#pragma once
// Running applications on an X11 desktop: the window manager's client list grouped into
// applications (by process and window class) and matched to their desktop entries; the front
// application from the active window, reported as it changes; activation as a pager asks for it.

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/support/gio/desktop_entries.h"
#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/workspace.h"

namespace tamborix::x11 {

class X11Workspace final : public Workspace {
public:
    // `ownAppId` is the helper's own desktop-entry id; its windows are never listed either way.
    X11Workspace(XConnection& x, std::shared_ptr<gio::DesktopEntries> entries, std::string ownAppId);

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

private:
    // (process id, class, instance): the windows of one application.
    using Key = std::tuple<std::uint32_t, std::string, std::string>;
    struct App {
        AppHandle handle = 0;
        Key key;
        std::vector<xcb_window_t> windows;  // most recently raised last
        std::optional<gio::DesktopEntry> entry;
        bool regular = false;
        std::string appId;
        std::string name;
    };
    struct WindowInfo {
        Key key;
        bool regular = false;
        std::string gtkApplicationId;
    };

    [[nodiscard]] std::vector<App> scan() const;
    [[nodiscard]] std::optional<WindowInfo> describe(xcb_window_t window) const;
    [[nodiscard]] std::optional<gio::DesktopEntry> entryFor(const Key& key,
                                                            const std::string& gtkId) const;
    [[nodiscard]] AppHandle handleFor(const Key& key) const;
    [[nodiscard]] std::optional<App> find(AppHandle handle) const;

    XConnection& x_;
    std::shared_ptr<gio::DesktopEntries> entriesOwner_;
    gio::DesktopEntries& entries_;
    std::string ownAppId_;
    mutable std::map<Key, AppHandle> handles_;
    mutable AppHandle nextHandle_ = 1;
    // Matching a window to its entry may walk every installed entry; remembered while the
    // application runs.
    mutable std::map<std::pair<Key, std::string>, std::optional<gio::DesktopEntry>> entryCache_;
};

}  // namespace tamborix::x11
