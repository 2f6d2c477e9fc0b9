#include <memory>
#include <string>

#include "platform/linux/desktop/wlroots/wlroots_session.h"
#include "platform/linux/factory/desktop_backends.h"

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
        why = "the compositor offers " + missing + " (not a wlroots compositor)";
        return false;
    }
    auto input = session->makeInput();
    if (!input || !input->mayPost()) {
        why = input ? input->reason() : "the compositor's virtual devices cannot be made";
        return false;
    }
    session->connection().watchWithQt();
    auto* sink = input.get();
    b.displays = std::make_unique<wlroots::WlrDisplaySource>(session->outputs(),
                                                             [sink] { return sink->lastPosition(); });
    const auto displays = session->outputs().displays();
    b.backendName = "wlroots";
    b.backendLine = "Backend: wlroots compositor's own protocols" +
                    (request.forced.empty() ? std::string() : " (forced by " + request.forcedBy + ")");
    b.report.push_back(b.backendLine);
    b.report.push_back("Input: a virtual pointer and keyboard of the compositor (wlroots), typing with " +
                       input->layoutSource() + "; other characters through keys lent by the helper");
    b.report.push_back("Displays: " + std::to_string(displays.size()) +
                       " output(s) from xdg-output; the pointer is where the helper last put it (Wayland "
                       "does not reveal it)");
    b.input = std::move(input);
    b.session = std::move(session);
    return true;
}

}  // namespace tamborix
