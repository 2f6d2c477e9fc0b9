#pragma once
// The one place that picks the platform backends. For now there is no desktop backend: the
// helper runs without a display (dry run shows a virtual one) and reports that it cannot post input.

#include <memory>
#include <string>
#include <vector>

#include "ports/activity_assertion.h"
#include "ports/clipboard.h"
#include "ports/display_source.h"
#include "ports/host_info.h"
#include "ports/input_sink.h"
#include "ports/main_loop.h"
#include "ports/overlay_surface.h"
#include "ports/peripheral.h"
#include "ports/screen_capture.h"
#include "ports/secret_store.h"
#include "ports/service_advertiser.h"
#include "ports/window_control.h"
#include "ports/workspace.h"

namespace tamborix {

struct PlatformBackends {
    std::unique_ptr<InputSink> input;
    std::unique_ptr<DisplaySource> displays;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<WindowControl> windows;
    std::unique_ptr<OverlaySurface> overlay;
    std::unique_ptr<ScreenCapture> capture;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<ActivityAssertion> activity;
    std::unique_ptr<HostInfo> host;
    std::unique_ptr<SecretStore> secrets;
    std::unique_ptr<ServiceAdvertiser> advertiser;  // null: no DNS-SD in this build
    std::unique_ptr<PeripheralFactory> peripherals;  // null: no Bluetooth LE in this build
    // One line per choice, for the log of the start-up ("Input: none (…)").
    std::vector<std::string> report;
};

struct BackendRequest {
    bool dryRun = false;
};

// Needs a running main loop of the application (the D-Bus backends deliver through it).
[[nodiscard]] PlatformBackends makePlatformBackends(MainLoop& loop, const BackendRequest& request);

}  // namespace tamborix
