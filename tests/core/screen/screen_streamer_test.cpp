#include "protocol/wire.h"
#include "streamer_fixture.h"

namespace tamborix::testing {
namespace {

using Mode = ScreenStreamer::Mode;

TEST_F(StreamerTest, Start_DryRun_FiveChunksOfTheFixedPicture) {
    auto& s = make(true);
    s.start(Mode::fit, 0, false);
    EXPECT_TRUE(received.empty());  // nothing from inside start()
    loop.advance(0.0);

    const auto f = frames();
    ASSERT_EQ(f.size(), 1u);
    const auto& chunks = f.at(1);
    ASSERT_EQ(chunks.size(), 5u);
    std::string text;
    for (const auto& c : chunks) {
        EXPECT_EQ(c.at("n"), 5);
        text += c.at("d").get<std::string>();
    }
    EXPECT_EQ(text.size(), 12000u);
    EXPECT_EQ(Wire::b64d(text, 20000), Bytes(9000, 0xAB));
    EXPECT_EQ(chunks[0].at("w"), 1280);
    EXPECT_EQ(chunks[0].at("h"), 720);
    EXPECT_TRUE(capture.requests.empty());
    ASSERT_TRUE(s.awaiting().has_value());
    EXPECT_EQ(s.awaiting()->id, 1);
}

TEST_F(StreamerTest, Ack_Prompt_NextFrameAfterTheMinimumInterval) {
    auto& s = make();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    ASSERT_EQ(frameCount(), 1u);
    s.ack(1);
    EXPECT_FALSE(s.awaiting().has_value());

    loop.advance(0.124);
    EXPECT_EQ(frameCount(), 1u);
    loop.advance(0.001);
    EXPECT_EQ(frameCount(), 2u);
    EXPECT_EQ(s.nextID(), 2);
    EXPECT_EQ(capture.requests.back().quality, 0.55);
}

TEST_F(StreamerTest, Ack_OverBluetooth_OneFramePerSecondSmallAndLowQuality) {
    auto& s = make();
    s.start(Mode::fit, 0, true);
    loop.advance(0.0);
    s.ack(1);
    loop.advance(0.99);
    EXPECT_EQ(frameCount(), 1u);
    loop.advance(0.01);
    EXPECT_EQ(frameCount(), 2u);
    const auto& r = capture.requests.back();
    EXPECT_EQ(r.width, 480);
    EXPECT_EQ(r.height, 270);
    EXPECT_EQ(r.quality, 0.35);
    EXPECT_TRUE(r.showCursor);
}

TEST_F(StreamerTest, Ack_OldOrUnknownId_StillAwaitingAndNextFrameAfterThreeSeconds) {
    auto& s = make();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    s.ack(1);
    loop.advance(0.125);
    ASSERT_EQ(frameCount(), 2u);
    const MonoTime secondSent = loop.now();

    s.ack(1);   // the previous frame's acknowledgement, again
    s.ack(99);  // one that was never sent
    ASSERT_TRUE(s.awaiting().has_value());
    EXPECT_EQ(s.awaiting()->id, 2);

    loop.advance(2.99);
    EXPECT_EQ(frameCount(), 2u);
    loop.advance(0.01);
    EXPECT_EQ(frameCount(), 3u);
    EXPECT_EQ(loop.now() - secondSent, seconds(3.0));
    EXPECT_EQ(s.awaiting()->id, 3);
}

TEST_F(StreamerTest, Point_EdgesAndForgottenFrames_MappedOrNone) {
    displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 100, 1280, 1024}}));
    displays.setPointer(Point{2000, 200});
    auto& s = make(true);
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);

    EXPECT_EQ(s.point(1, 1.0, 0.5), (Point{3200, 612}));
    EXPECT_EQ(s.point(1, 0.0, 0.0), (Point{1920, 100}));
    EXPECT_FALSE(s.point(1, 1.01, 0.5).has_value());
    EXPECT_FALSE(s.point(1, 0.5, -0.01).has_value());
    EXPECT_FALSE(s.point(1, std::nan(""), 0.5).has_value());
    EXPECT_FALSE(s.point(2, 0.5, 0.5).has_value());

    // Nine frames: the first is forgotten, the last eight remain.
    for (int i = 0; i < 8; ++i) loop.advance(3.0);
    ASSERT_EQ(s.nextID(), 9);
    EXPECT_EQ(s.rects().size(), 8u);
    EXPECT_FALSE(s.point(1, 0.5, 0.5).has_value());
    EXPECT_TRUE(s.point(2, 0.5, 0.5).has_value());
    EXPECT_TRUE(s.point(9, 0.5, 0.5).has_value());
}

TEST_F(StreamerTest, Start_FixedDisplayMissing_FollowsThePointerDisplay) {
    displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {-1280, 0, 1280, 1024}}));
    displays.setPointer(Point{100, 100});
    auto& s = make();
    s.start(Mode::fit, 3, false);
    loop.advance(0.0);
    ASSERT_EQ(capture.requests.size(), 1u);
    EXPECT_EQ(capture.requests[0].display, 1u);

    // A fixed display that exists wins over the pointer; numbers count from the left.
    s.start(Mode::cursor, 1, false);
    s.ack(1);
    loop.advance(0.125);
    ASSERT_EQ(capture.requests.size(), 2u);
    const auto& r = capture.requests[1];
    EXPECT_EQ(r.display, 2u);
    // The pointer is off this display: the window sits at the display's edge nearest to it.
    EXPECT_EQ(r.region, (Rect{-900, 0, 900, 560}));
    EXPECT_EQ(r.sourceRect(), (Rect{380, 0, 900, 560}));
    EXPECT_EQ(r.width, 900);
    EXPECT_EQ(r.height, 560);
}

TEST_F(StreamerTest, Start_WhileRunning_ChangesSettingsWithoutASecondLoop) {
    auto& s = make();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    s.start(Mode::cursor, 0, false);
    s.start(Mode::cursor, 0, false);
    EXPECT_EQ(loop.pendingTimers(), 1u);
    EXPECT_EQ(s.mode(), Mode::cursor);
    s.ack(1);
    loop.advance(1.0);
    // One frame per 0.125 s and only after its acknowledgement: frame 2 and then nothing.
    EXPECT_EQ(frameCount(), 2u);
    EXPECT_EQ(capture.requests.back().region, (Rect{510, 260, 900, 560}));
}

TEST_F(StreamerTest, Stop_PictureArrivesLater_Dropped) {
    capture.holdAnswers = true;
    auto& s = make();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    ASSERT_EQ(capture.requests.size(), 1u);
    s.stop();
    capture.release();
    loop.advance(5.0);
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(s.nextID(), 0);
    EXPECT_EQ(capture.requests.size(), 1u);
    EXPECT_FALSE(s.running());

    // Started again before the old picture arrives: only the new run's picture is sent.
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    s.stop();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    ASSERT_EQ(capture.requests.size(), 3u);
    capture.release();
    loop.advance(0.0);
    ASSERT_EQ(frameCount(), 1u);
    EXPECT_EQ(received[0].at("id"), 1);
}

TEST_F(StreamerTest, Send_LargePicture_OtherWorkRunsBetweenPassesAndStopEndsTheFrame) {
    capture.pictureSize = 60000;  // 80,000 base64 characters: 29 chunks
    auto& s = make();
    std::vector<std::size_t> seenBetween;
    bool stopMidFrame = false;
    conn->push = [&](const Bytes& frame) {
        received.push_back(nlohmann::json::parse(toString(phone->open(frame))));
        // Another phone's frame arriving while this picture is written.
        if (received.size() == 1) {
            loop.post([&] {
                seenBetween.push_back(received.size());
                if (stopMidFrame) s.stop();
            });
        }
    };
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    ASSERT_EQ(seenBetween, (std::vector<std::size_t>{ScreenStreamer::chunksPerPass}));
    const auto f = frames();
    ASSERT_EQ(f.at(1).size(), 29u);
    std::string text;
    for (std::size_t i = 0; i < 29; ++i) {
        EXPECT_EQ(f.at(1)[i].at("i"), i);
        text += f.at(1)[i].at("d").get<std::string>();
    }
    EXPECT_EQ(Wire::b64d(text, 100000), capture.pictureFor(1));
    ASSERT_TRUE(s.awaiting().has_value());
    EXPECT_EQ(s.awaiting()->id, 1);

    // Stopped between two passes: the rest of the frame is not sent, and a new start sends whole
    // frames again.
    received.clear();
    stopMidFrame = true;
    s.ack(1);
    loop.advance(1.0);
    EXPECT_EQ(received.size(), ScreenStreamer::chunksPerPass);
    EXPECT_FALSE(s.awaiting().has_value());
    stopMidFrame = false;
    received.clear();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    EXPECT_EQ(frames().at(3).size(), 29u);
}

TEST_F(StreamerTest, Capture_FailsOrNoDisplay_FrameSkippedAndLoopKeepsPace) {
    capture.fail = true;
    auto& s = make();
    s.start(Mode::fit, 0, false);
    loop.advance(0.0);
    loop.advance(0.25);
    EXPECT_EQ(capture.requests.size(), 3u);  // at 0, 0.125 and 0.25
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(s.nextID(), 0);
    EXPECT_FALSE(s.awaiting().has_value());

    capture.fail = false;
    displays.setDisplays({});
    loop.advance(1.0);
    EXPECT_EQ(capture.requests.size(), 3u);
    EXPECT_TRUE(received.empty());

    displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1024, 768}}));
    loop.advance(0.125);
    ASSERT_EQ(frameCount(), 1u);
    EXPECT_EQ(received[0].at("id"), 1);
    EXPECT_EQ(received[0].at("w"), 1024);
}

TEST_F(StreamerTest, Connection_Gone_NothingCapturedOrSent) {
    auto& s = make();
    s.start(Mode::fit, 0, false);
    conn.reset();
    loop.advance(1.0);
    EXPECT_TRUE(capture.requests.empty());
    EXPECT_EQ(s.nextID(), 0);
}

TEST_F(StreamerTest, Destroyed_WhileCapturingOrFromInsidePush_NoTouchAfterwards) {
    capture.holdAnswers = true;
    make().start(Mode::fit, 0, false);
    loop.advance(0.0);
    streamer.reset();
    capture.release();
    loop.advance(1.0);
    EXPECT_TRUE(received.empty());

    // A transport that ends the session on the first chunk it cannot write.
    capture.holdAnswers = false;
    capture.pictureSize = 6000;  // three chunks
    conn->push = [this](const Bytes&) {
        ++pushes;
        streamer.reset();
    };
    make().start(Mode::fit, 0, false);
    loop.advance(1.0);
    EXPECT_EQ(pushes, 1);
}

}  // namespace
}  // namespace tamborix::testing
