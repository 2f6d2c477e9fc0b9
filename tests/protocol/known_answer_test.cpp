// Published test vectors for every primitive the channel is built from.
#include <gtest/gtest.h>

#include "hex.h"
#include "protocol/aead.h"
#include "protocol/key_pair.h"
#include "protocol/wire.h"

namespace tamborix {
namespace {

using testing::fromHex;
using testing::range;
using testing::toHex;

struct ScalarMultVector {
    const char* scalar;
    const char* u;
    const char* out;
};

// RFC 7748 section 5.2.
const ScalarMultVector x25519Vectors[] = {
    {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
     "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
     "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
    {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
     "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
     "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
};

TEST(KnownAnswer, X25519ScalarMult_Rfc7748Vectors_MatchOutput) {
    for (const auto& v : x25519Vectors) {
        const auto pair = KeyPair::fromRaw(fromHex(v.scalar));
        ASSERT_TRUE(pair);
        EXPECT_EQ(toHex(pair->dh(fromHex(v.u))), v.out) << v.scalar;
    }
}

// RFC 7748 section 5.2, the iterated test: k and u start as 9, then (k, u) = (X25519(k, u), k).
TEST(KnownAnswer, X25519Iterated_Rfc7748OneAndThousandRounds_MatchOutput) {
    Bytes k(32, 0);
    k[0] = 9;
    Bytes u = k;
    for (int round = 1; round <= 1000; ++round) {
        const auto pair = KeyPair::fromRaw(k);
        ASSERT_TRUE(pair);
        const auto out = pair->dh(u);
        u = std::move(k);
        k.assign(out.begin(), out.end());
        if (round == 1) {
            EXPECT_EQ(toHex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
        }
    }
    EXPECT_EQ(toHex(k), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

// RFC 7748 section 6.1.
TEST(KnownAnswer, X25519DiffieHellman_AliceAndBob_DerivePublishedKeysAndSecret) {
    const auto alice =
        KeyPair::fromRaw(fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    const auto bob =
        KeyPair::fromRaw(fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
    ASSERT_TRUE(alice && bob);
    EXPECT_EQ(toHex(alice->publicKey()),
              "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(toHex(bob->publicKey()),
              "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(toHex(alice->dh(bob->publicKey())), shared);
    EXPECT_EQ(toHex(bob->dh(alice->publicKey())), shared);
}

// RFC 8439 section 2.8.2.
TEST(KnownAnswer, ChaCha20Poly1305_Rfc8439Sunscreen_SealsAndOpens) {
    const std::string text =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
        "future, sunscreen would be it.";
    const Bytes plain = toBytes(text);
    const Bytes aad = fromHex("50515253c0c1c2c3c4c5c6c7");
    Aead::Key key{};
    const Bytes keyBytes = range(0x80, 0xa0);
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    Aead::Nonce nonce{};
    const Bytes nonceBytes = fromHex("070000004041424344454647");
    std::copy(nonceBytes.begin(), nonceBytes.end(), nonce.begin());
    const std::string expectedCipher =
        "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb"
        "69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad6"
        "75945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116";

    Bytes cipher(plain.size());
    std::array<std::uint8_t, 16> tag{};
    ASSERT_TRUE(Aead::seal(cipher.data(), tag.data(), plain, aad, nonce, key));
    EXPECT_EQ(toHex(cipher), expectedCipher);
    EXPECT_EQ(toHex(tag), "1ae10b594f09e26a7e902ecbd0600691");

    Bytes opened(cipher.size());
    ASSERT_TRUE(Aead::open(opened.data(), cipher, tag.data(), aad, nonce, key));
    EXPECT_EQ(opened, plain);
    tag[0] ^= 1;
    EXPECT_FALSE(Aead::open(opened.data(), cipher, tag.data(), aad, nonce, key));
}

struct HkdfVector {
    Bytes ikm, salt, info;
    std::size_t length;
    const char* okm;
};

// RFC 5869 appendix A, test cases 1 to 3.
TEST(KnownAnswer, HkdfSha256_Rfc5869Cases_MatchOkm) {
    const HkdfVector vectors[] = {
        {Bytes(22, 0x0b), range(0x00, 0x0d), range(0xf0, 0xfa), 42,
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {range(0x00, 0x50), range(0x60, 0xb0), range(0xb0, 0x100), 82,
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41"
         "c65e590e09da3275600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {Bytes(22, 0x0b), {}, {}, 42,
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(toHex(Wire::hkdfSha256(v.ikm, v.salt, v.info, v.length)), v.okm);
    }
}

struct HmacVector {
    Bytes key, data;
    const char* mac;
};

// RFC 4231, the HMAC-SHA-256 rows of test cases 1 to 7.
TEST(KnownAnswer, HmacSha256_Rfc4231Cases_MatchMac) {
    const HmacVector vectors[] = {
        {Bytes(20, 0x0b), toBytes("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {toBytes("Jefe"), toBytes("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {range(0x01, 0x1a), Bytes(50, 0xcd),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {Bytes(131, 0xaa), toBytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Bytes(131, 0xaa),
         toBytes("This is a test using a larger than block-size key and a larger than block-size "
                 "data. The key needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& v : vectors) EXPECT_EQ(toHex(Wire::hmacSha256(v.key, v.data)), v.mac);
    // Test case 5 publishes only the first 128 bits of the MAC.
    const auto truncated = Wire::hmacSha256(Bytes(20, 0x0c), toBytes("Test With Truncation"));
    EXPECT_EQ(toHex(ByteView(truncated).first(16)), "a3b6167473100ee06e0c796c2955552b");
}

// RFC 4648 section 10.
TEST(KnownAnswer, Base64_Rfc4648Vectors_EncodeAndDecodeBothForms) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        const std::string padded = encoded;
        const std::string unpadded = padded.substr(0, padded.find('='));
        EXPECT_EQ(Wire::b64std(toBytes(plain)), padded);
        EXPECT_EQ(Wire::b64url(toBytes(plain)), unpadded);
        EXPECT_EQ(toString(Wire::b64d(padded, 200)), plain);
        EXPECT_EQ(toString(Wire::b64d(unpadded, 200)), plain);
    }
}

TEST(KnownAnswer, Sha256_EmptyAndAbc_MatchFips180Digests) {
    EXPECT_EQ(toHex(Wire::sha256({})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(Wire::sha256(toBytes("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace tamborix
