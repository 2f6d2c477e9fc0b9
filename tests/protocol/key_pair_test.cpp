#include <gtest/gtest.h>

#include "hex.h"
#include "protocol/key_pair.h"
#include "protocol/secure_error.h"
#include "testing/fixed_random.h"

namespace tamborix {
namespace {

void expectInvalidKey(const KeyPair& pair, const Bytes& peer) {
    try {
        (void)pair.dh(peer);
        ADD_FAILURE() << "dh accepted " << testing::toHex(peer);
    } catch (const SecureError& e) {
        EXPECT_EQ(e, SecureError::invalidKey());
    }
}

TEST(KeyPairDh, WrongLength_RefusedAsInvalidKey) {
    const KeyPair pair = KeyPair::generate();
    const auto& pub = pair.publicKey();
    expectInvalidKey(pair, Bytes(pub.begin(), pub.begin() + 31));
    Bytes longer(pub.begin(), pub.end());
    longer.push_back(0);
    expectInvalidKey(pair, longer);
    expectInvalidKey(pair, {});
}

TEST(KeyPairDh, LowOrderPoints_RefusedAsInvalidKey) {
    const KeyPair pair = KeyPair::generate();
    expectInvalidKey(pair, Bytes(32, 0));
    // u = 1 and the other small-order points of Curve25519 also give an all-zero secret.
    Bytes one(32, 0);
    one[0] = 1;
    expectInvalidKey(pair, one);
    expectInvalidKey(
        pair, testing::fromHex("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800"));
}

TEST(KeyPairDh, TwoPairs_AgreeOnTheSecret) {
    testing::FixedRandom rng(11);
    for (int i = 0; i < 8; ++i) {
        const KeyPair a = KeyPair::generate(rng);
        const KeyPair b = KeyPair::generate(rng);
        EXPECT_EQ(a.dh(b.publicKey()), b.dh(a.publicKey()));
        EXPECT_NE(a.publicKey(), b.publicKey());
    }
}

TEST(KeyPairFromRaw, Lengths_Only32BytesMakeAKey) {
    EXPECT_FALSE(KeyPair::fromRaw(Bytes(31, 7)));
    EXPECT_FALSE(KeyPair::fromRaw(Bytes(33, 7)));
    EXPECT_FALSE(KeyPair::fromRaw({}));
    const auto pair = KeyPair::fromRaw(Bytes(32, 7));
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->rawPrivate(), KeyPair::fromRaw(Bytes(32, 7))->rawPrivate());
    EXPECT_EQ(pair->publicKey(), KeyPair::fromRaw(Bytes(32, 7))->publicKey());
    // A raw key read back gives the same public key as the generated one.
    const KeyPair generated = KeyPair::generate();
    const auto restored = KeyPair::fromRaw(generated.rawPrivate());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->publicKey(), generated.publicKey());
}

}  // namespace
}  // namespace tamborix
