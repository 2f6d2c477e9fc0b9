#pragma once
// The applications of a session whose desktop tells other programs nothing about its windows
// (GNOME and KDE on Wayland, a console): launching by desktop-entry id or name and opening web
// addresses through GIO, and as running applications what can be known without the desktop's
// help: the installed applications that hold their own name on the session bus (GApplication,
// D-Bus activatable entries), which the desktop's org.freedesktop.Application interface brings
// to the front, and the programs the helper launched itself while they run. Which of them is in
// front cannot be known.

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/support/gio/desktop_entries.h"
#include "ports/workspace.h"

namespace tamborix::launcher {

class LauncherWorkspace final : public Workspace {
public:
    // `ownAppId` is the helper's own desktop-entry id, never listed.
    LauncherWorkspace(std::shared_ptr<gio::DesktopEntries> entries, std::string ownAppId);
    ~LauncherWorkspace() override;

    [[nodiscard]] std::vector<RunningApp> runningApps() const override;
    [[nodiscard]] std::optional<AppHandle> frontmost() const override { return std::nullopt; }
    [[nodiscard]] std::string ownAppId() const override { return ownAppId_; }
    void unhide(const RunningApp&) override {}
    // Only an application with its own name on the session bus can be asked to come forward.
    [[nodiscard]] bool activate(const RunningApp& app) override;
    [[nodiscard]] std::optional<InstalledApp> findApp(std::string_view appId) const override;
    [[nodiscard]] std::vector<InstalledApp> installedApps() const override;
    [[nodiscard]] bool launch(const InstalledApp& app) override;
    [[nodiscard]] bool openUrl(const std::string& url) override;
    [[nodiscard]] std::optional<Bytes> iconPNG(const RunningApp& app, int px) const override;

private:
    struct Shared;  // the programs launched, filled in on the launch thread

    [[nodiscard]] std::set<std::string> busNames() const;
    [[nodiscard]] AppHandle handleFor(const std::string& appId) const;
    [[nodiscard]] std::string appIdOf(AppHandle handle) const;

    std::shared_ptr<gio::DesktopEntries> entries_;
    std::string ownAppId_;
    std::shared_ptr<Shared> shared_;
    mutable std::map<std::string, AppHandle> handles_;
};

}  // namespace tamborix::launcher
