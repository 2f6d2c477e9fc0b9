// The real tamborix-helper over Bluetooth LE: a stand-in bluetoothd on a private bus plays the
// phones, each bridged to a tamborix-remote over loopback, so pairing, the handshake and commands
// travel as characteristic writes and notifications in fragments of the phone's link.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "e2e/fake_bluez_run.h"
#include "e2e/helper_fixture.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class BluetoothE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        ble_ = std::make_unique<FakeBluezRun>(TAMBORIX_FAKE_BLUEZ_BIN);
        run_ = std::make_unique<HelperRun>(true, std::filesystem::path{}, std::string{}, ble_->busAddress());
        ASSERT_TRUE(bluez().waitForPrefix("registered Velmorand", 15s)) << bluez().transcript();
        ASSERT_TRUE(run_->helper().waitForPrefix("Bluetooth \u2014 On", 15s)) << run_->helper().transcript();
    }
    void TearDown() override {
        run_.reset();
        ble_.reset();
    }

    ChildProcess& bluez() { return ble_->bluez(); }
    std::string phone(const std::string& address, int mtu) { return ble_->phone(address, mtu); }

    std::unique_ptr<FakeBluezRun> ble_;
    std::unique_ptr<HelperRun> run_;
};

TEST_F(BluetoothE2E, Phone_PairsAndSendsCommands_RepliesAndDryRunLog) {
    const auto small = phone("AA:BB:CC:DD:EE:01", 23);
    ASSERT_FALSE(small.empty());
    const auto paired = run_->pair("y", "ble phone", small);
    ASSERT_EQ(paired.exitCode, 0) << paired.err << run_->helper().transcript() << bluez().transcript();
    ASSERT_TRUE(run_->helper().waitForPrefix("Event: Paired ble phone"));

    const auto r = run_->runRemote({"send", small, R"({"t":"ping"})", R"({"t":"click","b":"left","n":1})",
                                    R"({"t":"text","s":"über den Bluetooth-Weg"})", R"({"t":"stats_get"})"});
    ASSERT_EQ(r.exitCode, 0) << r.err << run_->helper().transcript();
    const auto messages = r.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front()["t"], "ready");
    bool pong = false;
    bool stats = false;
    for (const auto& m : messages) {
        pong = pong || m.value("t", "") == "pong";
        if (m.value("t", "") == "stats") {
            stats = true;
            EXPECT_EQ(m["bleDevices"], 1);
        }
    }
    EXPECT_TRUE(pong);
    EXPECT_TRUE(stats);
    const auto log = run_->dryRunLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "click left 1"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "text 22"), log.end());

    // The app went away: the phone left and the session ends once the helper sees its socket close.
    ASSERT_TRUE(ble_->waitLeft("AA:BB:CC:DD:EE:01")) << bluez().transcript();
    std::vector<std::string> status;
    for (const auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline;) {
        status = run_->console("status", "Paired devices:");
        if (std::find(status.begin(), status.end(), "Connected: none") != status.end()) break;
    }
    EXPECT_NE(std::find(status.begin(), status.end(), "Connected: none"), status.end())
        << run_->helper().transcript();
    EXPECT_NE(std::find(status.begin(), status.end(), "Bluetooth \u2014 On"), status.end());

    // The switch: off withdraws the service, on brings it back.
    run_->helper().write("bluetooth off\n");
    ASSERT_TRUE(bluez().waitForPrefix("unregistered")) << bluez().transcript();
    ASSERT_TRUE(run_->helper().waitForPrefix("Bluetooth \u2014 Off"));
    run_->helper().write("bluetooth on\n");
    ASSERT_TRUE(bluez().waitForPrefix("registered Velmorand")) << bluez().transcript();
}

TEST_F(BluetoothE2E, Bluetoothd_Restarts_HelperRegistersAgain) {
    bluez().write("stop\n");
    ASSERT_TRUE(bluez().waitForPrefix("unregistered"));
    ASSERT_TRUE(run_->helper().waitForPrefix("Bluetooth \u2014 Not supported on this computer"))
        << run_->helper().transcript();
    bluez().write("start\n");
    ASSERT_TRUE(bluez().waitForPrefix("registered Velmorand")) << bluez().transcript();
    ASSERT_TRUE(run_->helper().waitForPrefix("Bluetooth \u2014 On"));
    const auto big = phone("AA:BB:CC:DD:EE:02", 185);
    ASSERT_EQ(run_->pair("y", "second phone", big).exitCode, 0) << run_->helper().transcript();
}

}  // namespace
}  // namespace tamborix::testing
