#include <gtest/gtest.h>

#include <cctype>

#include "hex.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "testing/fixed_random.h"

namespace tamborix {
namespace {

using testing::fromHex;
using testing::range;
using testing::toHex;

const SecureError base64Error = SecureError::malformed("base64");

void expectBase64Failure(std::optional<std::string_view> text, std::size_t limit = 200) {
    try {
        (void)Wire::b64d(text, limit);
        ADD_FAILURE() << "decoded: " << text.value_or("<absent>");
    } catch (const SecureError& e) {
        EXPECT_EQ(e, base64Error) << text.value_or("<absent>");
    }
}

TEST(WireB64d, Limit_ExactlyLimitAcceptedLongerRefused) {
    EXPECT_EQ(Wire::b64d(std::string(200, 'A'), 200).size(), 150u);
    // A valid 204-character text is refused under a 200 limit only because of its length.
    const std::string longer(204, 'A');
    EXPECT_EQ(Wire::b64d(longer, 204).size(), 153u);
    expectBase64Failure(longer, 200);
    expectBase64Failure(longer, 203);
}

TEST(WireB64d, Padding_OptionalAndEquivalent) {
    const Bytes one{0x41};
    EXPECT_EQ(Wire::b64d("QQ", 200), one);
    EXPECT_EQ(Wire::b64d("QQ=", 200), one);
    EXPECT_EQ(Wire::b64d("QQ==", 200), one);
    EXPECT_EQ(Wire::b64d("QUI", 200), toBytes("AB"));
    EXPECT_EQ(Wire::b64d("QUI=", 200), toBytes("AB"));
    EXPECT_TRUE(Wire::b64d("", 200).empty());
    EXPECT_TRUE(Wire::b64d("", 0).empty());
}

TEST(WireB64d, Padding_MisplacedOrExcessRefused) {
    for (const char* text : {"Q", "Q=", "Q==", "Q===", "QQ===", "QUJD=", "====", "=", "==",
                             "QQ==QQ==", "Q=Q=", "=QUJ", "QUJDQ"}) {
        expectBase64Failure(text);
    }
}

TEST(WireB64d, Alphabets_UrlAndStandardAcceptedEvenMixed) {
    const Bytes expected{0xfb, 0xff, 0xbf, 0xfb, 0xff, 0xbf};
    EXPECT_EQ(Wire::b64d("+/+/+/+/", 200), expected);
    EXPECT_EQ(Wire::b64d("-_-_-_-_", 200), expected);
    EXPECT_EQ(Wire::b64d("+_-/+_-/", 200), expected);
}

TEST(WireB64d, Characters_WhiteSpaceAndForeignRefused) {
    for (const char* text : {"QU JD", "QUJD\n", "\nQUJD", "QUJD\r\n", "QU\tJD", " QUJD", "QU.D",
                             "QU*D", "QUJ\xC3\xA9"}) {
        expectBase64Failure(text);
    }
    expectBase64Failure(std::string_view("QU\0D", 4));
    expectBase64Failure(std::nullopt);
    expectBase64Failure(std::nullopt, 1000);
}

TEST(WireB64d, RoundTrip_EveryLengthUpTo70_DecodesWhatWasEncoded) {
    testing::FixedRandom rng(7);
    for (std::size_t n = 0; n <= 70; ++n) {
        const Bytes data = Wire::randomBytes(n, rng);
        EXPECT_EQ(Wire::b64d(Wire::b64url(data), 200), data) << n;
        EXPECT_EQ(Wire::b64d(Wire::b64std(data), 200), data) << n;
    }
}

// Long inputs take the vector path and short ones the table; both must use the right alphabet.
TEST(WireB64, BothAlphabets_EveryByteValueAtEveryOffset_DifferOnlyInTheLastTwoCharacters) {
    for (std::size_t skip = 0; skip < 12; ++skip) {
        const Bytes data = range(static_cast<int>(skip), 256);
        const std::string standard = Wire::b64std(data);
        const std::string url = Wire::b64url(data);
        std::string expected = standard.substr(0, standard.find('='));
        for (char& c : expected) c = c == '+' ? '-' : c == '/' ? '_' : c;
        EXPECT_EQ(url, expected) << skip;
        EXPECT_EQ(standard.find_first_of("-_"), std::string::npos) << skip;
        EXPECT_EQ(Wire::b64d(standard, 400), data) << skip;
        const Bytes line = Wire::b64urlLine(data);
        EXPECT_EQ(toString(line), url + "\n") << skip;
    }
}

TEST(WireB64url, EncodedLengths_KeyNonceSid_43_22_11) {
    testing::FixedRandom rng(1);
    const std::pair<std::size_t, std::size_t> cases[] = {
        {Wire::keyLength, 43}, {Wire::nonceLength, 22}, {Wire::sidLength, 11}};
    for (const auto& [bytes, chars] : cases) {
        const std::string text = Wire::b64url(Wire::randomBytes(bytes, rng));
        EXPECT_EQ(text.size(), chars);
        EXPECT_EQ(text.find_first_of("+/="), std::string::npos);
    }
    // Every byte value in every position exercises the whole alphabet.
    const std::string all = Wire::b64url(range(0, 256));
    EXPECT_EQ(all.find_first_of("+/="), std::string::npos);
    EXPECT_NE(all.find('-'), std::string::npos);
    EXPECT_NE(all.find('_'), std::string::npos);
}

TEST(WireIdentifiers, FingerprintAndDeviceId_ShareTheFirstEightDigestBytes) {
    const Bytes alicePub =
        fromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(Wire::deviceID(alicePub), "300c9c9603b92a4b");
    EXPECT_EQ(Wire::fingerprint(alicePub), "300C-9C96-03B9-2A4B");

    testing::FixedRandom rng(3);
    for (int i = 0; i < 20; ++i) {
        const Bytes pub = Wire::randomBytes(32, rng);
        const std::string fp = Wire::fingerprint(pub);
        ASSERT_EQ(fp.size(), 19u);
        EXPECT_EQ(fp[4], '-');
        EXPECT_EQ(fp[9], '-');
        EXPECT_EQ(fp[14], '-');
        std::string joined;
        for (char c : fp) {
            if (c == '-') continue;
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'));
            joined.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        EXPECT_EQ(Wire::deviceID(pub), joined);
    }
}

TEST(WireNormalizePairCode, Separators_AndCase_Removed) {
    EXPECT_EQ(Wire::normalizePairCode("abcd-efgh jkmn"), "ABCDEFGHJKMN");
    EXPECT_EQ(Wire::normalizePairCode("  ab_cd.ef/gh:jk,mn  "), "ABCDEFGHJKMN");
    EXPECT_EQ(Wire::normalizePairCode(""), "");
}

TEST(WireNormalizePairCode, LookAlikes_DroppedNotCorrected) {
    EXPECT_EQ(Wire::normalizePairCode("AIBL"), "AB");
    EXPECT_EQ(Wire::normalizePairCode("o0O1lIi"), "");
    EXPECT_EQ(Wire::normalizePairCode("23456789"), "23456789");
}

TEST(WireNormalizePairCode, NonAscii_FullCaseMappingThenDropped) {
    // Full mapping turns the sharp s into two letters.
    EXPECT_EQ(Wire::normalizePairCode("stra\xC3\x9F" "e"), "STRASSE");
    // Dotless i upper-cases to I, which is not in the alphabet.
    EXPECT_EQ(Wire::normalizePairCode("\xC4\xB1" "AB"), "AB");
    // An accented letter is its own character, not the letter plus debris.
    EXPECT_EQ(Wire::normalizePairCode("A\xCC\x81" "B"), "B");
    EXPECT_EQ(Wire::normalizePairCode("\xC3\xA9" "B"), "B");
    // Fullwidth letters are not their ASCII look-alikes.
    EXPECT_EQ(Wire::normalizePairCode("\xEF\xBC\xA1" "B"), "B");
    // Broken UTF-8 is dropped without harm.
    EXPECT_EQ(Wire::normalizePairCode("A\xFF\xC3" "B\x80"), "AB");
}

TEST(WirePairProof, EquivalentCodes_SameProof_AndTranscriptBound) {
    const Bytes th = range(0, 32);
    const Bytes proof = Wire::pairProof("ABCDEFGHJKMN", th);
    EXPECT_EQ(toHex(proof), "35d588e0c4684d3f9f8c5b0938cf4caab59f0d6d3fa7bcd9fa057de660cd65cb");
    EXPECT_EQ(Wire::pairProof("abcd-efgh-jkmn", th), proof);
    EXPECT_EQ(Wire::pairProof(" abcd efgh jkmn ", th), proof);

    Bytes otherTh = th;
    otherTh[31] ^= 0x01;
    EXPECT_NE(Wire::pairProof("ABCDEFGHJKMN", otherTh), proof);
    EXPECT_NE(Wire::pairProof("ABCDEFGHJKMP", th), proof);
}

TEST(WireHkdf, OutputLength_UpTo255BlocksOtherwiseRefused) {
    const Bytes ikm(32, 1);
    EXPECT_EQ(Wire::hkdfSha256(ikm, {}, {}, 8160).size(), 8160u);
    EXPECT_TRUE(Wire::hkdfSha256(ikm, {}, {}, 0).empty());
    EXPECT_THROW((void)Wire::hkdfSha256(ikm, {}, {}, 8161), std::invalid_argument);
    // A shorter output is a prefix of a longer one.
    const Bytes longer = Wire::hkdfSha256(ikm, toBytes("s"), toBytes("i"), 100);
    const Bytes shorter = Wire::hkdfSha256(ikm, toBytes("s"), toBytes("i"), 33);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), longer.begin()));
}

}  // namespace
}  // namespace tamborix
