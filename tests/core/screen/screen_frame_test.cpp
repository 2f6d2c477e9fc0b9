#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "core/screen/screen_streamer.h"

namespace tamborix::testing {
namespace {

using Mode = ScreenStreamer::Mode;

TEST(ScreenFrame, Chunks_AroundTwoChunkBoundary_CountAndSizeInfoOnlyInFirst) {
    std::string text(5601, 'Q');
    text.back() = 'Z';
    const auto two = ScreenStreamer::chunks(4, std::string_view(text).substr(0, 5600), {640, 480});
    ASSERT_EQ(two.size(), 2u);
    const auto three = ScreenStreamer::chunks(4, text, {640, 480});
    ASSERT_EQ(three.size(), 3u);

    std::string joined;
    std::vector<nlohmann::json> parsed;
    for (std::size_t i = 0; i < three.size(); ++i) {
        parsed.push_back(nlohmann::json::parse(three[i]));
        const auto& m = parsed.back();
        EXPECT_EQ(m.at("t"), "scr");
        EXPECT_EQ(m.at("id"), 4);
        EXPECT_EQ(m.at("i"), i);
        EXPECT_EQ(m.at("n"), 3);
        EXPECT_EQ(m.contains("w"), i == 0);
        EXPECT_EQ(m.contains("h"), i == 0);
        joined += m.at("d").get<std::string>();
    }
    EXPECT_EQ(parsed[0].at("w"), 640);
    EXPECT_EQ(parsed[0].at("h"), 480);
    EXPECT_EQ(parsed[0].at("d").get<std::string>().size(), 2800u);
    EXPECT_EQ(parsed[2].at("d"), "Z");
    EXPECT_EQ(nlohmann::json::parse(two[1]).at("d").get<std::string>().size(), 2800u);
    EXPECT_EQ(joined, text);
    EXPECT_TRUE(ScreenStreamer::chunks(1, "", {1, 1}).empty());
}

TEST(ScreenFrame, OutputSize_FullHdDisplay_ScaledPerTransportAndMode) {
    const Rect fullHd{0, 0, 1920, 1080};
    using Size = ScreenStreamer::OutputSize;
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::fit, false, fullHd), (Size{1280, 720}));
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::fit, true, fullHd), (Size{480, 270}));

    const Rect around = ScreenStreamer::region(Mode::cursor, fullHd, Point{960, 540});
    EXPECT_EQ(around, (Rect{510, 260, 900, 560}));
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::cursor, false, around), (Size{900, 560}));
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::cursor, true, around), (Size{480, 298}));

    // Sizes are truncated, never rounded up.
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::fit, false, {0, 0, 1366, 768}), (Size{1280, 719}));
    // Smaller than the limit: no scaling up.
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::fit, false, {0, 0, 800, 600}), (Size{800, 600}));
    EXPECT_EQ(ScreenStreamer::outputSize(Mode::fit, false, {0, 0, 0, 600}), (Size{0, 0}));
}

TEST(ScreenFrame, Region_CursorMode_KeptInsideTheDisplay) {
    const Rect secondary{1920, -200, 2560, 1440};
    // Top-left corner: the region starts at the display's origin.
    EXPECT_EQ(ScreenStreamer::region(Mode::cursor, secondary, Point{1920, -200}),
              (Rect{1920, -200, 900, 560}));
    // Bottom-right corner.
    EXPECT_EQ(ScreenStreamer::region(Mode::cursor, secondary, Point{4479, 1239}),
              (Rect{3580, 680, 900, 560}));
    // A pointer elsewhere (or unreadable, at 0, 0) still gives a region on this display.
    EXPECT_EQ(ScreenStreamer::region(Mode::cursor, secondary, Point{0, 0}),
              (Rect{1920, -200, 900, 560}));
    // A display smaller than the window: all of it.
    const Rect small{-800, 0, 800, 500};
    EXPECT_EQ(ScreenStreamer::region(Mode::cursor, small, Point{-400, 250}), small);
    EXPECT_EQ(ScreenStreamer::region(Mode::fit, secondary, Point{0, 0}), secondary);
}

}  // namespace
}  // namespace tamborix::testing
