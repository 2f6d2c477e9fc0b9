#include "platform/linux/factory/wayland_clipboard.h"

#include <memory>
#include <string>

#include "base/user_text.h"
#include "ports/standins/no_desktop.h"

#ifdef TAMBORIX_HAVE_DATACONTROL
#include "platform/linux/services/datacontrol/data_control_clipboard.h"
#endif

namespace tamborix {

void installWaylandClipboard(PlatformBackends& b, const std::string& otherwise) {
    std::string why = userText("Backends", "no Wayland clipboard in this build");
#ifdef TAMBORIX_HAVE_DATACONTROL
    if (auto clipboard = datacontrol::DataControlClipboard::open("", why)) {
        b.clipboard = std::move(clipboard);
        b.report.push_back(userText("Backends", "Clipboard: the compositor's data control (text), served while the helper runs"));
        return;
    }
#endif
    // A private copy would paste whatever the desktop's clipboard held: refuse with the reasons.
    b.clipboard = std::make_unique<UnsharedClipboard>(otherwise.empty() ? why : joinedText("%1; %2", {why, otherwise}));
    b.report.push_back(userText("Backends", "Clipboard: none, %1").with({b.clipboard->unavailableReason()}));
}

}  // namespace tamborix
