#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/wire.h"
#include "store/device_store.h"
#include "store_test_support.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

class PairingTest : public ::testing::Test {
protected:
    PairingTest() : store(loop, folder.path(), random) {}

    Bytes proof(const std::string& code) const { return Wire::pairProof(code, th); }

    ManualLoop loop;
    TempFolder folder;
    ScriptedRandom random{{0, 30, 7, 31, 12, 5, 29, 1, 2, 3, 4, 62, 9}};
    DeviceStore store;
    Bytes th = Bytes(32, 0x5A);
};

TEST_F(PairingTest, OpenPairing_DrawsTwelveUnbiasedCharactersValidForTwoMinutes) {
    const auto code = store.openPairing();
    EXPECT_EQ(random.bounds, std::vector<std::uint32_t>(12, 31u));
    // Each character is the alphabet entry of its draw.
    EXPECT_EQ(code, "A9HAPF8BCDEA");
    EXPECT_EQ(store.pairCode(), code);
    EXPECT_EQ(store.pairExpires(), loop.now() + std::chrono::seconds(120));
    EXPECT_EQ(store.pairAttempts(), 0);
    EXPECT_TRUE(store.pairingOpen());
}

TEST(PairingCode, OpenPairing_SystemRandom_UsesOnlyTheAlphabet) {
    ManualLoop loop;
    TempFolder folder;
    DeviceStore store(loop, folder.path());
    for (int i = 0; i < 50; ++i) {
        const auto code = store.openPairing();
        ASSERT_EQ(code.size(), 12u);
        for (char ch : code) ASSERT_NE(Wire::pairAlphabet.find(ch), std::string_view::npos) << code;
    }
}

TEST_F(PairingTest, PairingOpen_At120SecondsOpenAt121Closed) {
    int changes = 0;
    auto sub = store.subscribe([&](DeviceStore::Change c) {
        if (c == DeviceStore::Change::pairing) ++changes;
    });
    const auto code = store.openPairing();
    loop.advance(120.0);
    EXPECT_TRUE(store.pairingOpen());
    EXPECT_EQ(store.pairCode(), code);
    loop.advance(1.0);
    EXPECT_FALSE(store.pairingOpen());
    EXPECT_FALSE(store.pairCode());
    EXPECT_FALSE(store.pairExpires());
    EXPECT_EQ(changes, 2) << "opening and the lazy close are both published";
}

TEST_F(PairingTest, CheckPairProof_RightProofAfterExpiry_FailsWithoutCounting) {
    const auto code = store.openPairing();
    loop.advance(121.0);
    EXPECT_FALSE(store.checkPairProof(proof(code), th));
    EXPECT_FALSE(store.pairCode());
    EXPECT_EQ(store.pairAttempts(), 0);
}

TEST_F(PairingTest, CheckPairProof_RightProof_AcceptedOnceAndClosesCode) {
    const auto code = store.openPairing();
    EXPECT_TRUE(store.checkPairProof(proof(code), th));
    EXPECT_FALSE(store.pairingOpen());
    EXPECT_FALSE(store.checkPairProof(proof(code), th)) << "one successful pairing per code";
}

TEST_F(PairingTest, CheckPairProof_CodeTypedLowerCaseWithSeparators_Accepted) {
    auto code = store.openPairing();
    std::string typed;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (i > 0 && i % 4 == 0) typed += '-';
        typed += static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
    }
    EXPECT_TRUE(store.checkPairProof(proof(typed), th));
}

TEST_F(PairingTest, CheckPairProof_ThreeWrongProofs_CloseCodeEvenForRightProof) {
    const auto code = store.openPairing();
    EXPECT_FALSE(store.checkPairProof(proof("WRONGCODE234"), th));
    EXPECT_FALSE(store.checkPairProof(Bytes{}, th));
    EXPECT_TRUE(store.pairingOpen());
    EXPECT_EQ(store.pairAttempts(), 2);
    auto truncated = proof(code);
    truncated.pop_back();
    EXPECT_FALSE(store.checkPairProof(truncated, th)) << "a prefix of the right proof is wrong";
    EXPECT_EQ(store.pairAttempts(), 3);
    EXPECT_FALSE(store.pairingOpen());
    EXPECT_FALSE(store.checkPairProof(proof(code), th));
    EXPECT_EQ(store.pairAttempts(), 3) << "no counting while closed";
}

TEST_F(PairingTest, CheckPairProof_ProofForAnotherSession_Wrong) {
    const auto code = store.openPairing();
    EXPECT_FALSE(store.checkPairProof(Wire::pairProof(code, Bytes(32, 0x5B)), th));
    EXPECT_EQ(store.pairAttempts(), 1);
}

TEST_F(PairingTest, OpenPairing_NewCode_ResetsCountAndRetiresOldCode) {
    const auto first = store.openPairing();
    EXPECT_FALSE(store.checkPairProof(proof("WRONGCODE234"), th));
    EXPECT_FALSE(store.checkPairProof(proof("WRONGCODE234"), th));
    const auto second = store.openPairing();
    ASSERT_NE(first, second);
    EXPECT_EQ(store.pairAttempts(), 0);
    EXPECT_FALSE(store.checkPairProof(proof(first), th)) << "the replaced code stops at once";
    EXPECT_FALSE(store.checkPairProof(proof("WRONGCODE234"), th));
    EXPECT_TRUE(store.pairingOpen()) << "two wrong proofs for this code so far";
    EXPECT_TRUE(store.checkPairProof(proof(second), th));
}

TEST_F(PairingTest, CheckPairProof_NoCodeOpened_FailsWithoutCounting) {
    EXPECT_FALSE(store.checkPairProof(proof("ABCDEFGHJKMN"), th));
    EXPECT_EQ(store.pairAttempts(), 0);
    EXPECT_FALSE(store.pairingOpen());
}

}  // namespace
}  // namespace tamborix::testing
