#pragma once
// Installed applications as the desktop sees them: desktop entries through GIO, matched to
// running windows, launched, and the user's handler for web addresses. Launching happens on a
// worker thread, because GIO may wait there (a D-Bus activation, a slow file system) and the
// helper's loop must keep its timing.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/worker.h"
#include "ports/workspace.h"

namespace tamborix::gio {

struct DesktopEntry {
    std::string id;    // "org.example.App.desktop"
    std::string name;  // localized Name
    std::string icon;  // an icon-theme name or an absolute file; empty without icon
    bool startupNotify = false;
    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// What a running window tells about the program behind it.
struct WindowIdentity {
    std::string gtkApplicationId;  // _GTK_APPLICATION_ID
    std::string wmClass;           // the class part of WM_CLASS ("Firefox")
    std::string wmInstance;        // the instance part ("Navigator")
    std::string executable;        // the process's executable file, when known
};

class DesktopEntries {
public:
    DesktopEntries();
    ~DesktopEntries();  // waits for a launch under way
    DesktopEntries(const DesktopEntries&) = delete;
    DesktopEntries& operator=(const DesktopEntries&) = delete;

    [[nodiscard]] std::optional<DesktopEntry> byId(std::string_view id) const;
    // The entries as a workspace offers them to launch: one of them by id, or every one all() lists.
    [[nodiscard]] std::optional<InstalledApp> installedApp(std::string_view id) const;
    [[nodiscard]] std::vector<InstalledApp> installedApps() const;
    // The entry that started this window, if one can be told: the application id, then the
    // entry's StartupWMClass, then an entry named after the class or instance, then the
    // executable named by the entry's Exec or TryExec.
    [[nodiscard]] std::optional<DesktopEntry> forWindow(const WindowIdentity& window) const;
    // Every entry meant to be shown in menus, in GIO's precedence.
    [[nodiscard]] std::vector<DesktopEntry> all() const;

    // Starts the entry's program without waiting for it. `startupId` (may be empty) is handed to
    // it as DESKTOP_STARTUP_ID. False when there is no such entry. `started`, when given, is
    // called on the launch thread with the process id of a program that was spawned (not for
    // one the desktop started over D-Bus).
    [[nodiscard]] bool launch(const std::string& id, const std::string& startupId,
                              std::function<void(int pid)> started = {});
    // Opens an http or https address with the user's default handler for its scheme.
    // False when there is none.
    [[nodiscard]] bool openUrl(const std::string& url);

    // Runs `job` on the launch thread after every launch queued before it (for tests).
    void afterLaunches(std::function<void()> job);

private:
    Worker launches_{Worker::AtStop::runQueued};
};

}  // namespace tamborix::gio
