#include "app/fake_helper_platform.h"
#include "app/helper_model.h"

#include "app/console.h"
#include "app/console_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/session/helper_core.h"
#include "protocol/wire.h"
#include "store/device_store.h"
#include "testing/fake_peripheral.h"
#include "testing/fake_stream.h"
#include "testing/loopback_phone.h"
#include "testing/manual_loop.h"
#include "testing/small_disk.h"
#include "transport/bluetooth_server.h"
#include "transport/network_server.h"

namespace tamborix {
namespace {

using testing::LoopbackPhone;

// Answers every prompt with a fixed value and remembers what was asked.
class ScriptedPrompter final : public ApprovalPrompter {
public:
    void askApproval(const std::string& name, const std::string& fingerprint, Answer answer) override {
        asked.push_back(name + " " + fingerprint);
        answer(allow ? Approval::allowed : Approval::denied);
    }
    void askScreenApproval(const std::string& name, Answer answer) override {
        asked.push_back(name);
        answer(allow ? Approval::allowed : Approval::denied);
    }
    bool allow = true;
    std::vector<std::string> asked;
};

class HelperModelTest : public ::testing::Test {
protected:
    HelperModelTest() {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamborix-model-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "store");
    }
    ~HelperModelTest() override { std::filesystem::remove_all(dir_); }

    std::unique_ptr<HelperModel> makeModel(testing::FakeStreamListenerFactory& listeners) {
        auto env = fakes_.environment(loop_, dir_, listeners);
        env.program = dir_ / "my build" / "tamborix-helper";
        env.dryRun = false;
        env.ports.peripherals = &peripherals_;
        return std::make_unique<HelperModel>(env);
    }

    std::filesystem::path dir_;
    testing::ManualLoop loop_;
    testing::FakeHelperPlatform fakes_{loop_, "Ada's Laptop"};
    testing::FakePeripheralFactory peripherals_{loop_};
};

TEST_F(HelperModelTest, Construct_FreshUser_NetworkStartsAndFirstLaunchShowsStatus) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    EXPECT_TRUE(model->networkOn());
    EXPECT_TRUE(model->bluetoothOn());
    EXPECT_TRUE(model->shareFrontApp());
    EXPECT_TRUE(model->core().shareFrontApp());
    ASSERT_EQ(listeners.created(), 1u);
    EXPECT_TRUE(listeners.last()->started);
    EXPECT_EQ(model->network().status(), "Starting…");
    listeners.last()->boundPort = 43210;
    ASSERT_TRUE(listeners.reportState(StreamListener::State::ready));
    loop_.runPosted();
    EXPECT_EQ(model->networkStatusLine(), "Network \u2014 On (port 43210)");
    EXPECT_EQ(model->linkPort(), 43210);

    EXPECT_TRUE(model->launched());
    EXPECT_FALSE(model->launched());  // once per process
    model.reset();

    testing::FakeStreamListenerFactory again(loop_);
    model = makeModel(again);
    EXPECT_FALSE(model->launched());  // launched before and input allowed
    model.reset();

    fakes_.input.setMayPost(false, "no XTEST");
    testing::FakeStreamListenerFactory third(loop_);
    model = makeModel(third);
    EXPECT_FALSE(model->accessibilityGranted());
    EXPECT_TRUE(model->launched());  // permission missing: shown at every launch
    EXPECT_NE(model->inputLine().find("no XTEST"), std::string::npos);
}

TEST_F(HelperModelTest, SetNetworkOn_Off_PersistsAndRestartLeavesServerStopped) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    model->setNetworkOn(false);
    EXPECT_TRUE(listeners.last()->cancelled);
    EXPECT_EQ(model->network().status(), "Off");
    model.reset();

    testing::FakeStreamListenerFactory second(loop_);
    model = makeModel(second);
    EXPECT_FALSE(model->networkOn());
    EXPECT_EQ(second.created(), 0u);
    EXPECT_EQ(model->network().status(), "Starting…");
    model->setNetworkOn(true);
    EXPECT_EQ(second.created(), 1u);
}

TEST_F(HelperModelTest, Bluetooth_SwitchAndStatistics_FollowTheServer) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    loop_.runPosted();
    EXPECT_EQ(model->bluetoothStatusLine(), "Bluetooth \u2014 On");
    auto* radio = peripherals_.current();
    ASSERT_NE(radio, nullptr);
    // A phone whose link has no room yet: the answer to its handshake waits.
    radio->room["AA:01"] = 0;
    radio->write("AA:01", BluetoothServer::cmdUUID, toBytes("{\"t\":\"hello2\"}"));
    ASSERT_EQ(model->bluetooth().backlog(), 1u);  // the refusal reply waits
    loop_.advance(1.0);
    EXPECT_EQ(model->core().lastStats()["bleBacklog"], 1);
    EXPECT_EQ(model->core().lastStats()["bleDevices"], 0);

    model->setBluetoothOn(false);
    EXPECT_EQ(model->bluetoothStatusLine(), "Bluetooth \u2014 Off");
    EXPECT_EQ(peripherals_.current(), nullptr);
    model.reset();
    testing::FakeStreamListenerFactory second(loop_);
    model = makeModel(second);
    EXPECT_FALSE(model->bluetoothOn());
    EXPECT_EQ(peripherals_.created, 1u);  // not started after the restart
    model->setBluetoothOn(true);
    loop_.runPosted();
    EXPECT_EQ(model->bluetoothStatusLine(), "Bluetooth \u2014 On");
}

TEST_F(HelperModelTest, Timers_StatsEverySecondAndPermissionPolledEveryTwo) {
    fakes_.input.setMayPost(false, "no XTEST");
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    int permissionChanges = 0;
    auto sub = model->subscribe([&](HelperModel::Change c) {
        if (c == HelperModel::Change::permission) ++permissionChanges;
    });
    EXPECT_TRUE(model->core().lastStats().empty());
    loop_.advance(1.0);
    const auto& stats = model->core().lastStats();
    ASSERT_FALSE(stats.empty());
    EXPECT_EQ(stats["sessions"], 0);
    EXPECT_EQ(stats["bleBacklog"], 0);
    EXPECT_EQ(model->statsLine().rfind("CPU ", 0), 0u);

    fakes_.input.setMayPost(true);
    loop_.advance(0.9);  // the poll runs at 2 s
    EXPECT_FALSE(model->accessibilityGranted());
    loop_.advance(0.2);
    EXPECT_TRUE(model->accessibilityGranted());
    loop_.advance(10.0);
    EXPECT_EQ(permissionChanges, 1);  // an unchanged value announces nothing
}

TEST_F(HelperModelTest, Pairing_ThroughPrompter_AllowedStoresDeniedAndNoPrompterRefuse) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    ScriptedPrompter prompter;

    const auto pairOnce = [&](bool withPrompter, bool allow) {
        model->setPrompter(withPrompter ? &prompter : nullptr);
        prompter.allow = allow;
        const auto pairing = model->openPairing();
        LoopbackPhone phone(model->core(), KeyPair::generate());
        const auto reply = phone.connect(PhoneHandshake::Kind::pair, "Pixel");
        EXPECT_EQ(reply["t"], "welcome2");
        phone.send({{"t", "pair"}, {"proof", Wire::b64url(Wire::pairProof(pairing.code, phone.th()))}});
        loop_.runPosted();
        return phone.receivedOfType("paired").size() == 1;
    };
    EXPECT_FALSE(pairOnce(false, true));
    EXPECT_TRUE(prompter.asked.empty());
    EXPECT_FALSE(pairOnce(true, false));
    EXPECT_TRUE(pairOnce(true, true));
    ASSERT_EQ(prompter.asked.size(), 2u);
    EXPECT_EQ(prompter.asked[1].rfind("Pixel ", 0), 0u);
    ASSERT_EQ(model->devices().size(), 1u);
    EXPECT_EQ(model->devices()[0].name, "Pixel");
    EXPECT_EQ(model->devices()[0].screen, "undecided");
}

TEST_F(HelperModelTest, SetShareFrontApp_OnWithPairedPhone_PushesContextAtOnceOffSendsNothing) {
    fakes_.workspace.running = {RunningApp{7, "org.example.Editor.desktop", "Editor"}};
    fakes_.workspace.front = 7;
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    ScriptedPrompter prompter;
    model->setPrompter(&prompter);
    const auto pairing = model->openPairing();
    LoopbackPhone phone(model->core(), KeyPair::generate());
    phone.connect(PhoneHandshake::Kind::pair, "Pixel");
    phone.send({{"t", "pair"}, {"proof", Wire::b64url(Wire::pairProof(pairing.code, phone.th()))}});
    loop_.runPosted();
    ASSERT_EQ(phone.receivedOfType("paired").size(), 1u);

    phone.clearReceived();
    model->setShareFrontApp(false);
    EXPECT_TRUE(phone.receivedOfType("context").empty());
    model->setShareFrontApp(true);
    const auto context = phone.receivedOfType("context");
    ASSERT_EQ(context.size(), 1u);
    EXPECT_EQ(context[0]["app"], "Editor");
}

TEST_F(HelperModelTest, ConsoleTarget_DeviceCommands_ChangeStoreAndRefuseUnknownIds) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    const auto key = KeyPair::generate();
    const auto device = model->store().add(ByteView(key.publicKey().data(), 32), "Watch").value();
    model->store().setScreen(device.id, true);
    EXPECT_EQ(model->devices()[0].screen, "allowed");

    using Status = DeviceChange::Status;
    EXPECT_EQ(model->setScope(device.id, PairedDevice::Scope::presenter).status, Status::saved);
    EXPECT_EQ(model->devices()[0].scope, "presenter");
    EXPECT_EQ(model->resetScreen(device.id).status, Status::saved);
    EXPECT_EQ(model->devices()[0].screen, "undecided");
    EXPECT_EQ(model->setScope("0000000000000000", PairedDevice::Scope::full).status,
              Status::unknownDevice);
    EXPECT_EQ(model->resetScreen("0000000000000000").status, Status::unknownDevice);
    EXPECT_EQ(model->revoke("0000000000000000").status, Status::unknownDevice);
    EXPECT_EQ(model->revoke(device.id).status, Status::saved);
    EXPECT_TRUE(model->devices().empty());
}

TEST_F(HelperModelTest, Revoke_ReadOnlyDisk_PhoneRefusedWarningStaysUntilSavedAndRestartKeepsIt) {
    testing::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    testing::FakeStreamListenerFactory listeners(loop_);
    auto env = fakes_.environment(loop_, dir_, listeners);
    env.storeFolder = disk.path() / "store";
    auto model = std::make_unique<HelperModel>(env);
    std::vector<HelperModel::Change> changes;
    auto sub = model->subscribe([&](HelperModel::Change c) { changes.push_back(c); });
    const auto key = KeyPair::generate();
    const auto id = model->store().add(ByteView(key.publicKey().data(), 32), "Lost phone")->id;
    LoopbackPhone phone(model->core(), key);
    ASSERT_EQ(phone.connect()["t"], "welcome2");
    ASSERT_TRUE(disk.setReadOnly(true));

    const auto change = model->revoke(id);
    EXPECT_EQ(change.status, DeviceChange::Status::notSaved);
    EXPECT_NE(change.problem.find("Read-only file system"), std::string::npos) << change.problem;
    phone.send({{"t", "ping"}});
    EXPECT_TRUE(phone.ended());
    LoopbackPhone again(model->core(), key);
    EXPECT_EQ(again.connect()["msg"], "not paired");
    const auto warningShown = [&] {
        const auto lines = model->statusLines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("Warning: ", 0) == 0 && l.find("until the helper stops") != std::string::npos;
        });
    };
    loop_.advance(DeviceStore::longestSaveRetry * 2);
    EXPECT_TRUE(warningShown());
    EXPECT_FALSE(model->saveWarning().empty());

    ASSERT_TRUE(disk.setReadOnly(false));
    loop_.advance(DeviceStore::longestSaveRetry);
    EXPECT_FALSE(warningShown());
    EXPECT_TRUE(model->saveWarning().empty());
    EXPECT_EQ(std::count(changes.begin(), changes.end(), HelperModel::Change::saved), 1);

    sub.reset();
    model.reset();
    model = std::make_unique<HelperModel>(env);
    EXPECT_TRUE(model->devices().empty());
}

TEST_F(HelperModelTest, StartAtLogin_UmaskZero_FoldersNotWritableByOthers) {
    const auto config = dir_ / "config";
    Autostart autostart(config / "autostart", dir_ / "tamborix-helper");
    const auto old = ::umask(0);
    std::string error;
    const bool set = autostart.set(true, error);
    ::umask(old);
    ASSERT_TRUE(set) << error;
    for (const auto& folder : {config, config / "autostart"}) {
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 022, 0u) << folder;
    }
}

TEST_F(HelperModelTest, PairingURI_ListeningPort_LinkCarriesPortKeyCodeAndHostName) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    listeners.last()->boundPort = 40999;
    ASSERT_TRUE(listeners.reportState(StreamListener::State::ready));
    loop_.runPosted();
    const auto pairing = model->openPairing();
    EXPECT_EQ(pairing.code.size(), 12u);
    EXPECT_NE(pairing.link.find("&p=40999&"), std::string::npos) << pairing.link;
    const auto& pub = model->store().key().publicKey();
    EXPECT_NE(pairing.link.find("&k=" + Wire::b64url(ByteView(pub.data(), 32)) + "&"), std::string::npos);
    EXPECT_NE(pairing.link.find("&c=" + pairing.code + "&"), std::string::npos);
    EXPECT_TRUE(pairing.link.ends_with("&n=Ada%27s%20Laptop")) << pairing.link;
    EXPECT_TRUE(model->store().pairingOpen());
}

TEST_F(HelperModelTest, Switches_ShareBluetoothLogin_PersistAndRestartReadsThemBack) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    EXPECT_FALSE(model->startAtLogin());
    int switches = 0;
    auto sub = model->subscribe([&](HelperModel::Change c) {
        if (c == HelperModel::Change::switches) ++switches;
    });
    std::string error;
    model->setShareFrontApp(false);
    model->setBluetoothOn(false);
    EXPECT_TRUE(model->setStartAtLogin(true, error)) << error;
    EXPECT_EQ(switches, 3);
    const auto entry = dir_ / "autostart" / "io.tamborix.Helper.desktop";
    ASSERT_TRUE(std::filesystem::exists(entry));
    // The system's own validator accepts the entry, and its Exec line quotes the path with a space.
    const auto validate = "desktop-file-validate '" + entry.string() + "' 2>&1";
    FILE* pipe = ::popen(validate.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string complaints;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) complaints += buf;
    EXPECT_EQ(::pclose(pipe), 0) << complaints;
    EXPECT_EQ(complaints, "");
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\nExec=\"" + (dir_ / "my build" / "tamborix-helper").string() + "\"\n"),
              std::string::npos)
        << text;
    model.reset();

    testing::FakeStreamListenerFactory again(loop_);
    model = makeModel(again);
    EXPECT_FALSE(model->shareFrontApp());
    EXPECT_FALSE(model->core().shareFrontApp());
    EXPECT_FALSE(model->bluetoothOn());
    EXPECT_TRUE(model->startAtLogin());
    EXPECT_FALSE(model->setStartAtLogin(false, error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(std::filesystem::exists(entry));

    // A folder that cannot be created: the switch stays off and says why.
    std::filesystem::remove_all(dir_ / "autostart");
    { std::ofstream blocker(dir_ / "autostart"); }
    EXPECT_FALSE(model->setStartAtLogin(true, error));
    EXPECT_NE(error, "");
    EXPECT_FALSE(model->startAtLogin());
}

TEST_F(HelperModelTest, StatusLines_PairingAndPermission_WordedAsTheWindowAndWarningOnTwoLines) {
    fakes_.input.setMayPost(false, "no XTEST extension");
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    const auto has = [&](const std::string& line) {
        const auto lines = model->statusLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("This computer: " + model->identityFingerprint()));
    EXPECT_TRUE(has("Input \u2014 Needs permission to move the pointer and type."));
    EXPECT_TRUE(has("no XTEST extension"));
    EXPECT_TRUE(has("Pairing is closed."));

    // The screen lost later: said at the next poll, and gone when it is back.
    fakes_.capture.isAvailable = false;
    fakes_.capture.reason = "the X connection to :5 was lost";
    loop_.advance(2.0);
    EXPECT_TRUE(has("Screen capture is not available in this session: the X connection to :5 was lost"));
    fakes_.capture.isAvailable = true;
    loop_.advance(2.0);
    EXPECT_TRUE(model->screenCaptureReason().empty());

    // What the session cannot serve is said with its reason.
    fakes_.clipboard.unshared = "the clipboard cannot be shared on this desktop (no portal)";
    fakes_.windows.unavailable = "windows cannot be placed on this desktop (no shortcuts)";
    fakes_.overlay.unavailable = "nothing may be drawn above windows";
    EXPECT_TRUE(has("The clipboard cannot be shared on this desktop (no portal)"));
    EXPECT_TRUE(has("Windows cannot be placed on this desktop (no shortcuts)"));
    EXPECT_TRUE(has("The laser and the cursor finder cannot be shown on this desktop: nothing may be drawn above windows"));

    model->openPairing();
    EXPECT_TRUE(has("Expires in 2:00 \u00B7 works once"));
    EXPECT_EQ(*model->pairingTimeLeft(), std::chrono::seconds(120));
    loop_.advance(1.5);
    EXPECT_TRUE(has("Expires in 1:58 \u00B7 works once"));
    loop_.advance(118.5);
    EXPECT_TRUE(has("Expires in 0:00 \u00B7 works once"));
    loop_.advance(0.001);
    EXPECT_TRUE(has("Pairing is closed."));
    EXPECT_FALSE(model->pairingTimeLeft());

    model->openPairing();
    model->closePairing();
    EXPECT_TRUE(has("Pairing is closed."));
    EXPECT_FALSE(model->store().pairCode());
}

TEST_F(HelperModelTest, ConsoleLog_WrongCodesBluetoothAndStatus_OneTruthfulLineEach) {
    testing::FakeStreamListenerFactory listeners(loop_);
    auto model = makeModel(listeners);
    loop_.runPosted();
    std::vector<std::string> out;
    Console console(loop_, *model, [&](std::string_view l) { out.emplace_back(l); });
    ConsoleOutput output(*model, console);
    output.printStart({}, false);
    const auto count = [&](std::string_view prefix) {
        return std::count_if(out.begin(), out.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    };

    // The third wrong code closes pairing, and the log says so.
    (void)model->openPairing();
    for (int i = 0; i < 3; ++i) {
        LoopbackPhone phone(model->core(), KeyPair::generate());
        phone.connect(PhoneHandshake::Kind::pair, "Eve");
        phone.send({{"t", "pair"}, {"proof", Wire::b64url(Wire::pairProof("ABCDEFGHJKMN", phone.th()))}});
        loop_.runPosted();
    }
    EXPECT_EQ(count("Event: Wrong pairing code from Eve"), 3);
    EXPECT_EQ(count("Three wrong codes were entered, so pairing was closed. Type pair for a new code."), 1);

    // One state, one text.
    out.clear();
    console.inputLine("bluetooth off");
    loop_.runPosted();
    EXPECT_EQ(out, std::vector<std::string>{"Bluetooth \u2014 Off"});

    // status repeats the last event as such, not as a new event.
    out.clear();
    console.inputLine("status");
    EXPECT_EQ(count("Event:"), 0);
    EXPECT_EQ(count("Last event: Wrong pairing code from Eve"), 1);
}

}  // namespace
}  // namespace tamborix
