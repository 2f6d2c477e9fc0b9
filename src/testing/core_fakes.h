#pragma once
// The platform fakes a session core and the application run on, as one bundle, so that the core's tests, its
// benchmark and its fuzzers build it the same way. Header only: the compiled fakes stay free of
// the core, and only users that already link the core see HelperServices.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/recording/recording_desktop.h"
#include "core/recording/recording_input.h"
#include "core/session/helper_core.h"
#include "ports/standins/placeholder_capture.h"
#include "ports/standins/recording_window_control.h"
#include "testing/fake_activity.h"
#include "testing/fake_clipboard.h"
#include "testing/fake_display_source.h"
#include "testing/fake_host_info.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_screen_capture.h"
#include "testing/fake_secret_store.h"
#include "testing/fake_window_control.h"
#include "testing/fake_workspace.h"

namespace tamborix::testing {

struct CoreFakes {
    // Two displays side by side (1920 x 1080, then 1280 x 1024), the pointer on the first.
    [[nodiscard]] static std::vector<DisplayInfo> twoDisplays() {
        return FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    }

    explicit CoreFakes(MainLoop& loop, std::string hostName = "Test Box",
                       std::vector<DisplayInfo> displayList = twoDisplays(),
                       Point pointer = Point{100, 100})
        : displays(std::move(displayList), pointer), capture(loop), host(std::move(hostName)) {}

    // The fakes as one bundle over the input sink a test chooses; no DNS-SD, no Bluetooth LE.
    [[nodiscard]] PortBundle ports(InputSink& input) {
        return PortBundle{input,   displays,  workspace, windows, overlay,
                          capture, clipboard, activity,  host,    secrets};
    }

    // In dry run the recording set replaces what the factory replaces.
    [[nodiscard]] HelperServices services(MainLoop& loop, DeviceStore& store, InputSink& input,
                                          bool dryRun,
                                          const MainThreadLagProbe* lagProbe = nullptr) {
        if (dryRun) {
            journal = std::make_unique<ActionJournal>();
            placeholder = std::make_unique<PlaceholderCapture>(loop);
            recordingWindows = std::make_unique<RecordingWindowControl>(*journal);
            recordingInput = std::make_unique<RecordingInput>(loop, *journal);
            recordingDesktop = std::make_unique<RecordingDesktop>(*journal);
        }
        ScreenCapture& screen = dryRun ? static_cast<ScreenCapture&>(*placeholder) : capture;
        WindowControl& win = dryRun ? static_cast<WindowControl&>(*recordingWindows) : windows;
        return HelperServices{.loop = loop,
                              .store = store,
                              .ports = PortBundle{input,  displays,  workspace, win,     overlay,
                                                  screen, clipboard, activity,  host,    secrets,
                                                  nullptr, nullptr, nullptr, journal.get(),
                                                  recordingInput.get(), recordingDesktop.get()},
                              .lagProbe = lagProbe};
    }

    FakeDisplaySource displays;
    FakeWorkspace workspace;
    FakeWindowControl windows;
    FakeOverlaySurface overlay;
    FakeScreenCapture capture;
    FakeClipboard clipboard;
    FakeActivity activity;
    FakeHostInfo host;
    FakeSecretStore secrets;
    std::unique_ptr<ActionJournal> journal;
    std::unique_ptr<PlaceholderCapture> placeholder;
    std::unique_ptr<RecordingWindowControl> recordingWindows;
    std::unique_ptr<RecordingInput> recordingInput;
    std::unique_ptr<RecordingDesktop> recordingDesktop;
};

}  // namespace tamborix::testing
