#pragma once
// Running applications, the front application, activation, launching and web addresses.
// On Linux an application id is a desktop-entry id and running applications come from the
// window manager's client list.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.h"

namespace tamborix {

// Identifies one running application for as long as it runs (the process id where the platform
// knows one). Never reused while the application runs.
using AppHandle = std::uint64_t;

struct RunningApp {
    AppHandle handle = 0;
    std::string appId;  // empty when the application has no known application id
    std::string name;   // localized name; empty when it has none
    bool regular = true;      // an ordinary application with windows (not a panel, dock or daemon)
    bool terminated = false;  // went away after the list was taken
    friend bool operator==(const RunningApp&, const RunningApp&) = default;
};

// An installed application that can be launched.
struct InstalledApp {
    std::string appId;
    std::string name;  // localized name
    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // In the platform's order.
    [[nodiscard]] virtual std::vector<RunningApp> runningApps() const = 0;
    [[nodiscard]] virtual std::optional<AppHandle> frontmost() const = 0;
    // The helper's own application id, so that it never lists itself.
    [[nodiscard]] virtual std::string ownAppId() const = 0;

    // A live watch of the front application; dropping it stops the calls.
    class FrontWatch {
    public:
        virtual ~FrontWatch() = default;
    };
    // Calls `changed` on the main thread whenever the front application may have changed (it may
    // also call when nothing did). nullptr when this workspace cannot tell; the caller then polls.
    [[nodiscard]] virtual std::unique_ptr<FrontWatch> watchFront(std::function<void()> changed) {
        (void)changed;
        return nullptr;
    }

    // Shows the application's hidden (minimised) windows.
    virtual void unhide(const RunningApp& app) = 0;
    // Brings all of the application's windows to the front; false when that was refused.
    [[nodiscard]] virtual bool activate(const RunningApp& app) = 0;

    // The installed application with exactly this id, if any.
    [[nodiscard]] virtual std::optional<InstalledApp> findApp(std::string_view appId) const = 0;
    // Every installed, launchable application, in lookup precedence (the first of two entries
    // with the same name wins).
    [[nodiscard]] virtual std::vector<InstalledApp> installedApps() const = 0;
    // Starts (or raises) the application; false when the launch could not be started.
    [[nodiscard]] virtual bool launch(const InstalledApp& app) = 0;
    // Hands an already validated web address to the user's browser.
    [[nodiscard]] virtual bool openUrl(const std::string& url) = 0;

    // The application's icon drawn into a px × px RGBA bitmap, PNG-encoded; nullopt without icon.
    [[nodiscard]] virtual std::optional<Bytes> iconPNG(const RunningApp& app, int px) const = 0;
};

}  // namespace tamborix
