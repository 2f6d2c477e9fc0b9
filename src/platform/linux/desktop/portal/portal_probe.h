#pragma once
// Whether the session bus has a desktop portal that can remote-control the desktop, asked once at
// start-up so that the backend factory can choose another backend when it has not.

#include <QDBusConnection>
#include <cstdint>
#include <string>

namespace tamborix::portal {

struct RemoteDesktopProbe {
    bool usable = false;
    std::uint32_t version = 0;
    std::string error;  // why not usable, in a few words
};

// Runs the Qt event loop until the portal answers or `timeoutMs` passes (the portal may be started
// by D-Bus activation, which takes a moment on a desktop that has just logged in).
[[nodiscard]] RemoteDesktopProbe probeRemoteDesktop(QDBusConnection bus, int timeoutMs);

}  // namespace tamborix::portal
