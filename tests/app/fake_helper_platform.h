#pragma once
// Every desktop port a HelperModel is built over, as fakes, and the environment that hands them
// over with the helper's files in a folder of the test's own.

#include <filesystem>
#include <string>

#include "app/helper_model.h"
#include "testing/fake_activity.h"
#include "testing/fake_clipboard.h"
#include "testing/fake_display_source.h"
#include "testing/fake_host_info.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_screen_capture.h"
#include "testing/fake_secret_store.h"
#include "testing/fake_window_control.h"
#include "testing/fake_workspace.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {

struct FakeHelperPlatform {
    FakeHelperPlatform(MainLoop& loop, std::string hostName) : capture(loop), host(std::move(hostName)) {}

    // settings.json, store/ and autostart/ under `folder`; any free port.
    [[nodiscard]] HelperEnvironment environment(MainLoop& loop, const std::filesystem::path& folder,
                                                StreamListenerFactory& listeners) {
        HelperEnvironment env{.loop = loop,
                              .input = input,
                              .displays = displays,
                              .workspace = workspace,
                              .windows = windows,
                              .overlay = overlay,
                              .capture = capture,
                              .clipboard = clipboard,
                              .activity = activity,
                              .host = host,
                              .secrets = secrets,
                              .listeners = listeners,
                              .settingsFile = folder / "settings.json",
                              .storeFolder = folder / "store",
                              .autostartFolder = folder / "autostart",
                              .program = folder / "tamborix-helper",
                              .dryRunLogFile = {},
                              .backendLine = {}};
        env.port = 0;
        return env;
    }

    RecordingInputSink input;
    FakeDisplaySource displays;
    FakeWorkspace workspace;
    FakeWindowControl windows;
    FakeOverlaySurface overlay;
    FakeScreenCapture capture;
    FakeClipboard clipboard;
    FakeActivity activity;
    FakeHostInfo host;
    FakeSecretStore secrets;
};

}  // namespace tamborix::testing
