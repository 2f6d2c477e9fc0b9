#pragma once

#include <gtest/gtest.h>

#include "core/input/input_injector.h"
#include "testing/fake_display_source.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {

// One 1920 x 1080 display with the pointer at (100, 100), a US-like layout, posting for real.
class InjectorTest : public ::testing::Test {
protected:
    InjectorTest()
        : displays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}), Point{100, 100}) {
        sink.setLayout(RecordingInputSink::usLayout());
    }

    InputInjector& injector() {
        if (!injector_) injector_ = std::make_unique<InputInjector>(loop, sink, displays);
        return *injector_;
    }

    ManualLoop loop;
    FakeDisplaySource displays;
    RecordingInputSink sink;

private:
    std::unique_ptr<InputInjector> injector_;
};

}  // namespace tamborix::testing
