#pragma once
// Every port of the platform in one bundle: what the factory builds, what the application and the
// session core are built over, and what the fakes of `testing/` stand in for. The references must
// outlive whatever is built over them.

#include "ports/action_journal.h"
#include "ports/activity_assertion.h"
#include "ports/clipboard.h"
#include "ports/desktop_actions.h"
#include "ports/display_source.h"
#include "ports/host_info.h"
#include "ports/input_actions.h"
#include "ports/input_sink.h"
#include "ports/overlay_surface.h"
#include "ports/peripheral.h"
#include "ports/screen_capture.h"
#include "ports/secret_store.h"
#include "ports/service_advertiser.h"
#include "ports/settings_pages.h"
#include "ports/window_control.h"
#include "ports/workspace.h"

namespace tamborix {

struct PortBundle {
    InputSink& input;
    DisplaySource& displays;
    Workspace& workspace;
    WindowControl& windows;
    OverlaySurface& overlay;
    ScreenCapture& capture;
    Clipboard& clipboard;
    ActivityAssertion& activity;
    HostInfo& host;
    SecretStore& secrets;
    ServiceAdvertiser* advertiser = nullptr;  // null: no DNS-SD in this build
    PeripheralFactory* peripherals = nullptr;  // null: no Bluetooth LE in this build
    SettingsPages* settingsPages = nullptr;    // null: no settings page can be opened
    // Set in a dry run only: the other ports then record what they are asked instead of doing it.
    ActionJournal* journal = nullptr;
    // Set where a backend takes the commands' input or desktop actions whole (the dry run's
    // recorders); otherwise the session core does them through the ports above.
    InputActions* inputActions = nullptr;
    DesktopActions* desktopActions = nullptr;
};

}  // namespace tamborix
