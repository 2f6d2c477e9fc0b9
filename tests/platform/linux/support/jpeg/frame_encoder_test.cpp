#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/linux/support/jpeg/frame_encoder.h"
#include "support/jpeg_decode.h"

namespace tamborix::jpeg {
namespace {

using tamborix::testing::decodeJpeg;
using tamborix::testing::firstLuminanceQuant;

// A picture in the X server's byte order: B, G, R, X per pixel.
struct Picture {
    int width, height;
    std::vector<std::uint8_t> bytes;
    Picture(int w, int h) : width(w), height(h), bytes(static_cast<std::size_t>(w) * h * 4, 0) {}
    void set(int x, int y, int r, int g, int b) {
        auto* p = &bytes[(static_cast<std::size_t>(y) * width + x) * 4];
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        p[3] = 0x5A;  // the unused byte holds garbage on a real server
    }
    [[nodiscard]] PixelsView view() const { return {bytes.data(), width * 4, width, height}; }
};

void expectNear(const testing::DecodedJpeg& d, int x, int y, int r, int g, int b, int tolerance = 10) {
    const auto c = d.at(x, y);
    EXPECT_NEAR(c.r, r, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.g, g, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(c.b, b, tolerance) << "at " << x << "," << y;
}

// The IJG scaling of a base quantisation value for a quality, as libjpeg's jcparam.c does it.
int ijgScaled(int base, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    return std::clamp((base * scale + 50) / 100, 1, 255);
}

TEST(FrameEncoder, Encode_ColouredQuadrantsScaledDown_DecodeShowsEachColourInPlace) {
    // Odd sizes on purpose: chroma planes round up, and a slip there shifts or tears the picture.
    for (const auto [w, h, outW, outH] : {std::array{1920, 1080, 1280, 720}, std::array{901, 561, 451, 281}}) {
        Picture pic(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool right = x >= w / 2, bottom = y >= h / 2;
                if (!right && !bottom) pic.set(x, y, 220, 30, 30);       // red
                else if (right && !bottom) pic.set(x, y, 30, 200, 40);   // green
                else if (!right && bottom) pic.set(x, y, 40, 50, 210);   // blue
                else pic.set(x, y, 250, 250, 250);                      // white
            }
        }
        FrameEncoder encoder;
        const auto jpeg = encoder.encode(pic.view(), outW, outH, 0.55);
        ASSERT_TRUE(jpeg.has_value());
        const auto d = decodeJpeg(*jpeg);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->width, outW);
        EXPECT_EQ(d->height, outH);
        EXPECT_EQ(d->subsampling, TJSAMP_420);
        expectNear(*d, outW / 4, outH / 4, 220, 30, 30);
        expectNear(*d, outW * 3 / 4, outH / 4, 30, 200, 40);
        expectNear(*d, outW / 4, outH * 3 / 4, 40, 50, 210);
        expectNear(*d, outW * 3 / 4, outH * 3 / 4, 250, 250, 250);
        // The edges survive the scaling (no row or column lost to an off-by-one).
        expectNear(*d, 2, 2, 220, 30, 30, 24);
        expectNear(*d, outW - 3, outH - 3, 250, 250, 250, 24);
    }
}

TEST(FrameEncoder, Encode_ThinGridShrunkFourTimes_AveragesEveryPixel) {
    // A one-pixel grid on a 4-pixel pitch, like text strokes: point or two-tap sampling misses the
    // lines or hits them whole; a box filter averages each 4 x 4 block, 7 of whose 16 are white.
    Picture pic(1920, 1080);
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.width; ++x) {
            const int v = (x % 4 == 0 || y % 4 == 0) ? 255 : 0;
            pic.set(x, y, v, v, v);
        }
    }
    FrameEncoder encoder;
    const auto jpeg = encoder.encode(pic.view(), 480, 270, 0.35);
    ASSERT_TRUE(jpeg.has_value());
    const auto d = decodeJpeg(*jpeg);
    ASSERT_TRUE(d.has_value());
    for (int y = 10; y < 270; y += 37) {
        for (int x = 10; x < 480; x += 53) expectNear(*d, x, y, 112, 112, 112, 12);
    }
}

TEST(FrameEncoder, Encode_Quality_WritesTheMatchingIjgTables) {
    Picture pic(64, 48);
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.width; ++x) pic.set(x, y, (x * 37) % 256, (y * 53) % 256, (x * y) % 256);
    }
    FrameEncoder encoder;
    const auto normal = encoder.encode(pic.view(), 64, 48, 0.55);
    const auto low = encoder.encode(pic.view(), 64, 48, 0.35);
    ASSERT_TRUE(normal && low);
    // 16 is the DC entry of the IJG luminance table (Annex K).
    EXPECT_EQ(firstLuminanceQuant(*normal), ijgScaled(16, 55));
    EXPECT_EQ(firstLuminanceQuant(*low), ijgScaled(16, 35));
    EXPECT_LT(low->size(), normal->size());

    EXPECT_EQ(ijgQuality(0.55), 55);
    EXPECT_EQ(ijgQuality(0.35), 35);
    EXPECT_EQ(ijgQuality(0.0), 1);
    EXPECT_EQ(ijgQuality(1.7), 100);
    EXPECT_EQ(ijgQuality(std::nan("")), 1);
}

TEST(FrameEncoder, Encode_InvalidSizes_GiveNothingAndTheEncoderStillWorks) {
    Picture pic(32, 16);
    FrameEncoder encoder;
    EXPECT_FALSE(encoder.encode(pic.view(), 0, 10, 0.5));
    EXPECT_FALSE(encoder.encode(pic.view(), 10, -1, 0.5));
    EXPECT_FALSE(encoder.encode({pic.bytes.data(), 32 * 4 - 1, 32, 16}, 16, 8, 0.5));  // stride too short
    EXPECT_FALSE(encoder.encode({nullptr, 32 * 4, 32, 16}, 16, 8, 0.5));
    EXPECT_FALSE(encoder.encode({pic.bytes.data(), 0, 0, 0}, 16, 8, 0.5));
    // A larger frame after a smaller one grows the buffers instead of writing past them.
    EXPECT_TRUE(encoder.encode(pic.view(), 16, 8, 0.5));
    Picture big(640, 480);
    const auto jpeg = encoder.encode(big.view(), 1280, 960, 0.9);
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(decodeJpeg(*jpeg)->width, 1280);
}

}  // namespace
}  // namespace tamborix::jpeg
