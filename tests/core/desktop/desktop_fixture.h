#pragma once

#include <gtest/gtest.h>

#include "core/desktop/cursor_finder.h"
#include "core/desktop/desktop_control.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_window_control.h"
#include "testing/fake_workspace.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {

class DesktopTest : public ::testing::Test {
protected:
    void setDisplays(const std::vector<Rect>& bounds) {
        displays.setDisplays(FakeDisplaySource::withBounds(bounds));
    }

    ManualLoop loop;
    FakeDisplaySource displays;
    FakeWorkspace workspace;
    FakeWindowControl windows;
    RecordingInputSink sink;
    FakeOverlaySurface surface;
    CursorFinder finder{loop, displays, surface};
    DesktopControl desktop{displays, workspace, windows, sink, finder};
};

}  // namespace tamborix::testing
