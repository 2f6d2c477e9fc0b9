#include "platform/linux/factory/desktop_backends.h"

#include <cstdlib>
#include <memory>

#include "ports/standins/no_desktop.h"
#ifdef TAMBORIX_HAVE_SHORTCUTS
#include "platform/linux/desktop/shortcuts/shortcut_window_control.h"
#endif

namespace tamborix {

namespace {

// A backend is in this build when CMake found its library and compiled its installer.
#ifdef TAMBORIX_HAVE_X11
constexpr InstallDesktop x11Installer = &installX11Backends;
#else
constexpr InstallDesktop x11Installer = nullptr;
#endif
#ifdef TAMBORIX_HAVE_PORTAL
constexpr InstallDesktop portalInstaller = &installPortalBackends;
#else
constexpr InstallDesktop portalInstaller = nullptr;
#endif
#ifdef TAMBORIX_HAVE_WLROOTS
constexpr InstallDesktop wlrootsInstaller = &installWlrootsBackends;
#else
constexpr InstallDesktop wlrootsInstaller = nullptr;
#endif
#ifdef TAMBORIX_HAVE_UINPUT
constexpr InstallDesktop uinputInstaller = &installUinputBackends;
#else
constexpr InstallDesktop uinputInstaller = nullptr;
#endif

bool waylandDisplaySet() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

bool displaySet() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

// In a Wayland session XTEST on XWayland reaches only X11 programs: X11 comes last there. A
// wlroots compositor's own virtual devices need no consent, so they come before the portal.
constexpr DesktopBackend table[] = {
    // name     Wayland other suits session         devices reason prefix installer
    {"x11",     4,      1,    &displaySet,        false,  "",          x11Installer,
     userText("Backends", "no X11 backend in this build")},
    {"wlroots", 1,      0,    &waylandDisplaySet, true,   "wlroots: ", wlrootsInstaller,
     userText("Backends", "wlroots: no wlroots backend in this build")},
    {"portal",  2,      0,    nullptr,            true,   "portal: ",  portalInstaller,
     userText("Backends", "portal: no portal backend in this build")},
    {"uinput",  3,      2,    nullptr,            true,   "uinput: ",  uinputInstaller,
     userText("Backends", "uinput: no uinput backend in this build")},
};

}  // namespace

#ifndef TAMBORIX_HAVE_X11
bool x11DisplayReachable() { return false; }
#endif

std::span<const DesktopBackend> desktopBackends() { return table; }

std::string installShortcutWindows(PlatformBackends& b) {
    const char* named = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string desktop = named ? named : "";
#ifdef TAMBORIX_HAVE_SHORTCUTS
    if (auto known = shortcuts::shortcutsFor(desktop)) {
        const std::string line =
            userText("Backends", "Windows: placed by %1's own keyboard shortcuts").with({known->desktop});
        b.windows = std::make_unique<shortcuts::ShortcutWindowControl>(*b.input, std::move(*known));
        return line;
    }
#endif
    b.windows = std::make_unique<NoWindowControl>(
        desktop.empty() ? userText("Backends", "XDG_CURRENT_DESKTOP does not name the desktop").str()
                        : userText("Backends", "no known shortcuts place windows on %1").with({desktop}));
    return userText("Backends", "Windows: none, %1").with({b.windows->unavailableReason()});
}

}  // namespace tamborix
