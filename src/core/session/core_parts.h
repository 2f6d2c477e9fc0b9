#pragma once
// The pieces HelperCore owns, kept out of its public header so that users of the core do not
// compile the desktop, input and screen layers.

#include <map>
#include <memory>

#include "core/desktop/cursor_finder.h"
#include "core/desktop/desktop_control.h"
#include "core/desktop/laser_overlay.h"
#include "core/input/input_injector.h"
#include "core/input/smoother.h"
#include "core/screen/screen_streamer.h"
#include "core/session/helper_core.h"
#include "perf/process_stats.h"
#include "protocol/bytes.h"

namespace tamborix {

struct HelperCore::Parts {
    explicit Parts(const HelperServices& s)
        : services(s),
          injector(s.loop, s.input, s.displays, s.dryRun),
          laser(s.loop, s.displays, s.overlay),
          finder(s.loop, s.displays, s.overlay),
          desktop(s.displays, s.workspace, s.windows, s.input, finder) {}

    HelperServices services;
    InputInjector injector;
    std::unique_ptr<Smoother> smoother;  // created on first use
    LaserOverlay laser;
    CursorFinder finder;
    DesktopControl desktop;
    ProcessStats process;
    // At most one per connection, keyed by session id.
    std::map<Bytes, std::unique_ptr<ScreenStreamer>> streamers;
    Timer frontAppTimer;  // only where the workspace cannot report changes
    std::unique_ptr<Workspace::FrontWatch> frontAppWatch;
    std::optional<AppHandle> lastFrontHandle;
};

}  // namespace tamborix
