#include "app/console.h"
#include "app/console_input.h"

#include <gtest/gtest.h>

#include <optional>

#include "testing/manual_loop.h"

namespace tamborix {
namespace {

class FakeTarget final : public ConsoleTarget {
public:
    Pairing openPairing() override {
        ++pairings;
        return {"ABCDEFGHJKMN", "velmorand://pair?v=2&p=50505&c=ABCDEFGHJKMN", {}};
    }
    std::vector<ConsoleDevice> devices() const override { return list; }
    DeviceChange setScope(const std::string& id, PairedDevice::Scope scope) override {
        for (auto& d : list) {
            if (d.id != id) continue;
            d.scope = scope == PairedDevice::Scope::full ? "full" : "presenter";
            return outcome();
        }
        return {};
    }
    DeviceChange resetScreen(const std::string& id) override {
        for (auto& d : list) {
            if (d.id != id) continue;
            d.screen = "undecided";
            return outcome();
        }
        return {};
    }
    DeviceChange revoke(const std::string& id) override {
        const auto before = list.size();
        std::erase_if(list, [&](const ConsoleDevice& d) { return d.id == id; });
        return list.size() != before ? outcome() : DeviceChange{};
    }
    DeviceChange outcome() const {
        if (saveProblem.empty()) return {DeviceChange::Status::saved, {}};
        return {DeviceChange::Status::notSaved, saveProblem};
    }
    std::vector<std::string> statusLines() override { return {"Network — On (port 1)"}; }
    void closePairing() override { left.reset(); }
    std::optional<Duration> pairingTimeLeft() override { return left; }
    std::string identityFingerprint() const override { return "AAAA-BBBB-CCCC-DDDD"; }
    void setNetworkOn(bool on) override { network.push_back(on); }
    void setShareFrontApp(bool on) override { share.push_back(on); }
    void setBluetoothOn(bool on) override { bluetooth.push_back(on); }
    bool setStartAtLogin(bool on, std::string& error) override {
        error = loginError;
        if (loginError.empty()) login = on;
        return login;
    }
    void quit() override { ++quits; }
    std::vector<bool> network;
    std::vector<bool> share;
    std::vector<bool> bluetooth;
    bool login = false;
    std::string loginError;
    std::string saveProblem;  // set: changes take effect but are not written
    std::optional<Duration> left = std::chrono::milliseconds(119'400);

    std::vector<ConsoleDevice> list = {
        {"0123456789abcdef", "full", "allowed", "Ada's Phone"},
        {"fedcba9876543210", "presenter", "undecided", "Watch"},
    };
    int pairings = 0;
    int quits = 0;
};

class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest() : console_(loop_, target_, [this](std::string_view l) { out_.emplace_back(l); }) {}

    std::vector<std::string> take() { return std::exchange(out_, {}); }

    testing::ManualLoop loop_;
    FakeTarget target_;
    std::vector<std::string> out_;
    Console console_;
};

TEST_F(ConsoleTest, Devices_TwoPaired_OneLinePerDeviceInStoreOrder) {
    console_.inputLine("devices");
    EXPECT_EQ(take(), (std::vector<std::string>{"0123456789abcdef full allowed Ada's Phone",
                                                 "fedcba9876543210 presenter undecided Watch"}));
    target_.list.clear();
    console_.inputLine("  devices  ");
    EXPECT_EQ(take(), (std::vector<std::string>{"No paired devices."}));
}

TEST_F(ConsoleTest, Pair_OpensCode_PrintsDisplayFormLinkAndQr) {
    console_.inputLine("pair");
    EXPECT_EQ(target_.pairings, 1);
    const auto lines = take();
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ(lines[0], "Pairing code: ABCD-EFGH-JKMN");
    EXPECT_EQ(lines[1], "Pairing link: velmorand://pair?v=2&p=50505&c=ABCDEFGHJKMN");
    EXPECT_NE(lines[2].find("\u2588"), std::string::npos);
}

TEST_F(ConsoleTest, Pair_ExpiryAndThisComputer_ThenCancelClosesIt) {
    console_.inputLine("pair");
    auto lines = take();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Expires in 1:59 \u00B7 works once");
    EXPECT_EQ(lines.back(), "This computer: AAAA-BBBB-CCCC-DDDD");
    console_.inputLine("pair CANCEL");
    EXPECT_EQ(take(), (std::vector<std::string>{"Pairing is closed."}));
    EXPECT_FALSE(target_.left.has_value());
    EXPECT_EQ(pairingExpiryText(std::chrono::seconds(-3)), "Expires in 0:00 \u00B7 works once");
    EXPECT_EQ(pairingExpiryText(std::chrono::seconds(120)), "Expires in 2:00 \u00B7 works once");
}

TEST_F(ConsoleTest, Switches_ShareBluetoothLogin_ReachTargetAndSayTheRealState) {
    console_.inputLine("share off");
    console_.inputLine("bluetooth OFF");
    console_.inputLine("login on");
    // The Bluetooth status line the model prints says what that switch did; no second text.
    EXPECT_EQ(take(), (std::vector<std::string>{"Front-app sharing: off", "Start at login: on"}));
    EXPECT_EQ(target_.share, std::vector<bool>{false});
    EXPECT_EQ(target_.bluetooth, std::vector<bool>{false});
    target_.loginError = "Read-only file system";
    console_.inputLine("login off");
    EXPECT_EQ(take(), (std::vector<std::string>{
                          "Start at login could not be changed: Read-only file system",
                          "Start at login: on"}));
    for (const char* bad : {"share", "share maybe", "login", "bluetooth on off"}) {
        console_.inputLine(bad);
        EXPECT_EQ(take().size(), 1u) << bad;
    }
    EXPECT_EQ(target_.share.size(), 1u);
}

TEST_F(ConsoleTest, DeviceCommands_KnownAndUnknownIds_ActOrSayNoSuchDevice) {
    console_.inputLine("scope fedcba9876543210 FULL");
    EXPECT_EQ(target_.list[1].scope, "full");
    console_.inputLine("screen 0123456789abcdef reset");
    EXPECT_EQ(target_.list[0].screen, "undecided");
    take();

    console_.inputLine("scope 1111111111111111 full");
    console_.inputLine("screen 1111111111111111 reset");
    console_.inputLine("revoke 1111111111111111");
    const auto errors = take();
    ASSERT_EQ(errors.size(), 3u);
    for (const auto& l : errors) EXPECT_NE(l.find("1111111111111111"), std::string::npos) << l;
    EXPECT_EQ(target_.list.size(), 2u);

    console_.inputLine("revoke 0123456789abcdef");
    EXPECT_EQ(target_.list.size(), 1u);
    EXPECT_EQ(take().size(), 1u);
}

TEST_F(ConsoleTest, DeviceCommands_NotSaved_SayWhyAndThatTheyHoldOnlyForThisRun) {
    target_.saveProblem = "Could not save the paired devices to /d/devices.json (No space left)";
    console_.inputLine("revoke 0123456789abcdef");
    console_.inputLine("scope fedcba9876543210 full");
    const auto lines = take();
    for (const auto& l : lines) {
        EXPECT_NE(l.rfind("Revoked", 0), 0u) << l;
        EXPECT_NE(l.rfind("Scope of", 0), 0u) << l;
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Not saved yet: " + target_.saveProblem);
    EXPECT_NE(lines[1].find("revoked"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("until the helper stops"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], lines[0]);
    EXPECT_NE(lines[3].find("is full until the helper stops"), std::string::npos) << lines[3];
}

TEST_F(ConsoleTest, BadInput_UnknownCommandOrWrongArguments_OneLineEachNothingChanges) {
    for (const char* line : {"frobnicate", "scope 0123456789abcdef admin", "scope x", "screen x allow",
                             "revoke", "pair now", "pair cancel now", "network", "network maybe", "bluetooth up"}) {
        console_.inputLine(line);
        EXPECT_EQ(take().size(), 1u) << line;
    }
    EXPECT_EQ(target_.pairings, 0);
    EXPECT_EQ(target_.list[0].scope, "full");
    EXPECT_TRUE(target_.network.empty());
    console_.inputLine("network OFF");
    console_.inputLine("network on");
    EXPECT_EQ(target_.network, (std::vector<bool>{false, true}));
    console_.inputLine("");
    EXPECT_TRUE(take().empty());
    console_.inputLine("quit");
    EXPECT_EQ(target_.quits, 1);
}

TEST_F(ConsoleTest, AskApproval_Answers_YesInAnyCaseAllowsAnythingElseDenies) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"y", true}, {"YES", true}, {" Yes ", true}, {"n", false}, {"", false}, {"yess", false},
        {"devices", false}};
    for (const auto& [input, expected] : cases) {
        std::optional<bool> answer;
        console_.askApproval("Ada's Phone", "AAAA-BBBB-CCCC-DDDD",
                             [&](Approval a) { answer = a == Approval::allowed; });
        const auto prompt = take();
        ASSERT_EQ(prompt.size(), 5u);
        EXPECT_EQ(prompt[0], "Allow \u201CAda's Phone\u201D to control this computer?");
        EXPECT_EQ(prompt[1], "It will be able to move the pointer, click and type.");
        EXPECT_EQ(prompt[2], "Device key: AAAA-BBBB-CCCC-DDDD");
        EXPECT_EQ(prompt[3], "Only allow devices you own and are pairing right now.");
        EXPECT_TRUE(prompt[4].ends_with("[y/N]"));
        console_.inputLine(input);
        ASSERT_TRUE(answer.has_value()) << input;
        EXPECT_EQ(*answer, expected) << input;
        take();
    }
    // A command typed as an answer is not run.
    EXPECT_EQ(target_.list.size(), 2u);
    EXPECT_EQ(loop_.pendingTimers(), 0u);
}

TEST_F(ConsoleTest, AskApproval_NoAnswerFor60Seconds_Denies) {
    std::optional<bool> answer;
    console_.askApproval("Phone", "FP", [&](Approval a) { answer = a == Approval::allowed; });
    loop_.advance(59.9);
    EXPECT_FALSE(answer.has_value());
    loop_.advance(0.2);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(*answer);
    // The next line is a command again.
    take();
    console_.inputLine("devices");
    EXPECT_EQ(take().size(), 2u);
}

TEST_F(ConsoleTest, AskScreenApproval_NoTimeoutAndQueuedBehindPairingPrompt) {
    std::optional<bool> pairing;
    std::optional<bool> screen;
    console_.askApproval("Phone", "FP", [&](Approval a) { pairing = a == Approval::allowed; });
    console_.askScreenApproval("Phone", [&](Approval a) { screen = a == Approval::allowed; });
    EXPECT_EQ(take().size(), 5u);  // only the first prompt is shown
    console_.inputLine("yes");
    EXPECT_EQ(pairing, true);
    const auto shown = take();
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown[1], "Allow \u201CPhone\u201D to see your screen?");
    EXPECT_EQ(shown[2],
              "It will see whatever is on the monitor it's showing, while Live screen is open on "
              "it. You can change this later in Tamborix Helper \u2192 Paired devices.");
    EXPECT_TRUE(shown.back().ends_with("[y/N]"));
    loop_.advance(3600.0);
    EXPECT_FALSE(screen.has_value());
    console_.inputLine("Y");
    EXPECT_EQ(screen, true);
}

TEST_F(ConsoleTest, AskApproval_QueuedBehindScreenPrompt_TimeRunsOnlyOnceShown) {
    std::optional<bool> first;
    std::optional<Approval> second;
    console_.askScreenApproval("A", [&](Approval a) { first = a == Approval::allowed; });
    console_.askApproval("B", "FP", [&](Approval a) { second = a; });
    take();
    loop_.advance(600.0);
    EXPECT_FALSE(second.has_value()) << "refused without ever being shown";
    console_.inputLine("y");
    EXPECT_EQ(first, true);
    const auto shown = take();
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown.back().find("The next line you type answers"), std::string::npos);
    loop_.advance(59.0);
    EXPECT_FALSE(second.has_value());
    loop_.advance(1.5);
    EXPECT_EQ(second, Approval::unanswered);
    EXPECT_EQ(console_.waitingPrompts(), 0u);
}

TEST_F(ConsoleTest, InputClosed_WaitingAndLaterPrompts_AnswerNo) {
    std::optional<bool> waiting;
    console_.askApproval("A", "FP", [&](Approval a) { waiting = a == Approval::allowed; });
    console_.inputClosed();
    EXPECT_EQ(waiting, false);

    std::optional<bool> later;
    console_.askScreenApproval("B", [&](Approval a) { later = a == Approval::allowed; });
    EXPECT_FALSE(later.has_value());  // answered from the loop, not inside the call
    loop_.runPosted();
    EXPECT_EQ(later, false);
    EXPECT_EQ(loop_.pendingTimers(), 0u);
}

TEST_F(ConsoleTest, AnswerCallback_AsksAgainFromInside_NextPromptShown) {
    int asked = 0;
    ApprovalPrompter::Answer again = [&](Approval) {
        if (++asked < 3) console_.askScreenApproval("X", again);
    };
    console_.askScreenApproval("X", again);
    console_.inputLine("n");
    console_.inputLine("n");
    console_.inputLine("n");
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(console_.waitingPrompts(), 0u);
}

TEST_F(ConsoleTest, UnknownCommandAndId_ControlBytesAndBadUtf8_EchoedEscaped) {
    console_.inputLine(std::string("\x1B]0;pwned\x07\x9B" "31m\0x\xFF\xC2\x9B", 19));
    console_.inputLine("revoke \x1B[2J");
    const auto lines = take();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& l : lines) {
        for (const unsigned char c : l) EXPECT_GE(c, 0x20) << l;
        EXPECT_EQ(l.find("\xFF"), std::string::npos);
    }
    EXPECT_EQ(lines[0], "Unknown command: \\x1B]0;pwned\\x07\\x9B31m\\x00x\\xFF\\xC2\\x9B (try help)");
    EXPECT_EQ(lines[1], "No paired device with id \\x1B[2J (see devices)");
}

TEST(ConsoleLineCutterTest, Feed_HugeLineInPieces_DroppedOnceAndNextLinesServed) {
    std::vector<std::string> lines;
    int tooLong = 0;
    ConsoleLineCutter cutter([&](std::string_view l) { lines.emplace_back(l); }, [&] { ++tooLong; });
    const std::string piece(4096, 'a');
    cutter.feed("status\r\nhe");
    for (int i = 0; i < 16 * 1024; ++i) cutter.feed(piece);  // 64 MiB without a line end
    cutter.feed("\n" + std::string(ConsoleLineCutter::maxLine, 'b') + "\nquit");
    cutter.finish();
    EXPECT_EQ(tooLong, 1);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "status");
    EXPECT_EQ(lines[1].size(), ConsoleLineCutter::maxLine);
    EXPECT_EQ(lines[2], "quit");
}

TEST(KnockNoticesTest, Knocked_AFloodOfStarts_FirstToldAtOnceThenOneCountPerQuietPeriod) {
    testing::ManualLoop loop;
    std::vector<std::string> out;
    KnockNotices knocks(loop, [&](std::size_t n, bool first) { out.push_back(knockNoticeText(n, first)); });
    for (int i = 0; i < 100'000; ++i) knocks.knocked(2);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "Started again: this helper keeps running.");
    loop.advance(KnockNotices::quietPeriod);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1], "Started again 199999 more times: this helper keeps running.");
    // Quiet for a whole period: the next start is told at once again.
    loop.advance(KnockNotices::quietPeriod);
    knocks.knocked(1);
    EXPECT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "Started again: this helper keeps running.");
}

}  // namespace
}  // namespace tamborix
