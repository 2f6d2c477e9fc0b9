#include <gtest/gtest.h>

#include "hex.h"
#include "protocol/ble_fragments.h"

namespace tamborix {
namespace {

namespace F = BLEFragments;

Bytes message(std::size_t n, std::uint8_t first = 0x01) {
    Bytes m(n);
    for (std::size_t i = 0; i < n; ++i) m[i] = static_cast<std::uint8_t>(i * 7 + 3);
    if (n) m[0] = first;
    return m;
}

Bytes fragment(std::uint8_t flags, std::size_t payload, std::uint8_t fill = 0x55) {
    Bytes f{F::marker, flags};
    f.insert(f.end(), payload, fill);
    return f;
}

TEST(BLEFragmentsSplit, Limit20_WholeAt20TwoFragmentsAt21) {
    const Bytes twenty = message(20);
    const auto whole = F::split(twenty, 20);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0], twenty);

    const Bytes m = message(21);
    const auto parts = F::split(m, 20);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].size(), 20u);
    EXPECT_EQ(parts[1].size(), 5u);
    EXPECT_EQ(parts[0][0], F::marker);
    EXPECT_EQ(parts[0][1], 0x00);
    EXPECT_EQ(parts[1][1], 0x01);
    EXPECT_EQ(Bytes(parts[0].begin() + 2, parts[0].end()), Bytes(m.begin(), m.begin() + 18));
    EXPECT_EQ(Bytes(parts[1].begin() + 2, parts[1].end()), Bytes(m.begin() + 18, m.end()));
}

TEST(BLEFragmentsSplit, TinyLimit_PayloadNeverBelow16) {
    const auto parts = F::split(message(40), 10);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].size(), 18u);
    EXPECT_EQ(parts[1].size(), 18u);
    EXPECT_EQ(parts[2].size(), 10u);
    EXPECT_EQ(parts[2][1], F::lastFlag);
    // Limits so small they would underflow still make 16-byte payloads.
    EXPECT_EQ(F::split(message(40), 0).size(), 3u);
    EXPECT_EQ(F::split(message(40), 1).size(), 3u);
    EXPECT_EQ(F::split({}, 0).size(), 1u);
}

TEST(BLEFragmentsRoundTrip, ManySizesAndLimits_ReassembleToTheMessage) {
    for (std::size_t limit : {0u, 18u, 19u, 20u, 23u, 182u, 185u, 512u}) {
        for (std::size_t n : {0u, 1u, 17u, 18u, 19u, 100u, 1000u, 4096u, 4160u}) {
            const Bytes m = message(n);
            const auto parts = F::split(m, limit);
            const std::size_t payload = limit > 18 ? limit - 2 : 16;
            EXPECT_EQ(parts.size(), n <= limit ? 1 : (n + payload - 1) / payload);
            F::Reassembler r;
            std::optional<Bytes> out;
            for (std::size_t i = 0; i < parts.size(); ++i) {
                EXPECT_LE(parts[i].size(), std::max<std::size_t>(limit, 18));
                out = r.push(parts[i]);
                if (i + 1 < parts.size()) {
                    EXPECT_FALSE(out);
                }
            }
            ASSERT_TRUE(out) << n << "/" << limit;
            EXPECT_EQ(*out, m);
            EXPECT_EQ(r.pending(), 0u);
        }
    }
}

TEST(BLEFragmentsPush, SingleLastFragment_YieldsPayloadAtOnce) {
    F::Reassembler r;
    EXPECT_EQ(r.push(fragment(0x01, 5, 0x42)), Bytes(5, 0x42));
    // Only bit 0 of the flags counts.
    EXPECT_EQ(r.push(fragment(0xFF, 2, 0x43)), Bytes(2, 0x43));
    EXPECT_FALSE(r.push(fragment(0xFE, 2, 0x44)));
    EXPECT_EQ(r.pending(), 2u);
}

TEST(BLEFragmentsPush, WholeMessages_ClearPartialOne) {
    F::Reassembler r;
    EXPECT_FALSE(r.push(fragment(0x00, 10)));
    const Bytes whole = message(5);
    EXPECT_EQ(r.push(whole), whole);
    EXPECT_EQ(r.pending(), 0u);

    // The lone marker byte is too short for a fragment: it is a whole one-byte message.
    EXPECT_FALSE(r.push(fragment(0x00, 10)));
    EXPECT_EQ(r.push(Bytes{F::marker}), Bytes{F::marker});
    EXPECT_EQ(r.pending(), 0u);

    // So is the empty value.
    EXPECT_FALSE(r.push(fragment(0x00, 10)));
    EXPECT_EQ(r.push({}), Bytes{});
    EXPECT_EQ(r.pending(), 0u);

    // A header-only fragment contributes nothing but is a fragment.
    EXPECT_EQ(r.push(Bytes{F::marker, F::lastFlag}), Bytes{});
}

TEST(BLEFragmentsPush, SizeLimit_4160CompleteAnd4161Discarded) {
    F::Reassembler r;
    for (int i = 0; i < 40; ++i) EXPECT_FALSE(r.push(fragment(0x00, 100)));
    auto done = r.push(fragment(0x01, 160));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->size(), 4160u);

    for (int i = 0; i < 40; ++i) EXPECT_FALSE(r.push(fragment(0x00, 100)));
    EXPECT_FALSE(r.push(fragment(0x00, 161)));  // 4161 bytes: discarded
    EXPECT_EQ(r.pending(), 0u);
    // What follows a discard is collected afresh; the old message's last fragment yields only
    // what came after the discard.
    EXPECT_FALSE(r.push(fragment(0x00, 7, 0x01)));
    EXPECT_EQ(r.push(fragment(0x01, 3, 0x02)), (Bytes{1, 1, 1, 1, 1, 1, 1, 2, 2, 2}));

    // One oversized fragment alone is discarded too, even when marked last.
    EXPECT_FALSE(r.push(fragment(0x01, 4161)));
    EXPECT_EQ(r.pending(), 0u);
}

}  // namespace
}  // namespace tamborix
