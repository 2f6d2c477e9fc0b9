#pragma once
// Every desktop port a HelperModel is built over, as fakes, and the environment that hands them
// over with the helper's files in a folder of the test's own.

#include <filesystem>
#include <string>

#include "app/helper_model.h"
#include "testing/core_fakes.h"
#include "testing/fake_settings_pages.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {

// The core's fakes (with no displays and no pointer until a test gives them) and the input sink.
struct FakeHelperPlatform : CoreFakes {
    FakeHelperPlatform(MainLoop& loop, std::string hostName) : CoreFakes(loop, std::move(hostName), {}, {}) {
        displays = FakeDisplaySource();
    }

    // settings.json, store/ and autostart/ under `folder`; any free port.
    [[nodiscard]] HelperEnvironment environment(MainLoop& loop, const std::filesystem::path& folder,
                                                StreamListenerFactory& listeners) {
        HelperEnvironment env{.loop = loop,
                              .ports = ports(input),
                              .listeners = listeners,
                              .settingsFile = folder / "settings.json",
                              .storeFolder = folder / "store",
                              .autostartFolder = folder / "autostart",
                              .program = folder / "tamborix-helper",
                              .dryRunLogFile = {},
                              .backendLine = {}};
        env.port = 0;
        env.ports.settingsPages = &settingsPages;
        return env;
    }

    RecordingInputSink input;
    FakeSettingsPages settingsPages;
};

}  // namespace tamborix::testing
