#include "platform/linux/factory/wayland_clipboard.h"

#include <string>

#ifdef TAMBORIX_HAVE_DATACONTROL
#include "platform/linux/services/datacontrol/data_control_clipboard.h"
#endif

namespace tamborix {

void installWaylandClipboard(PlatformBackends& b) {
#ifdef TAMBORIX_HAVE_DATACONTROL
    std::string why;
    if (auto clipboard = datacontrol::DataControlClipboard::open("", why)) {
        b.clipboard = std::move(clipboard);
        b.report.push_back("Clipboard: the compositor's data control (text), served while the helper runs");
        return;
    }
    b.report.push_back("Clipboard: the helper's own only, " + why);
#else
    b.report.push_back("Clipboard: the helper's own only, no Wayland clipboard in this build");
#endif
}

}  // namespace tamborix
