#include <gtest/gtest.h>

#include <functional>

#include "hex.h"
#include "protocol/aead.h"
#include "protocol/secure_error.h"
#include "protocol/secure_session.h"

namespace tamborix {
namespace {

using testing::fromHex;

SecureSession::Key keyOf(std::uint8_t fill) {
    SecureSession::Key k;
    k.fill(fill);
    return k;
}

// Two ends of one channel: what one seals the other opens.
struct Pair {
    Bytes sid = fromHex("0011223344556677");
    SecureSession helper{sid, Bytes(32, 0xAB), keyOf(0x22), keyOf(0x11)};
    SecureSession phone{sid, Bytes(32, 0xAB), keyOf(0x11), keyOf(0x22)};
};

void expectOpenError(SecureSession& s, const Bytes& frame, const SecureError& expected) {
    const auto before = s.lastRecv();
    try {
        (void)s.open(frame);
        ADD_FAILURE() << "opened a frame of " << frame.size() << " bytes";
    } catch (const SecureError& e) {
        EXPECT_EQ(e, expected) << e.what();
    }
    EXPECT_EQ(s.lastRecv(), before) << "a failed open moved the replay window";
}

TEST(SecureSessionSeal, EmptyPlaintext_33BytesAndOpensEmpty) {
    Pair p;
    const Bytes frame = p.phone.seal({});
    EXPECT_EQ(frame.size(), SecureSession::overhead);
    EXPECT_TRUE(p.helper.open(frame).empty());
    EXPECT_EQ(p.helper.lastRecv(), 0u);
}

TEST(SecureSessionSeal, FirstTwoFrames_CarryCounters0And1AndTheirNonces) {
    Pair p;
    const Bytes plain = toBytes("{\"t\":\"move\"}");
    const Bytes f0 = p.helper.seal(plain);
    const Bytes f1 = p.helper.seal(plain);
    EXPECT_EQ(p.helper.sendCtr(), 2u);

    EXPECT_EQ(testing::toHex(SecureSession::nonce(0)), "000000000000000000000000");
    EXPECT_EQ(testing::toHex(SecureSession::nonce(1)), "000000000000000000000001");
    EXPECT_EQ(testing::toHex(ByteView(f0).first(17)), "01001122334455667700000000000000" "00");
    EXPECT_EQ(testing::toHex(ByteView(f1).first(17)), "01001122334455667700000000000000" "01");
    EXPECT_NE(Bytes(f0.begin() + 17, f0.end()), Bytes(f1.begin() + 17, f1.end()));

    // The ciphertext is exactly the AEAD of the plaintext under that nonce with the header as
    // additional data.
    for (std::uint64_t c : {0u, 1u}) {
        const Bytes& f = c == 0 ? f0 : f1;
        Bytes opened(plain.size());
        ASSERT_TRUE(Aead::open(opened.data(), ByteView(f).subspan(17, plain.size()),
                               f.data() + 17 + plain.size(), ByteView(f).first(17),
                               SecureSession::nonce(c), keyOf(0x22)));
        EXPECT_EQ(opened, plain);
    }
}

TEST(SecureSessionHeader, LargeCounter_BigEndianInHeaderAndNonce) {
    const auto h = SecureSession::header(fromHex("a1a2a3a4a5a6a7a8"), 0x0102030405060708ULL);
    EXPECT_EQ(testing::toHex(h), "01a1a2a3a4a5a6a7a80102030405060708");
    EXPECT_EQ(testing::toHex(SecureSession::nonce(0xF1F2F3F4F5F6F7F8ULL)),
              "00000000f1f2f3f4f5f6f7f8");
}

TEST(SecureSessionOpen, FrameLengths_32And4097RefusedAnd4096Accepted) {
    Pair p;
    const Bytes empty = p.phone.seal({});
    expectOpenError(p.helper, Bytes(empty.begin(), empty.begin() + 32),
                    SecureError::malformed("frame"));
    expectOpenError(p.helper, {}, SecureError::malformed("frame"));
    const Bytes tooBig = p.phone.seal(Bytes(4097 - SecureSession::overhead, 0x5A));
    ASSERT_EQ(tooBig.size(), 4097u);
    expectOpenError(p.helper, tooBig, SecureError::malformed("frame"));
    const Bytes largest = p.phone.seal(Bytes(4096 - SecureSession::overhead, 0x5A));
    ASSERT_EQ(largest.size(), 4096u);
    EXPECT_EQ(p.helper.open(largest), Bytes(4063, 0x5A));
}

TEST(SecureSessionOpen, HeaderChecks_VersionBeforeSessionId) {
    Pair p;
    Bytes frame = p.phone.seal(toBytes("x"));
    Bytes badVersion = frame;
    badVersion[0] = 0x02;
    badVersion[1] ^= 0xFF;  // the session id is wrong too; the version decides
    expectOpenError(p.helper, badVersion, SecureError::malformed("frame"));
    Bytes badSession = frame;
    badSession[8] ^= 0x01;
    expectOpenError(p.helper, badSession, SecureError::malformed("session"));
    EXPECT_EQ(p.helper.open(frame), toBytes("x"));
}

TEST(SecureSessionOpen, Replay_SameOrOlderCounterRefusedGapsAllowed) {
    Pair p;
    std::vector<Bytes> frames;
    for (int i = 0; i < 10; ++i) frames.push_back(p.phone.seal(toBytes(std::to_string(i))));

    EXPECT_EQ(p.helper.open(frames[5]), toBytes("5"));
    expectOpenError(p.helper, frames[5], SecureError::replay());
    expectOpenError(p.helper, frames[3], SecureError::replay());
    EXPECT_EQ(p.helper.open(frames[9]), toBytes("9"));
    EXPECT_EQ(p.helper.lastRecv(), 9u);

    // Replay is decided before authentication: even a forged old frame reports replay.
    Bytes forged = frames[2];
    forged.back() ^= 1;
    expectOpenError(p.helper, forged, SecureError::replay());
}

TEST(SecureSessionOpen, FlippedBits_AuthenticationFailsAndWindowStays) {
    Pair p;
    const Bytes frame = p.phone.seal(toBytes("{\"t\":\"click\"}"));
    const std::size_t positions[] = {9, 16, 17, 20, frame.size() - 16, frame.size() - 1};
    for (std::size_t pos : positions) {
        Bytes bad = frame;
        bad[pos] ^= 0x04;
        expectOpenError(p.helper, bad, SecureError::authentication());
        EXPECT_FALSE(p.helper.lastRecv());
    }
    EXPECT_EQ(p.helper.open(frame), toBytes("{\"t\":\"click\"}"));
    EXPECT_EQ(p.helper.lastRecv(), 0u);
}

TEST(SecureSessionOpen, WrongDirection_OwnFrameDoesNotAuthenticate) {
    Pair p;
    // Each direction has its own key: a frame reflected back to its sender fails.
    expectOpenError(p.helper, p.helper.seal(toBytes("echo")), SecureError::authentication());
}

TEST(SecureSessionFrameSid, Lengths_17BytesNeededAndVersionChecked) {
    Bytes frame(16, 0x00);
    frame[0] = 0x01;
    for (std::size_t i = 1; i < 16; ++i) frame[i] = static_cast<std::uint8_t>(i);
    EXPECT_FALSE(SecureSession::frameSID(frame));
    frame.push_back(0xEE);
    const auto sid = SecureSession::frameSID(frame);
    ASSERT_TRUE(sid);
    EXPECT_EQ(*sid, fromHex("0102030405060708"));
    frame[0] = 0x02;
    EXPECT_FALSE(SecureSession::frameSID(frame));
    EXPECT_FALSE(SecureSession::frameSID({}));

    Pair p;
    EXPECT_EQ(SecureSession::frameSID(p.helper.seal({})), p.sid);
}

}  // namespace
}  // namespace tamborix
