// Pairing inside a "pair2" session: the proof, the user's answer and what the phone receives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "core_harness.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

class Pairing : public ::testing::Test {
protected:
    Pairing() {
        h.core->setApprove([this](const std::string& name, const std::string& fingerprint,
                                  std::function<void(bool)> answer) {
            asked.push_back({name, fingerprint});
            pending.push_back(std::move(answer));
        });
    }

    json proofFor(const LoopbackPhone& phone, const std::string& code) {
        return {{"t", "pair"}, {"proof", Wire::b64url(Wire::pairProof(code, phone.th()))}};
    }
    void answer(bool approved) {
        ASSERT_FALSE(pending.empty());
        auto next = std::move(pending.front());
        pending.erase(pending.begin());
        next(approved);
        h.loop.runPosted();
    }
    static void expectError(const LoopbackPhone& phone, const SecureError& expected) {
        ASSERT_TRUE(phone.ended());
        try {
            std::rethrow_exception(phone.error());
        } catch (const SecureError& e) {
            EXPECT_EQ(e, expected) << e.what();
        }
    }

    CoreHarness h;
    std::vector<std::pair<std::string, std::string>> asked;
    std::vector<std::function<void(bool)>> pending;
};

TEST_F(Pairing, RightProof_Approved_StoresAndSendsPairedContextDisplays) {
    h.workspace.running = {{.handle = 9, .appId = "gedit.desktop", .name = "Text Editor"}};
    h.workspace.front = 9;
    h.core->startWatchingFrontApp();
    const auto code = h.store.openPairing();
    auto phone = h.pairingPhone("Pixel 9");
    // Typed in lower case with separators: both sides normalise.
    std::string typed;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (i == 4 || i == 8) typed += '-';
        typed += static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
    }
    phone->send(proofFor(*phone, typed));
    h.loop.runPosted();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, "Pixel 9");
    EXPECT_EQ(asked[0].second, Wire::fingerprint(phone->device().publicKey()));
    EXPECT_FALSE(h.store.pairingOpen());  // used up while the prompt is open
    EXPECT_TRUE(phone->waiting());

    answer(true);
    const auto id = Wire::deviceID(phone->device().publicKey());
    ASSERT_TRUE(h.store.deviceById(id).has_value());
    EXPECT_EQ(h.store.deviceById(id)->scope, PairedDevice::Scope::full);
    ASSERT_EQ(phone->received().size(), 3u);
    EXPECT_EQ(phone->received()[0],
              (json{{"t", "paired"}, {"id", id}, {"host", "Test Box"}, {"os", "linux"}, {"v", 2}}));
    EXPECT_EQ(phone->received()[1]["t"], "context");
    EXPECT_EQ(phone->received()[2]["t"], "displays");
    EXPECT_EQ(h.lastEvent(), "Paired Pixel 9");
    EXPECT_EQ(h.core->liveCount(), 1u);
    EXPECT_EQ(h.core->active().begin()->second, "Pixel 9 (Network)");
    EXPECT_EQ(h.activity.held(), 1);

    // From now on its frames are commands.
    phone->send({{"t", "find_cursor"}});
    EXPECT_EQ(h.lastLog(), "find_cursor");
}

TEST_F(Pairing, RightProof_Refused_ExactDeniedAndCodeUsedUp) {
    const auto code = h.store.openPairing();
    auto phone = h.pairingPhone("Tablet");
    phone->send(proofFor(*phone, code));
    h.loop.runPosted();
    answer(false);
    ASSERT_EQ(phone->receivedTexts().size(), 1u);
    EXPECT_EQ(phone->receivedTexts()[0], R"({"t":"denied"})");
    EXPECT_TRUE(h.store.devices().empty());
    EXPECT_EQ(h.lastEvent(), "Denied Tablet");
    EXPECT_FALSE(phone->ended());
    phone->send(proofFor(*phone, code));
    h.loop.runPosted();
    expectError(*phone, SecureError::authentication());
    EXPECT_EQ(h.lastEvent(), "Wrong pairing code from Tablet");
}

TEST_F(Pairing, NoApproveCallback_RefusedByDefault) {
    CoreHarness bare;
    const auto code = bare.store.openPairing();
    auto phone = bare.pairingPhone("Phone");
    phone->send(proofFor(*phone, code));
    bare.loop.runPosted();
    ASSERT_EQ(phone->receivedTexts().size(), 1u);
    EXPECT_EQ(phone->receivedTexts()[0], R"({"t":"denied"})");
    EXPECT_TRUE(bare.store.devices().empty());
}

TEST_F(Pairing, ApprovalAnsweredAtOnce_FrameCompletesOnLaterLoopTurn) {
    CoreHarness quick;
    quick.core->setApprove([](const std::string&, const std::string&,
                              std::function<void(bool)> answer) { answer(true); });
    const auto code = quick.store.openPairing();
    auto phone = quick.pairingPhone("Quick");
    bool completed = false;
    quick.core->onFrame(phone->conn(), phone->seal(proofFor(*phone, code).dump()),
                        [&](std::exception_ptr error, std::vector<Bytes> frames) {
                            EXPECT_FALSE(error);
                            EXPECT_TRUE(frames.empty());
                            completed = true;
                        });
    // The transport is not re-entered from inside its own call.
    EXPECT_FALSE(completed);
    EXPECT_TRUE(phone->conn()->authenticated());
    quick.loop.runPosted();
    EXPECT_TRUE(completed);
}

TEST_F(Pairing, WrongProofs_ThirdClosesCode) {
    const auto code = h.store.openPairing();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(h.store.pairingOpen()) << i;
        auto phone = h.pairingPhone("Guess");
        phone->send({{"t", "pair"}, {"proof", i == 0 ? json("!!") : json(Wire::b64url(Bytes(32, 1)))}});
        h.loop.runPosted();
        expectError(*phone, SecureError::authentication());
        EXPECT_EQ(h.lastEvent(), "Wrong pairing code from Guess");
    }
    EXPECT_FALSE(h.store.pairingOpen());
    EXPECT_TRUE(asked.empty());
}

TEST_F(Pairing, TwoPhones_FirstRightProofUsesUpCode) {
    const auto code = h.store.openPairing();
    auto first = h.pairingPhone("First");
    auto second = h.pairingPhone("Second");
    first->send(proofFor(*first, code));
    second->send(proofFor(*second, code));
    h.loop.runPosted();
    expectError(*second, SecureError::authentication());
    ASSERT_EQ(asked.size(), 1u);
    answer(true);
    EXPECT_EQ(first->receivedOfType("paired").size(), 1u);
}

TEST_F(Pairing, NotAProof_MalformedWithoutCountingAttempt) {
    h.store.openPairing();
    auto phone = h.pairingPhone("Phone");
    phone->send({{"t", "hello2"}, {"proof", "x"}});
    h.loop.runPosted();
    expectError(*phone, SecureError::malformed("expected pairing proof"));
    EXPECT_EQ(h.store.pairAttempts(), 0);
    auto arrays = h.pairingPhone("Phone");
    arrays->send(json::array({{{"t", "pair"}}}));
    h.loop.runPosted();
    expectError(*arrays, SecureError::malformed("plaintext"));
}

TEST_F(Pairing, AlreadyStoredKey_ReplacedWithSameId) {
    auto key = KeyPair::generate();
    const auto old = h.pair(key, "Old Name", PairedDevice::Scope::presenter);
    const auto code = h.store.openPairing();
    LoopbackPhone phone(*h.core, key);
    ASSERT_EQ(phone.connect(PhoneHandshake::Kind::pair, "New Name")["t"], "welcome2");
    phone.send(proofFor(phone, code));
    h.loop.runPosted();
    answer(true);
    ASSERT_EQ(phone.receivedOfType("paired").size(), 1u);
    EXPECT_EQ(phone.receivedOfType("paired")[0]["id"], old.id);
    ASSERT_EQ(h.store.devices().size(), 1u);
    EXPECT_EQ(h.store.devices()[0].scope, PairedDevice::Scope::full);
    EXPECT_EQ(h.store.devices()[0].name, "New Name");
}

TEST_F(Pairing, PhoneLeftDuringPrompt_DeviceStoredButNotRegistered) {
    CoreHarness live(false);
    std::function<void(bool)> later;
    live.core->setApprove([&](const std::string&, const std::string&, std::function<void(bool)> a) {
        later = std::move(a);
    });
    auto other = live.phone("Other");
    other->send({{"t", "down"}, {"b", "left"}});
    const auto code = live.store.openPairing();
    auto phone = live.pairingPhone("Leaver");
    phone->send(proofFor(*phone, code));
    live.loop.runPosted();
    ASSERT_TRUE(later);
    phone->close();
    EXPECT_TRUE(live.core->injector().held().empty());
    other->close();
    EXPECT_EQ(live.activity.held(), 0);

    later(true);
    live.loop.runPosted();
    EXPECT_TRUE(live.store.device(phone->device().publicKey()).has_value());
    EXPECT_EQ(live.lastEvent(), "Paired Leaver");
    EXPECT_EQ(live.core->liveCount(), 0u);
    EXPECT_TRUE(live.core->active().empty());
    EXPECT_EQ(live.activity.held(), 0);
    EXPECT_TRUE(phone->received().empty());
}

TEST_F(Pairing, NameWithLineBreaksEscapesAndOverrides_CleanedWherePromptedStoredAndShown) {
    // A name built to forge console lines, drive the terminal and reverse the text around it.
    const std::string hostile =
        "Eve\nAllowed.\r\nEvent: Paired Bob\x1b[2J\xc2\x9b" "31m\xe2\x80\xae" "evil\xe2\x81\xa6";
    const std::string clean = "Eve\uFFFDAllowed.\uFFFD\uFFFDEvent: Paired Bob\uFFFD[2J\uFFFD"
                              "31m\uFFFDevil\uFFFD";
    const auto code = h.store.openPairing();
    auto phone = h.pairingPhone(hostile);
    phone->send(proofFor(*phone, code));
    h.loop.runPosted();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, clean);
    answer(true);
    ASSERT_EQ(h.store.devices().size(), 1u);
    EXPECT_EQ(h.store.devices()[0].name, clean);
    EXPECT_EQ(h.lastEvent(), "Paired " + clean);
    EXPECT_EQ(h.core->active().begin()->second, clean + " (Network)");

    // An emoji sequence with joiners and a right-to-left name without overrides stay whole.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467 \u05E9\u05DC\u05D5\u05DD";
    h.store.openPairing();
    auto second = h.pairingPhone(family);
    second->send(proofFor(*second, *h.store.pairCode()));
    h.loop.runPosted();
    answer(true);
    EXPECT_EQ(h.store.devices().back().name, family);
}

TEST_F(Pairing, ApprovedButDeviceCannotBeStored_NotPairedConnectionEndsEventSaysWhy) {
    const auto code = h.store.openPairing();
    auto phone = h.pairingPhone("Pixel");
    phone->send(proofFor(*phone, code));
    h.loop.runPosted();
    std::filesystem::create_directories(h.folder.path() / "devices.json.tmp" / "x");
    answer(true);
    EXPECT_TRUE(h.store.devices().empty());
    EXPECT_TRUE(phone->receivedOfType("paired").empty());
    EXPECT_TRUE(phone->ended());
    EXPECT_EQ(h.core->liveCount(), 0u);
    EXPECT_TRUE(h.lastEvent().starts_with("Could not pair Pixel: Could not save the paired devices"))
        << h.lastEvent();
}

TEST_F(Pairing, ProofAfterExpiry_FailsAndClearsCode) {
    const auto code = h.store.openPairing();
    auto phone = h.pairingPhone("Slow");
    h.loop.advance(121.0);
    phone->send(proofFor(*phone, code));
    h.loop.runPosted();
    expectError(*phone, SecureError::authentication());
    EXPECT_FALSE(h.store.pairCode().has_value());
}

}  // namespace
}  // namespace tamborix::testing
