// Arbitrary plaintexts, sealed by a real session after a real handshake, into the command path of
// HelperCore. Whatever the phone sends, the core either handles it or ends the session with a
// SecureError (or the JSON parse error of a plaintext that is not JSON), never anything else;
// everything it pushes back opens on the phone's side and is one JSON object with a string "t". The first byte picks dry run or a core that posts input, so
// both command paths are reached; timers (smoother, screen streamer) run between inputs.
// Without a -dict of its own the run gets one made from the command table, so every command
// the core knows, and only those, is in it.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "core/session/command_table.h"
#include "core/session/helper_core.h"
#include "ports/input_sink.h"
#include "protocol/key_pair.h"
#include "protocol/secure_error.h"
#include "store/device_store.h"
#include "testing/core_fakes.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"
#include "fuzz_support.h"

using namespace tamborix;
using namespace tamborix::testing;

namespace {

// Accepts everything and keeps nothing, so a long run does not grow.
class DiscardingSink final : public InputSink {
public:
    [[nodiscard]] bool mayPost() const override { return true; }
    [[nodiscard]] std::string reason() const override { return {}; }
    void mouse(const MouseEvent&) override {}
    void scroll(const ScrollEvent&) override {}
    void key(const KeyEvent&) override {}
    void text(std::u16string_view) override {}
    void warp(Point) override {}
    [[nodiscard]] std::vector<LayoutEntry> layout() override {
        return {{38, false, U'a'}, {38, true, U'A'}, {10, false, U'1'}};
    }
};

struct Rig {
    explicit Rig(bool dryRun) : fakes(loop, "fuzz") {
        core = std::make_unique<HelperCore>(fakes.services(loop, store, sink, dryRun));
        core->setApproveScreen([](const std::string&, std::function<void(bool)> answer) { answer(true); });
        fakes.workspace.running = {{.handle = 1, .appId = "app.desktop", .name = "App"}};
        fakes.workspace.front = 1;
        (void)store.add(key.publicKey(), "Fuzz Phone");
        connect();
    }
    ~Rig() {
        phone.reset();
        core.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    void connect() {
        phone = std::make_unique<LoopbackPhone>(*core, key, "p" + std::to_string(++peer));
        if (phone->connect()["t"] != "welcome2") std::abort();
        loop.runPosted();
    }

    ManualLoop loop;
    std::filesystem::path folder = fuzzing::makeTempFolder("tamborix-fuzz");
    DeviceStore store{loop, folder};
    DiscardingSink sink;
    CoreFakes fakes;
    KeyPair key = *KeyPair::fromRaw(Bytes(32, 0x42));
    std::unique_ptr<HelperCore> core;
    std::unique_ptr<LoopbackPhone> phone;
    std::uint64_t peer = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i)
        if (std::string_view((*argv)[i]).starts_with("-dict=")) return 0;
    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("tamborix-commands-" + std::to_string(::getpid()) + ".dict"))
            .string();
    {
        std::ofstream out(path, std::ios::trunc);
        for (const char* member : {"t", "cmds", "on", "id", "x", "y", "d", "s", "k", "mods", "a"})
            out << "\"\\\"" << member << "\\\"\"\n";
        for (const auto& entry : commandTable()) out << "\"\\\"" << entry.name << "\\\"\"\n";
        if (!out) return 0;
    }
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    });
    static std::string flag = "-dict=" + path;
    static std::vector<char*> args(*argv, *argv + *argc);
    args.push_back(flag.data());
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig* dry = new Rig(true);  // both live for the whole run
    static Rig* live = new Rig(false);
    if (size == 0) return 0;
    Rig& rig = (data[0] & 1) ? *live : *dry;
    const std::string_view plaintext(reinterpret_cast<const char*>(data + 1), size - 1);

    const auto before = rig.phone->received().size();
    bool ended = false;
    try {
        rig.core->onFrameNow(rig.phone->conn(), rig.phone->seal(plaintext));
    } catch (const SecureError&) {
        ended = true;  // the transport ends the session
    } catch (const nlohmann::json::parse_error&) {
        ended = true;  // a plaintext that is no JSON object or array ends it too
    } catch (const std::exception& e) {
        std::fprintf(stderr, "escaped: %s\n", e.what());
        std::abort();
    } catch (...) {
        std::abort();
    }
    rig.loop.advance(0.05);
    const auto& received = rig.phone->received();
    for (std::size_t i = before; i < received.size(); ++i) {
        const auto& m = received[i];
        if (!m.is_object() || !m.contains("t") || !m["t"].is_string()) std::abort();
    }
    if (rig.phone->receivedTexts().size() != received.size()) std::abort();
    if (ended || rig.phone->ended()) {
        rig.phone->close();
        rig.loop.runPosted();
        rig.connect();
    }
    if (rig.phone->received().size() > 256) rig.phone->clearReceived();
    return 0;
}
