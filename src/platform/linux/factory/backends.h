#pragma once
// The one place that picks the platform backends.
//
// Desktop backends are chosen together, in this order:
//   1. a backend forced with `--backend x11|none` (else the TAMBORIX_BACKEND variable);
//   2. X11 when DISPLAY opens;
//   3. otherwise none, with the reason (no display, a Wayland session that is not supported
//      yet, a display that does not open).
// Every X11 backend runs on ONE shared connection (x11::XConnection): installX11Backends() in
// x11_backends.cpp is where an X11 backend of a port is created from that connection; add a line
// there for a new one. The connection lives in `session`, which outlives every backend. Whatever
// has no desktop backend keeps the stand-in of null_backends.h.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ports/activity_assertion.h"
#include "ports/clipboard.h"
#include "ports/display_source.h"
#include "ports/host_info.h"
#include "ports/input_sink.h"
#include "ports/main_loop.h"
#include "ports/overlay_surface.h"
#include "ports/screen_capture.h"
#include "ports/secret_store.h"
#include "ports/service_advertiser.h"
#include "ports/window_control.h"
#include "ports/workspace.h"

namespace tamborix {

struct PlatformBackends {
    // The desktop session shared by the desktop backends (the X connection); declared first so
    // that it is destroyed after all of them.
    std::shared_ptr<void> session;
    std::string backendName;  // "x11" or "none"
    // "Backend: x11 on :0 (…)" or "Backend: none, <why>": the first report line, also in status.
    std::string backendLine;
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
    // One line per choice, for the log of the start-up ("Input: none (…)").
    std::vector<std::string> report;
};

struct BackendRequest {
    bool dryRun = false;
    // "x11" or "none" forces that backend; empty probes. `forcedBy` names where it came from
    // ("--backend", "TAMBORIX_BACKEND") for the report.
    std::string forced;
    std::string forcedBy;
};

// Whether the X11 display named by DISPLAY accepts a connection: the windowed interface needs
// one, and without it the helper keeps to the console.
[[nodiscard]] bool x11DisplayReachable();
// The names `forced` accepts.
[[nodiscard]] bool isBackendName(std::string_view name);
// The request's forced backend: the command line's when given, else TAMBORIX_BACKEND's.
void applyBackendEnvironment(BackendRequest& request);

// Needs a running main loop of the application (the D-Bus backends deliver through it).
[[nodiscard]] PlatformBackends makePlatformBackends(MainLoop& loop, const BackendRequest& request);

}  // namespace tamborix
