#pragma once
// The desktop backends the factory can choose, one entry each. A backend's entry is a line of the
// table in desktop_backends.cpp; the code that creates it is `<name>_backends.cpp` beside it,
// compiled only when the backend's library is built (see CMakeLists.txt).

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/user_text.h"
#include "platform/linux/factory/backends.h"

namespace tamborix {

// What a desktop backend is installed into, and from what.
struct DesktopAttempt {
    PlatformBackends& backends;
    MainLoop& loop;
    const BackendRequest& request;
    // Why the backends tried before this one could not be used, in the order tried.
    const std::vector<std::string>& tried;
};

// Replaces the stand-ins of `a.backends` by the backend's own, names it (backendName, backendLine)
// and reports a line per port. False with `why` set, and the backends untouched, when it cannot be
// used here. Runs the loop while a service answers.
using InstallDesktop = bool (*)(const DesktopAttempt& a, std::string& why);

struct DesktopBackend {
    std::string_view name;  // what --backend and TAMBORIX_BACKEND take
    // Its place when none is forced, counted from 1, 0 for never: in a Wayland session, and in
    // any other.
    int waylandOrder = 0;
    int otherOrder = 0;
    // Without being forced it is tried only where the session has what it needs (null: always).
    bool (*suitsSession)() = nullptr;
    // It shows a consent dialog or makes devices: nothing a dry run, which posts nothing, wants.
    bool startsDevices = false;
    // Put before the reason it gives when it cannot be used ("portal: ").
    std::string_view reasonPrefix;
    // Null when the backend is not in this build; `missing` then says so.
    InstallDesktop install = nullptr;
    UserText missing{"", ""};
};

// Every desktop backend the factory knows, built or not, in the order --help names them.
[[nodiscard]] std::span<const DesktopBackend> desktopBackends();

// On a desktop that moves no window for another program (GNOME, KDE under Wayland), its own
// shortcuts typed through `b.input` place the focused window; the desktop is the one
// XDG_CURRENT_DESKTOP names. Returns the report line.
[[nodiscard]] std::string installShortcutWindows(PlatformBackends& b);

// The installers, each defined in its `<name>_backends.cpp`.
[[nodiscard]] bool installX11Backends(const DesktopAttempt& a, std::string& why);
[[nodiscard]] bool installWlrootsBackends(const DesktopAttempt& a, std::string& why);
[[nodiscard]] bool installPortalBackends(const DesktopAttempt& a, std::string& why);
[[nodiscard]] bool installUinputBackends(const DesktopAttempt& a, std::string& why);

}  // namespace tamborix
