#pragma once
// The rooms HelperCore wires together, kept out of its public header so that users of the core do
// not compile the desktop, input and screen layers. Declared in the order they are built: each
// may refer to those above it.

#include "core/session/command_table.h"
#include "core/session/connection_registry.h"
#include "core/session/desktop_commands.h"
#include "core/session/device_standing.h"
#include "core/session/display_context.h"
#include "core/session/helper_core.h"
#include "core/session/input_commands.h"
#include "core/session/live_desktop.h"
#include "core/session/pairing.h"
#include "core/session/screen_sharing.h"
#include "core/session/session_stats.h"

namespace tamborix {

struct HelperCore::Rooms {
    Rooms(const HelperServices& s, CoreState& state, const std::string& hostName)
        : registry(s.loop, s.ports.activity, state),
          standing(s.store),
          live(s.loop, s.ports),
          desktopActions(s.ports.desktopActions != nullptr ? *s.ports.desktopActions : live),
          input(s.loop, s.ports.input, s.ports.displays, live.laserOverlay(), desktopActions,
                s.ports.inputActions),
          desktop(live.control(), desktopActions, input, registry, state),
          displays(s.loop, s.ports.workspace, live.control(), desktopActions, input, registry, state),
          screen(s.loop, s.store, s.ports.displays, s.ports.capture, input, registry, state),
          stats(s.loop, registry, state, s.lagProbe),
          pairing(s.loop, s.store, registry, state, displays, hostName),
          handlers{input, desktop, displays, screen, stats} {}

    ConnectionRegistry registry;
    DeviceStanding standing;
    LiveDesktop live;
    // The live desktop, or the backend that takes desktop actions whole.
    DesktopActions& desktopActions;
    InputCommands input;
    DesktopCommands desktop;
    DisplayContext displays;
    ScreenSharing screen;
    SessionStats stats;
    Pairing pairing;
    CommandHandlers handlers;
};

}  // namespace tamborix
