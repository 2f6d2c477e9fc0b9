#include <memory>
#include <string>

#include "base/user_text.h"
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
        why = userText("Backends", "no connected monitor in %1 for a uinput pointer").with({request.drmRoot.string()});
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
    b.backendLine = userText("Backends", "Backend: uinput through %1").with({request.uinputDevice.string()});
    if (!request.forced.empty()) b.backendLine = userText("Backends", "%1 (forced by %2)").with({b.backendLine, request.forcedBy});
    b.report.push_back(b.backendLine);
    b.report.push_back(userText("Backends", "Input: a virtual pointer and keyboard typing in the \"%1\" layout; "
                                 "characters it has no key for are not typed")
                           .with({names.layout.empty() ? std::string("us") : names.layout}));
    b.report.push_back(userText("Backends", "Displays: %1 connected monitor(s) side by side at their preferred modes; "
                                 "the pointer is where the helper last put it")
                           .with({std::to_string(outputs.size())}));
    b.report.push_back(userText("Backends", "Screen capture: none, uinput cannot read the screen"));
    b.report.push_back(installShortcutWindows(b));
    b.clipboard = std::make_unique<UnsharedClipboard>(userText("Backends", "uinput devices reach no clipboard"));
    b.report.push_back(userText("Backends", "Clipboard: none, %1").with({b.clipboard->unavailableReason()}));
    return true;
}

}  // namespace tamborix
