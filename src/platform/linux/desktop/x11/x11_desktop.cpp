#include "platform/linux/desktop/x11/x11_desktop.h"

#include "platform/linux/support/gio/desktop_entries.h"
#include "platform/linux/desktop/x11/ewmh_window_control.h"
#include "platform/linux/desktop/x11/x11_clipboard.h"
#include "platform/linux/desktop/x11/x11_workspace.h"

namespace tamborix::x11 {

X11Desktop makeX11Desktop(const std::shared_ptr<XConnection>& connection) {
    XConnection& x = *connection;
    X11Desktop d;
    d.workspace = std::make_unique<X11Workspace>(x, std::make_shared<gio::DesktopEntries>(), helperAppId);
    d.windows = std::make_unique<EwmhWindowControl>(x);
    d.clipboard = std::make_unique<X11Clipboard>(x, connection);
    return d;
}

}  // namespace tamborix::x11
