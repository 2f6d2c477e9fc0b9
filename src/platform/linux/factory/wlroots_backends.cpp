#include <memory>
#include <string>

#include "platform/linux/desktop/wlroots/sway_ipc.h"
#include "platform/linux/desktop/wlroots/wlr_overlay_surface.h"
#include "platform/linux/desktop/wlroots/wlroots_session.h"
#ifdef TAMBORIX_HAVE_WLROOTS_CAPTURE
#include "platform/linux/desktop/wlroots/wlr_screen_capture.h"
#endif
#ifdef TAMBORIX_HAVE_WLROOTS_DESKTOP
#include "platform/linux/desktop/wlroots/wlr_workspace.h"
#endif
#include "base/user_text.h"
#include "platform/linux/factory/desktop_backends.h"
#include "ports/standins/no_desktop.h"
#include "platform/linux/factory/wayland_clipboard.h"

namespace tamborix {

// A wlroots compositor (sway, Hyprland, labwc, river, Wayfire): input and displays through its
// own protocols; false when no compositor answers or it offers neither virtual device.
bool installWlrootsBackends(const DesktopAttempt& a, std::string& why) {
    PlatformBackends& b = a.backends;
    const BackendRequest& request = a.request;
    std::shared_ptr<wlroots::WlrootsSession> session = wlroots::WlrootsSession::open("", why);
    if (!session) return false;
    std::string missing;
    if (!session->offersInput(missing)) {
        why = userText("Backends", "the compositor offers %1 (not a wlroots compositor)").with({missing});
        return false;
    }
    auto input = session->makeInput();
    if (!input || !input->mayPost()) {
        why = input ? input->reason() : userText("Backends", "the compositor's virtual devices cannot be made").str();
        return false;
    }
    session->connection().watchWithQt();
    auto* sink = input.get();
    b.displays = std::make_unique<wlroots::WlrDisplaySource>(session->outputs(),
                                                             [sink] { return sink->lastPosition(); });
    const auto displays = session->outputs().displays();
    b.backendName = "wlroots";
    b.backendLine = userText("Backends", "Backend: wlroots compositor's own protocols");
    if (!request.forced.empty()) b.backendLine = userText("Backends", "%1 (forced by %2)").with({b.backendLine, request.forcedBy});
    b.report.push_back(b.backendLine);
    b.report.push_back(userText("Backends", "Input: a virtual pointer and keyboard of the compositor (wlroots), typing with "
                                 "%1; other characters through keys lent by the helper")
                           .with({input->layoutSource()}));
    b.report.push_back(userText("Backends", "Displays: %1 output(s) from xdg-output; the pointer is where the helper last "
                                 "put it (Wayland does not reveal it)")
                           .with({std::to_string(displays.size())}));
#ifdef TAMBORIX_HAVE_WLROOTS_CAPTURE
    const bool screencopy = session->offers("zwlr_screencopy_manager_v1");
    b.capture = std::make_unique<wlroots::WlrScreenCapture>(a.loop, "", screencopy,
                                                            [sink] { return sink->lastPosition(); });
    b.report.push_back(screencopy ? userText("Backends", "Screen capture: screencopy of the compositor into shared memory, "
                                              "the cursor drawn in by the compositor, JPEG through libyuv "
                                              "and libjpeg-turbo").str()
                                  : userText("Backends", "Screen capture: none, %1").with({b.capture->unavailableReason()}));
#else
    b.report.push_back(userText("Backends", "Screen capture: none, no screencopy in this build"));
#endif
#ifdef TAMBORIX_HAVE_WLROOTS_DESKTOP
    std::string noApps;
    // The helper's own desktop entry, which it never lists.
    if (auto workspace = wlroots::WlrWorkspace::create(session->connection(), session->seat(),
                                                       std::make_shared<gio::DesktopEntries>(),
                                                       "io.tamborix.Helper.desktop", noApps)) {
        b.workspace = std::move(workspace);
        b.report.push_back(userText("Backends", "Applications: the compositor's foreign-toplevel list, matched to desktop "
                                     "entries; launching through GIO"));
    } else {
        // The launcher workspace stays and reports itself.
        b.report.push_back(userText("Backends", "Applications: no window list from the compositor, %1").with({noApps}));
    }
#else
    b.report.push_back(userText("Backends", "Applications: none, no GIO in this build"));
#endif
    std::string noWindows;
    if (auto ipc = wlroots::SwayIpc::connect("", noWindows)) {
        b.windows = std::make_unique<wlroots::SwayWindowControl>(std::move(ipc));
        b.report.push_back(userText("Backends", "Windows: placed through sway's IPC (the window floats where it is put)"));
    } else {
        b.windows = std::make_unique<NoWindowControl>(noWindows);
        b.report.push_back(userText("Backends", "Windows: none, %1").with({b.windows->unavailableReason()}));
    }
    std::string noOverlay;
    if (auto overlay = wlroots::WlrOverlaySurface::create(session->connection(), session->outputs(), noOverlay)) {
        b.overlay = std::move(overlay);
        b.report.push_back(userText(
            "Backends", "Overlays: layer-shell surfaces on the compositor's overlay layer, letting clicks through"));
    } else {
        b.overlay = std::make_unique<NoOverlay>(noOverlay);
        b.report.push_back(userText("Backends", "Overlays: none, %1").with({noOverlay}));
    }
    installWaylandClipboard(b);
    b.input = std::move(input);
    b.session = std::move(session);
    return true;
}

}  // namespace tamborix
