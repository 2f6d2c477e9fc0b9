// Cost of the application list ("apps_get") with many running applications, and of checking a
// web address, beside a plain byte-wise sort of the same names measured in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/desktop/desktop_control.h"
#include "core/desktop/web_address.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_window_control.h"
#include "testing/fake_workspace.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix {
namespace {

std::string nameFor(int i) {
    static const char* const stems[] = {"Files", "terminal", "Écrire", "browser", "Mail",
                                        "calendar", "Zeichnen", "music", "Notes", "office"};
    return std::string(stems[i % 10]) + " " + std::to_string((i * 7919) % 1000);
}

void BM_OpenApps(benchmark::State& state) {
    testing::ManualLoop loop;
    testing::FakeDisplaySource displays;
    testing::FakeWorkspace workspace;
    testing::FakeWindowControl windows;
    testing::RecordingInputSink sink;
    testing::FakeOverlaySurface surface;
    CursorFinder finder(loop, displays, surface);
    DesktopControl desktop(displays, workspace, windows, sink, finder);
    for (int i = 0; i < state.range(0); ++i) {
        workspace.running.push_back(RunningApp{static_cast<AppHandle>(i + 1),
                                               "app" + std::to_string(i) + ".desktop", nameFor(i),
                                               true, false});
    }
    for (auto _ : state) benchmark::DoNotOptimize(desktop.openApps());
}
BENCHMARK(BM_OpenApps)->Arg(10)->Arg(45)->Arg(200);

// Baseline: copying and byte-wise sorting the same names.
void BM_PlainNameSort(benchmark::State& state) {
    std::vector<std::string> names;
    for (int i = 0; i < state.range(0); ++i) names.push_back(nameFor(i));
    for (auto _ : state) {
        auto copy = names;
        std::stable_sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_PlainNameSort)->Arg(10)->Arg(45)->Arg(200);

void BM_WebAddress(benchmark::State& state) {
    const std::string url = "https://example.com/" + std::string(state.range(0), 'a') + "?q=1";
    for (auto _ : state) benchmark::DoNotOptimize(isOpenableWebAddress(url));
}
BENCHMARK(BM_WebAddress)->Arg(20)->Arg(1900);

}  // namespace
}  // namespace tamborix

BENCHMARK_MAIN();
