// What the session core adds to a frame, each beside the bare ChaCha20-Poly1305 open of a
// ciphertext of the same length, timed in the same iteration:
// - onFrameNow of a sealed "move", a "ping" (sealing the pong included) and a batch of 32;
// - a "move" at 120 Hz with the smoother's tick in between: through a sink that posts (the
//   injector's real pointer path) and through the dry-run log.
// - a "move" and a "ping" with 1,000 devices paired beside the phone's own (its device stored last),
//   whose work must be that of the same frame with one paired device.
// Counters: core_ns and aead_ns per frame, and their ratio.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/input/input_injector.h"
#include "core/session/helper_core.h"
#include "ports/input_sink.h"
#include "protocol/aead.h"
#include "protocol/key_pair.h"
#include "protocol/secure_session.h"
#include "store/device_store.h"
#include "testing/core_fakes.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"

namespace tamborix {
namespace {

using namespace tamborix::testing;
using Clock = std::chrono::steady_clock;

constexpr std::size_t chunk = 1024;

struct Folder {
    // `files`: name and contents of the files the folder starts with.
    explicit Folder(const std::map<std::string, std::string>& files = {}) {
        char pattern[] = "/tmp/tamborix-bench-XXXXXX";
        path = mkdtemp(pattern);
        for (const auto& [name, contents] : files)
            std::ofstream(path / name, std::ios::binary) << contents;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

// A sink that may post and only counts: the injector runs its whole pointer path.
class CountingSink final : public InputSink {
public:
    [[nodiscard]] bool mayPost() const override { return true; }
    [[nodiscard]] std::string reason() const override { return {}; }
    void mouse(const MouseEvent&) override { ++events; }
    void scroll(const ScrollEvent&) override { ++events; }
    void key(const KeyEvent&) override { ++events; }
    void text(std::u16string_view) override { ++events; }
    void warp(Point) override { ++events; }
    [[nodiscard]] std::vector<LayoutEntry> layout() override { return {}; }
    std::size_t events = 0;
};

// A store folder (identity and devices.json) with `count` paired devices, made once per count
// (each pairing is written through to the disk).
const std::map<std::string, std::string>& pairedDevicesFolder(int count) {
    static std::map<int, std::map<std::string, std::string>> made;
    auto& files = made[count];
    if (count > 0 && files.empty()) {
        ManualLoop loop;
        Folder folder;
        {
            DeviceStore store{loop, folder.path};
            for (int i = 0; i < count; ++i)
                (void)store.add(KeyPair::generate().publicKey(), "Other " + std::to_string(i));
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(in),
                                                           std::istreambuf_iterator<char>());
        }
    }
    return files;
}

// A core with one connected full-scope phone whose pushes go nowhere; `otherDevices` more are
// paired before it.
struct Rig {
    explicit Rig(bool dryRun, int otherDevices = 0)
        : folder(pairedDevicesFolder(otherDevices)),
          fakes(loop, "bench", FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}), Point{10, 10}) {
        core = std::make_unique<HelperCore>(fakes.services(loop, store, sink, dryRun));
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
    CountingSink sink;
    CoreFakes fakes;
    std::unique_ptr<HelperCore> core;
    std::unique_ptr<LoopbackPhone> phone;
    std::size_t pushed = 0;
};

// The baseline: one Aead::open per frame, on a ciphertext as long as the frame's.
struct BareAead {
    explicit BareAead(std::size_t plaintextLength) {
        key.fill(0x11);
        nonce.fill(0x22);
        const Bytes plain(plaintextLength, 'x');
        aad.assign(SecureSession::headerLength, 0x01);
        cipher.resize(plaintextLength);
        out.resize(plaintextLength);
        if (!Aead::seal(cipher.data(), tag.data(), plain, aad, nonce, key))
            throw std::runtime_error("seal failed");
    }
    // False when the tag did not verify (a broken baseline must not pass as a fast one).
    bool open() { return Aead::open(out.data(), cipher, tag.data(), aad, nonce, key); }

    Aead::Key key{};
    Aead::Nonce nonce{};
    std::array<std::uint8_t, Aead::tagLength> tag{};
    Bytes aad, cipher, out;
};

std::map<std::string, std::pair<double, double>>& summary() {
    static std::map<std::string, std::pair<double, double>> s;
    return s;
}

// `tick`: advance the loop by one smoother period after each frame (its timers run and are
// timed with the frame); otherwise pending motion is flushed between chunks, untimed.
void measure(benchmark::State& state, const std::string& plaintext, const char* name, bool dryRun,
             bool tick, int otherDevices = 0) {
    Rig rig(dryRun, otherDevices);
    if (rig.store.devices().size() != static_cast<std::size_t>(otherDevices) + 1) {
        state.SkipWithError("the paired devices were not all read");
        return;
    }
    BareAead bare(plaintext.size());
    const auto period = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(1.0 / 120));
    std::vector<Bytes> frames(chunk);
    double coreNs = 0;
    double bareNs = 0;
    std::size_t count = 0;
    for (auto _ : state) {
        for (auto& f : frames) f = rig.phone->seal(plaintext);
        const auto t0 = Clock::now();
        bool ok = true;
        for (std::size_t i = 0; i < chunk; ++i) ok &= bare.open();
        const auto t1 = Clock::now();
        for (const auto& f : frames) {
            rig.core->onFrameNow(rig.phone->conn(), f);
            if (tick) rig.loop.advance(period);
        }
        const auto t2 = Clock::now();
        if (!ok) {
            state.SkipWithError("the bare AEAD open failed");
            return;
        }
        const double core = std::chrono::duration<double, std::nano>(t2 - t1).count();
        bareNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        coreNs += core;
        count += chunk;
        state.SetIterationTime(core * 1e-9);
        if (!tick) rig.loop.advance(0.02);
    }
    if (tick && dryRun == false && rig.sink.events == 0) {
        state.SkipWithError("no pointer event reached the sink");
        return;
    }
    if (tick && dryRun && rig.fakes.journal->lines().empty()) {
        state.SkipWithError("nothing reached the dry-run log");
        return;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(count));
    const double perCore = coreNs / static_cast<double>(count);
    const double perBare = bareNs / static_cast<double>(count);
    state.counters["core_ns"] = perCore;
    state.counters["aead_ns"] = perBare;
    state.counters["ratio"] = perCore / perBare;
    summary()[name] = {perCore, perBare};
}

const std::string moveText = R"({"t":"move","dx":3.5,"dy":-2})";

void BM_MoveFrame(benchmark::State& state) { measure(state, moveText, "move", false, false); }

void BM_Move120HzPostingSink(benchmark::State& state) {
    measure(state, moveText, "move+tick sink", false, true);
}

void BM_Move120HzDryRunLog(benchmark::State& state) {
    measure(state, moveText, "move+tick dry-run", true, true);
}

void BM_PingFrame(benchmark::State& state) { measure(state, R"({"t":"ping"})", "ping", false, false); }

void BM_Batch32Frame(benchmark::State& state) {
    std::string batch = R"({"cmds":[)";
    for (int i = 0; i < 32; ++i) {
        if (i > 0) batch += ',';
        batch += i % 2 ? R"({"t":"move","dx":1.5,"dy":-1})" : R"({"t":"scroll","dx":0,"dy":4})";
    }
    batch += "]}";
    measure(state, batch, "batch32", false, false);
}

void BM_MoveFrame1000Paired(benchmark::State& state) {
    measure(state, moveText, "move 1000 paired", false, false, 1000);
}

void BM_PingFrame1000Paired(benchmark::State& state) {
    measure(state, R"({"t":"ping"})", "ping 1000 paired", false, false, 1000);
}

BENCHMARK(BM_MoveFrame)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_MoveFrame1000Paired)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_Move120HzPostingSink)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_Move120HzDryRunLog)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_PingFrame)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_Batch32Frame)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_PingFrame1000Paired)->UseManualTime()->MinTime(1.0);

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nper frame: the core's work vs one bare ChaCha20-Poly1305 open of the same length\n");
    for (const auto& [name, v] : tamborix::summary())
        std::printf("  %-18s core %8.0f ns  aead %6.0f ns  ratio %6.2fx\n", name.c_str(), v.first,
                    v.second, v.first / v.second);
    const auto& s = tamborix::summary();
    for (const char* frame : {"move", "ping"}) {
        const auto one = s.find(frame);
        const auto many = s.find(std::string(frame) + " 1000 paired");
        if (one == s.end() || many == s.end()) continue;
        std::printf("%s with 1,000 paired devices vs 1: %.2fx\n", frame,
                    many->second.first / one->second.first);
    }
    return 0;
}
