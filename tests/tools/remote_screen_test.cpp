#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/screen/screen_streamer.h"
#include "protocol/wire.h"
#include "tools/remote_screen.h"

namespace tamborix::remote {
namespace {

using nlohmann::json;

std::vector<json> chunksOf(std::int64_t id, const Bytes& picture) {
    std::vector<json> out;
    for (const auto& text : ScreenStreamer::chunks(id, Wire::b64std(picture), {640, 360})) {
        out.push_back(json::parse(text));
    }
    return out;
}

Bytes picture(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

TEST(ScreenFrames, Add_TheStreamersChunks_GivesTheFileBackOnTheLastChunk) {
    ScreenFrames frames;
    const Bytes jpeg = picture(5000, 3);  // 6668 characters: 3 chunks
    const auto chunks = chunksOf(7, jpeg);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_FALSE(frames.add(chunks[0]));
    EXPECT_FALSE(frames.add(chunks[1]));
    const auto frame = frames.add(chunks[2]);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->id, 7);
    EXPECT_EQ(frame->width, 640);
    EXPECT_EQ(frame->height, 360);
    EXPECT_EQ(frame->jpeg, jpeg);
}

TEST(ScreenFrames, Add_MissingOrForeignChunk_DropsThatFrameOnlyAndTheNextStillArrives) {
    ScreenFrames frames;
    const auto first = chunksOf(1, picture(5000, 1));
    const auto second = chunksOf(2, picture(5000, 2));
    EXPECT_FALSE(frames.add(first[0]));
    EXPECT_FALSE(frames.add(first[2]));   // chunk 1 lost
    EXPECT_FALSE(frames.add(first[1]));   // too late: the frame is gone
    EXPECT_FALSE(frames.add(second[1]));  // no chunk 0 seen for frame 2
    EXPECT_FALSE(frames.add(second[0]));
    EXPECT_FALSE(frames.add(first[1]));   // another frame's chunk in the middle
    EXPECT_FALSE(frames.add(second[1]));
    EXPECT_FALSE(frames.add(json{{"t", "scr"}, {"id", 3}, {"i", 0}, {"n", 1}, {"d", 5}}));

    for (std::size_t i = 0; i + 1 < second.size(); ++i) EXPECT_FALSE(frames.add(second[i]));
    const auto frame = frames.add(second.back());
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->jpeg, picture(5000, 2));
}

}  // namespace
}  // namespace tamborix::remote
