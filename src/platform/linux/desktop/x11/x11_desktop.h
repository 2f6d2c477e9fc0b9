#pragma once
// The desktop backends of an X11 session on the shared connection: window placement, running
// applications (with their desktop entries) and the clipboard. The clipboard keeps the connection
// alive (it still talks to the server when destroyed); the others need it only while called.

#include <memory>

#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/clipboard.h"
#include "ports/window_control.h"
#include "ports/workspace.h"

namespace tamborix::x11 {

// The helper's own desktop-entry id.
inline constexpr const char* helperAppId = "io.tamborix.Helper.desktop";

struct X11Desktop {
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<WindowControl> windows;
    std::unique_ptr<Clipboard> clipboard;
};

[[nodiscard]] X11Desktop makeX11Desktop(const std::shared_ptr<XConnection>& x);

}  // namespace tamborix::x11
