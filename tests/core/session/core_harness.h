#pragma once
// A HelperCore over fakes, a real DeviceStore in a temporary folder and the manual loop, with
// phones that talk to it through the loopback transport.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/input/input_injector.h"
#include "core/session/helper_core.h"
#include "perf/main_thread_lag_probe.h"
#include "protocol/key_pair.h"
#include "store/device_store.h"
#include "testing/core_fakes.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"
#include "testing/recording_input_sink.h"

namespace tamborix::testing {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/tamborix-core-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class CoreHarness {
public:
    explicit CoreHarness(bool dryRun = true, std::string hostName = "Test Box")
        : fakes(loop, std::move(hostName)) {
        sink.setLayout(RecordingInputSink::usLayout());
        core = std::make_unique<HelperCore>(fakes.services(loop, store, sink, dryRun, &lag));
    }

    // A stored device for `key`, with the given scope.
    PairedDevice pair(const KeyPair& key, const std::string& name,
                      PairedDevice::Scope scope = PairedDevice::Scope::full) {
        const auto device = store.add(key.publicKey(), name).value();
        if (scope != PairedDevice::Scope::full) store.setScope(device.id, scope);
        return *store.deviceById(device.id);
    }

    // A paired phone, connected, with its ready sequence delivered.
    std::unique_ptr<LoopbackPhone> phone(const std::string& name,
                                         PairedDevice::Scope scope = PairedDevice::Scope::full,
                                         const std::string& transport = "Network") {
        auto key = KeyPair::generate();
        pair(key, name, scope);
        auto p = std::make_unique<LoopbackPhone>(*core, key, "127.0.0.1:" + std::to_string(++port),
                                                 transport);
        const auto reply = p->connect();
        EXPECT_EQ(reply["t"], "welcome2") << reply.dump();
        loop.runPosted();
        p->clearReceived();
        return p;
    }

    // A phone that is not paired and has completed a "pair2" handshake.
    std::unique_ptr<LoopbackPhone> pairingPhone(const std::string& name) {
        auto p = std::make_unique<LoopbackPhone>(*core, KeyPair::generate(),
                                                 "127.0.0.1:" + std::to_string(++port));
        const auto reply = p->connect(PhoneHandshake::Kind::pair, name);
        EXPECT_EQ(reply["t"], "welcome2") << reply.dump();
        return p;
    }

    // The dry run's journal; empty outside a dry run.
    [[nodiscard]] const std::deque<std::string>& log() {
        static const std::deque<std::string> none;
        return fakes.journal ? fakes.journal->lines() : none;
    }
    [[nodiscard]] std::string lastLog() { return log().empty() ? std::string() : log().back(); }
    [[nodiscard]] std::string lastEvent() const { return core->lastEvent().value_or(""); }

    ManualLoop loop;
    TempFolder folder;
    DeviceStore store{loop, folder.path()};
    RecordingInputSink sink;
    CoreFakes fakes;
    FakeDisplaySource& displays = fakes.displays;
    FakeWorkspace& workspace = fakes.workspace;
    FakeWindowControl& windows = fakes.windows;
    FakeOverlaySurface& overlay = fakes.overlay;
    FakeScreenCapture& capture = fakes.capture;
    FakeClipboard& clipboard = fakes.clipboard;
    FakeActivity& activity = fakes.activity;
    FakeHostInfo& host = fakes.host;
    MainThreadLagProbe lag{loop};
    std::unique_ptr<HelperCore> core;
    int port = 40000;
};

}  // namespace tamborix::testing
