#include <memory>
#include <string>

#include "platform/linux/desktop/uinput/drm_outputs.h"
#include "platform/linux/desktop/uinput/system_keymap.h"
#include "platform/linux/desktop/uinput/uinput_device.h"
#include "platform/linux/desktop/uinput/uinput_input_sink.h"
#include "platform/linux/factory/desktop_backends.h"
#include "ports/standins/no_desktop.h"

namespace tamborix {

// Devices spanning the connected monitors, typing in the system's configured layout.
bool installUinputBackends(const DesktopAttempt& a, std::string& why) {
    PlatformBackends& b = a.backends;
    const BackendRequest& request = a.request;
    auto outputs = uinput::connectedOutputs(request.drmRoot);
    if (outputs.empty()) {
        why = "no connected monitor in " + request.drmRoot.string() + " for a uinput pointer";
        return false;
    }
    std::string keymapError;
    const auto names = uinput::configuredLayout();
    auto keymap = uinput::SystemKeymap::compile(names, keymapError);
    auto input = std::make_unique<uinput::UinputInputSink>(
        uinput::kernelFdLayer(request.uinputDevice.string()), uinput::outputsUnion(outputs),
        std::move(keymap), keymapError);
    if (!input->mayPost()) {
        why = input->reason();
        return false;
    }
    b.displays = std::make_unique<uinput::OutputDisplaySource>(outputs, *input);
    b.input = std::move(input);
    b.backendName = "uinput";
    b.backendLine = "Backend: uinput through " + request.uinputDevice.string() +
                    (request.forced.empty() ? "" : " (forced by " + request.forcedBy + ")");
    b.report.push_back(b.backendLine);
    b.report.push_back("Input: a virtual pointer and keyboard typing in the \"" +
                       (names.layout.empty() ? std::string("us") : names.layout) +
                       "\" layout; characters it has no key for are not typed");
    b.report.push_back("Displays: " + std::to_string(outputs.size()) +
                       " connected monitor(s) side by side at their preferred modes; the pointer "
                       "is where the helper last put it");
    b.report.push_back("Screen capture: none, uinput cannot read the screen");
    b.report.push_back(installShortcutWindows(b));
    b.clipboard = std::make_unique<UnsharedClipboard>("uinput devices reach no clipboard");
    b.report.push_back("Clipboard: none, " + b.clipboard->unavailableReason());
    return true;
}

}  // namespace tamborix
