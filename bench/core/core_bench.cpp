// What the session core adds to a frame: onFrameNow of a sealed "move", a "ping" (sealing the
// pong included) and a batch of 32 commands, each timed beside the bare AEAD open of a frame of
// the same length in the same iteration. Counters: core_ns and open_ns per frame, and their ratio.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/input/no_input_sink.h"
#include "core/session/helper_core.h"
#include "protocol/key_pair.h"
#include "protocol/secure_session.h"
#include "store/device_store.h"
#include "testing/fake_activity.h"
#include "testing/fake_clipboard.h"
#include "testing/fake_display_source.h"
#include "testing/fake_host_info.h"
#include "testing/fake_overlay_surface.h"
#include "testing/fake_screen_capture.h"
#include "testing/fake_window_control.h"
#include "testing/fake_workspace.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"

namespace tamborix {
namespace {

using namespace tamborix::testing;
using Clock = std::chrono::steady_clock;

constexpr std::size_t chunk = 1024;

struct Folder {
    Folder() {
        char pattern[] = "/tmp/tamborix-bench-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

// A core with one connected full-scope phone whose pushes go nowhere.
struct Rig {
    Rig() {
        core = std::make_unique<HelperCore>(HelperServices{
            .loop = loop, .store = store, .input = sink, .displays = displays,
            .workspace = workspace, .windows = windows, .overlay = overlay, .capture = capture,
            .clipboard = clipboard, .activity = activity, .host = host});
        auto key = KeyPair::generate();
        (void)store.add(key.publicKey(), "Bench");
        phone = std::make_unique<LoopbackPhone>(*core, key);
        phone->connect();
        loop.runPosted();
        phone->conn()->push = [this](const Bytes& sealed) { pushed += sealed.size(); };
    }

    ManualLoop loop;
    Folder folder;
    DeviceStore store{loop, folder.path};
    NoInputSink sink{"benchmark"};
    FakeDisplaySource displays{FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}), Point{10, 10}};
    FakeWorkspace workspace;
    FakeWindowControl windows;
    FakeOverlaySurface overlay;
    FakeScreenCapture capture{loop};
    FakeClipboard clipboard;
    FakeActivity activity;
    FakeHostInfo host{"bench"};
    std::unique_ptr<HelperCore> core;
    std::unique_ptr<LoopbackPhone> phone;
    std::size_t pushed = 0;
};

std::map<std::string, std::pair<double, double>>& summary() {
    static std::map<std::string, std::pair<double, double>> s;
    return s;
}

void measure(benchmark::State& state, const std::string& plaintext, const char* name) {
    Rig rig;
    SecureSession::Key ka, kb;
    ka.fill(0x11);
    kb.fill(0x22);
    const Bytes sid{1, 2, 3, 4, 5, 6, 7, 8};
    SecureSession bareSender(sid, Bytes(32), ka, kb);
    SecureSession bareReceiver(sid, Bytes(32), kb, ka);
    const Bytes plain(plaintext.begin(), plaintext.end());

    std::vector<Bytes> coreFrames(chunk), bareFrames(chunk);
    double coreNs = 0, bareNs = 0;
    std::size_t frames = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < chunk; ++i) {
            coreFrames[i] = rig.phone->seal(plaintext);
            bareFrames[i] = bareSender.seal(plain);
        }
        const auto t0 = Clock::now();
        for (const auto& f : bareFrames) benchmark::DoNotOptimize(bareReceiver.open(f));
        const auto t1 = Clock::now();
        for (const auto& f : coreFrames) rig.core->onFrameNow(rig.phone->conn(), f);
        const auto t2 = Clock::now();
        const double core = std::chrono::duration<double, std::nano>(t2 - t1).count();
        bareNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        coreNs += core;
        frames += chunk;
        state.SetIterationTime(core * 1e-9);
        // Smoothing timers never fire in the manual loop; pending motion is flushed between
        // chunks so that it cannot pile up.
        rig.loop.advance(0.02);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    const double perCore = coreNs / static_cast<double>(frames);
    const double perBare = bareNs / static_cast<double>(frames);
    state.counters["core_ns"] = perCore;
    state.counters["open_ns"] = perBare;
    state.counters["ratio"] = perCore / perBare;
    summary()[name] = {perCore, perBare};
}

void BM_MoveFrame(benchmark::State& state) {
    measure(state, R"({"t":"move","dx":3.5,"dy":-2})", "move");
}

void BM_PingFrame(benchmark::State& state) { measure(state, R"({"t":"ping"})", "ping"); }

void BM_Batch32Frame(benchmark::State& state) {
    std::string batch = R"({"cmds":[)";
    for (int i = 0; i < 32; ++i) {
        if (i > 0) batch += ',';
        batch += i % 2 ? R"({"t":"move","dx":1.5,"dy":-1})" : R"({"t":"scroll","dx":0,"dy":4})";
    }
    batch += "]}";
    measure(state, batch, "batch32");
}

BENCHMARK(BM_MoveFrame)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_PingFrame)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_Batch32Frame)->UseManualTime()->MinTime(1.0);

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nper frame: onFrameNow vs bare AEAD open of a frame of the same length\n");
    for (const auto& [name, v] : tamborix::summary())
        std::printf("  %-8s core %8.0f ns  open %6.0f ns  ratio %5.2fx\n", name.c_str(), v.first,
                    v.second, v.first / v.second);
    return 0;
}
