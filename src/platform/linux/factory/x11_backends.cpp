#include <xcb/xcb.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/user_text.h"
#include "platform/linux/desktop/x11/x_connection.h"
#include "platform/linux/factory/desktop_backends.h"

#include "platform/linux/desktop/x11/x11_display_source.h"
#include "platform/linux/desktop/x11/x11_input_sink.h"
#include "platform/linux/desktop/x11/x_reply.h"
#ifdef TAMBORIX_HAVE_X11_DESKTOP
#include "platform/linux/desktop/x11/x11_desktop.h"
#endif
#ifdef TAMBORIX_HAVE_QT_OVERLAY
#include "platform/linux/desktop/qt_overlay/qt_overlay_surface.h"
#endif
#ifdef TAMBORIX_HAVE_X11_CAPTURE
#include "platform/linux/desktop/x11/x11_screen_capture.h"
#endif

namespace tamborix {

namespace {

// Where the keycodes lent to characters are noted, per display, so a later run can give back
// what a crashed one left bound.
std::filesystem::path lentKeycodesNote(const std::string& display) {
    std::string name = "lent-keycodes-";
    for (char ch : display) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::filesystem::path(run) / "tamborix" / name;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::filesystem::path(state) / "Velmorand" / name;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "state" / "Velmorand" / name;
    return {};
}

// Whether a compositing manager runs on the connection's screen: it owns _NET_WM_CM_S<screen>.
[[maybe_unused]] bool compositorRuns(x11::XConnection& c) {
    const std::string& name = c.displayName();
    const auto colon = name.rfind(':');
    const auto dot = name.find('.', colon == std::string::npos ? 0 : colon);
    const std::string screen = dot == std::string::npos ? "0" : name.substr(dot + 1);
    const xcb_atom_t selection = c.atom("_NET_WM_CM_S" + screen);
    const x11::XReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c.get(), xcb_get_selection_owner(c.get(), selection), nullptr));
    return reply && reply->owner != XCB_NONE;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out = out.empty() ? p : joinedText("%1; %2", {out, p});
    return out;
}

}  // namespace

bool x11DisplayReachable() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    const x11::XcbConnection c(xcb_connect(nullptr, nullptr));
    return c && xcb_connection_has_error(c.get()) == 0;
}

// Every X11 backend runs on this one connection, which lives in `session` and so outlives them.
bool installX11Backends(const DesktopAttempt& a, std::string& why) {
    PlatformBackends& b = a.backends;
    MainLoop& loop = a.loop;
    const BackendRequest& request = a.request;
    std::string error;
    std::shared_ptr<x11::XConnection> conn = x11::XConnection::open("", error);
    if (!conn) {
        why = error.empty() ? userText("Backends", "no X11 display (DISPLAY is not set)").str() : error;
        return false;
    }
    b.backendName = "x11";
    std::string line = userText("Backends", "Backend: x11 on display %1").with({conn->displayName()});
    if (!request.forced.empty()) {
        line = userText("Backends", "%1 (forced by %2)").with({line, request.forcedBy});
    } else if (waylandSession()) {
        line = userText("Backends", "%1 (XWayland: only X11 programs see the input; %2)").with({line, joined(a.tried)});
    }
    b.backendLine = line;
    b.report.push_back(line);
    b.session = conn;
    x11::XConnection& c = *conn;

    x11::X11InputSink::Options inputOptions;
    inputOptions.spares.note = lentKeycodesNote(c.displayName());
    auto input = std::make_unique<x11::X11InputSink>(c, loop, inputOptions);
    b.report.push_back(userText("Backends", "Input: %1").with({input->describe()}));
    b.input = std::move(input);

    auto displays = std::make_unique<x11::X11DisplaySource>(c);
    b.report.push_back(userText("Backends", "Displays: %1").with({displays->describe()}));
    b.displays = std::move(displays);

#ifdef TAMBORIX_HAVE_X11_DESKTOP
    auto desktop = x11::makeX11Desktop(conn);
    b.workspace = std::move(desktop.workspace);
    b.windows = std::move(desktop.windows);
    b.clipboard = std::move(desktop.clipboard);
    b.report.push_back(userText("Backends", "Applications: the window manager's clients, desktop entries through GIO"));
    b.report.push_back(userText("Backends", "Windows: EWMH; clipboard: the X11 CLIPBOARD selection"));
#else
    b.report.push_back(userText("Backends", "Windows: none (no GIO in this build); clipboard: none"));
#endif

#ifdef TAMBORIX_HAVE_QT_OVERLAY
    // The windows need Qt's own X11 platform: a console helper has none and draws nothing.
    if (qt::overlayWindowsPossible()) {
        b.overlay = std::make_unique<qt::QtOverlaySurface>([conn] { return compositorRuns(*conn); });
        b.report.push_back(userText("Backends", "Overlays: X11 windows, translucent with a compositor, shaped without"));
    }
#endif

#ifdef TAMBORIX_HAVE_X11_CAPTURE
    // The capture keeps a connection of its own for its worker thread (see ScreenGrabber).
    auto capture = std::make_unique<x11::X11ScreenCapture>(loop, c.displayName());
    b.report.push_back(capture->available()
                           ? userText("Backends", "Screen capture: %1, JPEG through libyuv and libjpeg-turbo").with({capture->method()})
                           : userText("Backends", "Screen capture: none, %1").with({capture->unavailableReason()}));
    b.capture = std::move(capture);
#else
    b.report.push_back(userText("Backends", "Screen capture: none in this build"));
#endif
    return true;
}

}  // namespace tamborix
