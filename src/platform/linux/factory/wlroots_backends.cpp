#include "platform/linux/factory/wlroots_backends.h"

#ifdef TAMBORIX_HAVE_WLROOTS
#include <memory>

#include "platform/linux/desktop/wlroots/wlroots_session.h"
#endif

namespace tamborix {

#ifdef TAMBORIX_HAVE_WLROOTS
bool installWlrootsBackends(PlatformBackends& b, const BackendRequest& request, std::string& why) {
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
#else
bool installWlrootsBackends(PlatformBackends&, const BackendRequest&, std::string& why) {
    why = "no wlroots backend in this build";
    return false;
}
#endif

}  // namespace tamborix
