#include "platform/linux/factory/wayland_clipboard.h"

#include <memory>
#include <string>

#include "ports/standins/no_desktop.h"

#ifdef TAMBORIX_HAVE_DATACONTROL
#include "platform/linux/services/datacontrol/data_control_clipboard.h"
#endif

namespace tamborix {

void installWaylandClipboard(PlatformBackends& b, const std::string& otherwise) {
    std::string why = "no Wayland clipboard in this build";
#ifdef TAMBORIX_HAVE_DATACONTROL
    if (auto clipboard = datacontrol::DataControlClipboard::open("", why)) {
        b.clipboard = std::move(clipboard);
        b.report.push_back("Clipboard: the compositor's data control (text), served while the helper runs");
        return;
    }
#endif
    // A private copy would paste whatever the desktop's clipboard held: refuse with the reasons.
    b.clipboard = std::make_unique<UnsharedClipboard>(otherwise.empty() ? why : why + "; " + otherwise);
    b.report.push_back("Clipboard: none, " + b.clipboard->unavailableReason());
}

}  // namespace tamborix
