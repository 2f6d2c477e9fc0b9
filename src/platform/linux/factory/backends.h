#pragma once
// The one place that picks the platform backends.
//
// Desktop backends are chosen together: a backend forced with `--backend <name>|none` (else
// TAMBORIX_BACKEND) wins; otherwise those of the table in desktop_backends.cpp are tried in their
// order for the session: in a Wayland session (WAYLAND_DISPLAY, or XDG_SESSION_TYPE=wayland) the
// remote-desktop portal, else uinput, else X11 through XWayland (which reaches X11 programs only);
// otherwise X11 when DISPLAY opens, else uinput; otherwise none, with the reason of every backend
// tried. A dry run starts neither a portal session nor uinput devices.
// Every X11 backend runs on ONE shared connection (x11::XConnection): installX11Backends() in
// x11_backends.cpp is where an X11 backend of a port is created from that connection; add a line
// there for a new one. The connection lives in `session`, which outlives every backend. Whatever
// has no desktop backend keeps its stand-in from ports/standins/.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ports/main_loop.h"
#include "ports/port_bundle.h"

namespace tamborix {

struct PlatformBackends {
    PlatformBackends() = default;
    PlatformBackends(PlatformBackends&&) = default;
    // Member-wise assignment would drop the old session before the old backends that use it: the
    // old ones move aside first and go as the destructor takes them, backends before the session.
    PlatformBackends& operator=(PlatformBackends&& other) noexcept;
    ~PlatformBackends() = default;

    // The desktop session shared by the desktop backends (the X connection); declared first so
    // that it is destroyed after all of them.
    std::shared_ptr<void> session;
    // A dry run's record, written by its recording backends; declared before them so that it
    // outlives them. Null outside a dry run.
    std::unique_ptr<ActionJournal> journal;
    // A dry run's input and desktop actions, recorded whole instead of done through the ports
    // below; null otherwise.
    std::unique_ptr<InputActions> inputActions;
    std::unique_ptr<DesktopActions> desktopActions;
    std::string backendName;  // a desktop backend's name or "none"
    // "Backend: x11 on :0 (…)" or "Backend: none, <why>": the first report line, also in status.
    std::string backendLine;
    std::unique_ptr<InputSink> input;
    std::unique_ptr<DisplaySource> displays;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<WindowControl> windows;
    std::unique_ptr<OverlaySurface> overlay;
    std::unique_ptr<ScreenCapture> capture;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<ActivityAssertion> activity;
    std::unique_ptr<HostInfo> host;
    std::unique_ptr<SecretStore> secrets;
    std::unique_ptr<ServiceAdvertiser> advertiser;  // null: no DNS-SD in this build
    std::unique_ptr<PeripheralFactory> peripherals;  // null: no Bluetooth LE in this build
    std::unique_ptr<SettingsPages> settingsPages;    // null: no desktop entries in this build
    // One line per choice, for the log of the start-up ("Input: none (…)").
    std::vector<std::string> report;

    // The backends as the application is built over them; they must stay where they are.
    [[nodiscard]] PortBundle ports() const {
        return PortBundle{*input,   *displays, *workspace, *windows, *overlay,
                          *capture, *clipboard, *activity, *host,   *secrets,
                          advertiser.get(), peripherals.get(), settingsPages.get(), journal.get(),
                          inputActions.get(), desktopActions.get()};
    }

private:
    auto fields() noexcept {
        return std::tie(session, journal, inputActions, desktopActions, backendName, backendLine, input, displays, workspace, windows,
                        overlay, capture, clipboard, activity, host, secrets, advertiser,
                        peripherals, settingsPages, report);
    }
};

inline PlatformBackends& PlatformBackends::operator=(PlatformBackends&& other) noexcept {
    if (this != &other) {
        PlatformBackends old(std::move(*this));
        std::apply(
            [&](auto&... mine) {
                std::apply([&](auto&... theirs) { ((mine = std::move(theirs)), ...); },
                           other.fields());
            },
            fields());
    }
    return *this;
}

struct BackendRequest {
    bool dryRun = false;
    // A desktop backend's name or "none" forces that backend; empty probes. `forcedBy` names
    // where it came from ("--backend", "TAMBORIX_BACKEND") for the report.
    std::string forced;
    std::string forcedBy;
    // Where the portal's restore token is kept (the settings folder).
    std::filesystem::path settingsFolder;
    std::filesystem::path uinputDevice = "/dev/uinput";
    std::filesystem::path drmRoot = "/sys/class/drm";  // the monitors a uinput pointer spans
};

// WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland.
[[nodiscard]] bool waylandSession();
// Whether the X11 display named by DISPLAY accepts a connection: the windowed interface needs
// one, and without it the helper keeps to the console.
[[nodiscard]] bool x11DisplayReachable();
// The names `forced` accepts, and all of them as a message lists them ("x11, wlroots, portal,
// uinput or none").
[[nodiscard]] bool isBackendName(std::string_view name);
[[nodiscard]] std::string backendNameList();
// The request's forced backend: the command line's when given, else TAMBORIX_BACKEND's.
void applyBackendEnvironment(BackendRequest& request);

// Needs a running main loop of the application (the D-Bus backends deliver through it).
[[nodiscard]] PlatformBackends makePlatformBackends(MainLoop& loop, const BackendRequest& request);

}  // namespace tamborix
