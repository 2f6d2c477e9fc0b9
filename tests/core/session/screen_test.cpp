// Screen sharing: stored decisions, the user's approval, capture availability and the streamer.

#include <gtest/gtest.h>

#include <cstdio>

#include "core_harness.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

class Screen : public ::testing::Test {
protected:
    explicit Screen(bool dryRun = true) : h(dryRun) {
        h.core->setApproveScreen([this](const std::string& name, std::function<void(bool)> a) {
            asked.push_back(name);
            answers.push_back(std::move(a));
        });
        phone = h.phone("Viewer");
    }
    [[nodiscard]] std::vector<json> states() const { return phone->receivedOfType("screen_state"); }
    [[nodiscard]] std::optional<bool> stored() const {
        return h.store.deviceById(phone->conn()->device->id)->screen;
    }

    CoreHarness h;
    std::vector<std::string> asked;
    std::vector<std::function<void(bool)>> answers;
    std::unique_ptr<LoopbackPhone> phone;
};

class LiveScreen : public Screen {
protected:
    LiveScreen() : Screen(false) {}
};

TEST_F(Screen, DryRun_NoDecision_StoresTrueAndStreams) {
    phone->send({{"t", "screen"}, {"on", true}, {"mode", "zoom"}, {"d", "2"}});
    EXPECT_TRUE(states().empty());  // decided on the loop
    h.loop.runPosted();
    ASSERT_EQ(states().size(), 1u);
    EXPECT_EQ(states()[0], (json{{"t", "screen_state"}, {"on", true}}));
    EXPECT_EQ(stored(), true);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(h.core->sharingWith(), std::vector<std::string>{"Viewer"});
    EXPECT_EQ(h.lastEvent(), "Screen shared with Viewer");
    EXPECT_TRUE(h.core->streaming(phone->conn()));
    h.loop.advance(0.5);
    const auto frames = phone->receivedOfType("scr");
    ASSERT_FALSE(frames.empty());

    // A tap on the picture lands on the display and may click.
    const auto id = frames[0]["id"].get<std::int64_t>();
    phone->send({{"t", "tap"}, {"id", id}, {"x", 0.5}, {"y", 0.5}, {"click", true}});
    ASSERT_GE(h.log().size(), 2u);
    EXPECT_TRUE(h.log()[h.log().size() - 2].starts_with("tap ")) << h.log()[h.log().size() - 2];
    EXPECT_EQ(h.lastLog(), "click left 1");

    // The next picture waits for the acknowledgement of this one (up to its timeout)...
    const auto firstChunks = [&] {
        std::vector<std::int64_t> ids;
        for (const auto& f : phone->receivedOfType("scr"))
            if (f["i"] == 0) ids.push_back(f["id"].get<std::int64_t>());
        return ids;
    };
    h.loop.advance(1.0);
    ASSERT_EQ(firstChunks(), std::vector<std::int64_t>{id});
    // ...and follows it soon after it came.
    phone->send({{"t", "scr_ack"}, {"id", id}});
    h.loop.advance(0.2);
    EXPECT_EQ(firstChunks(), (std::vector<std::int64_t>{id, id + 1}));
}

TEST_F(Screen, SecondOn_RestartsWithNewModeAndDisplayWithoutNewState) {
    const auto lastFirstChunk = [&] {
        json first;
        for (const auto& f : phone->receivedOfType("scr"))
            if (f["i"] == 0) first = f;
        return first;
    };
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.advance(0.2);
    auto first = lastFirstChunk();
    ASSERT_FALSE(first.is_null());
    EXPECT_EQ(first["w"], 1280);  // the whole of display 1 (1920 x 1080), scaled to fit
    EXPECT_EQ(first["h"], 720);

    phone->send({{"t", "screen"}, {"on", true}, {"mode", "cursor"}, {"d", 2}});
    h.loop.runPosted();
    EXPECT_EQ(states().size(), 1u);
    phone->send({{"t", "scr_ack"}, {"id", first["id"]}});
    h.loop.advance(0.2);
    const auto next = lastFirstChunk();
    ASSERT_EQ(next["id"], first["id"].get<std::int64_t>() + 1);
    EXPECT_EQ(next["w"], 900);  // a window around the pointer, on display 2 (x from 1920)
    EXPECT_EQ(next["h"], 560);
    phone->send({{"t", "tap"}, {"id", next["id"]}, {"x", 0.0}, {"y", 0.0}});
    int x = 0;
    int y = 0;
    ASSERT_EQ(std::sscanf(h.lastLog().c_str(), "tap %d,%d", &x, &y), 2) << h.lastLog();
    EXPECT_GE(x, 1920);
    EXPECT_LE(x, 1920 + 1280 - 900);
    phone->send({{"t", "screen"}, {"on", false}});
    ASSERT_EQ(states().size(), 2u);
    EXPECT_EQ(states()[1], (json{{"t", "screen_state"}, {"on", false}}));
    EXPECT_TRUE(h.core->sharingWith().empty());
    EXPECT_FALSE(h.core->streaming(phone->conn()));
    // Off without a stream sends nothing.
    phone->send({{"t", "screen"}, {"on", false}});
    EXPECT_EQ(states().size(), 2u);
}

TEST_F(Screen, Members_DisplayRangeAndTypes) {
    int rejected = 0;
    auto sub = h.core->subscribe([&](HelperCore::Property p) {
        if (p == HelperCore::Property::lastEvent && h.lastEvent().starts_with("Rejected")) ++rejected;
    });
    for (const auto& bad : {json{{"t", "screen"}, {"on", true}, {"d", 17}},
                            json{{"t", "screen"}, {"on", true}, {"d", -1}},
                            json{{"t", "screen"}, {"on", true}, {"d", 1e300}},
                            json{{"t", "screen"}, {"on", "yes"}}, json{{"t", "screen"}},
                            json{{"t", "scr_ack"}}, json{{"t", "scr_ack"}, {"id", "1"}},
                            json{{"t", "tap"}, {"id", 1}, {"x", 0.5}, {"y", 0.5}}}) {
        phone->send(bad);
    }
    h.loop.runPosted();
    EXPECT_EQ(rejected, 8);
    EXPECT_TRUE(states().empty());
    EXPECT_FALSE(phone->ended());
}

TEST_F(Screen, StoredRefusal_DeniedWithoutAsking) {
    h.store.setScreen(phone->conn()->device->id, false);
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    ASSERT_EQ(states().size(), 1u);
    EXPECT_EQ(states()[0], (json{{"t", "screen_state"}, {"on", false}, {"error", "denied"}}));
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(h.core->streaming(phone->conn()));
}

TEST_F(LiveScreen, NoDecision_AsksAndStoresAnswer) {
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    ASSERT_EQ(asked, std::vector<std::string>{"Viewer"});
    answers[0](false);
    EXPECT_EQ(stored(), false);
    ASSERT_EQ(states().size(), 1u);
    EXPECT_EQ(states()[0]["error"], "denied");

    h.store.setScreen(phone->conn()->device->id, std::nullopt);
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    answers[1](true);
    EXPECT_EQ(stored(), true);
    EXPECT_EQ(states().back(), (json{{"t", "screen_state"}, {"on", true}}));
    h.loop.advance(0.2);
    EXPECT_FALSE(h.capture.requests.empty());
}

TEST_F(LiveScreen, Tap_MovesPointerThereAndRemembersIt) {
    h.store.setScreen(phone->conn()->device->id, true);
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    h.loop.advance(0.2);
    const auto frames = phone->receivedOfType("scr");
    ASSERT_FALSE(frames.empty());
    h.loop.advance(0.01);
    phone->send({{"t", "tap"}, {"id", frames[0]["id"]}, {"x", 0.5}, {"y", 0.5}});
    // The whole first display is shown, so the middle of the picture is its centre.
    ASSERT_EQ(h.sink.warps().size(), 1u);
    EXPECT_EQ(h.sink.warps()[0].at, (Point{960, 540}));
    EXPECT_EQ(h.core->injector().lastPosted(), (Point{960, 540}));
    EXPECT_EQ(h.core->injector().lastPostedAt(), h.loop.now());
    EXPECT_TRUE(h.sink.mice().empty());  // moved, not clicked
}

TEST_F(LiveScreen, CaptureUnavailable_PermissionErrorAndEvent) {
    h.capture.isAvailable = false;
    h.store.setScreen(phone->conn()->device->id, true);
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    ASSERT_EQ(states().size(), 1u);
    EXPECT_EQ(states()[0], (json{{"t", "screen_state"}, {"on", false}, {"error", "permission"}}));
    EXPECT_EQ(h.lastEvent(), "Screen capture is not available in this session");
    EXPECT_FALSE(h.core->streaming(phone->conn()));
}

TEST_F(LiveScreen, ClosedWhileAsking_DecisionKeptNothingStarted) {
    phone->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    auto conn = phone->conn();
    phone->close();
    answers[0](true);
    h.loop.advance(0.5);
    EXPECT_EQ(h.store.deviceById(conn->device->id)->screen, true);
    EXPECT_FALSE(h.core->streaming(conn));
    EXPECT_TRUE(h.core->sharingWith().empty());
    EXPECT_TRUE(h.capture.requests.empty());
    EXPECT_TRUE(phone->receivedOfType("screen_state").empty());
}

TEST_F(LiveScreen, Closed_StopsStreamAndSharing) {
    auto second = h.phone("Second");
    h.store.setScreen(phone->conn()->device->id, true);
    h.store.setScreen(second->conn()->device->id, true);
    phone->send({{"t", "screen"}, {"on", true}});
    second->send({{"t", "screen"}, {"on", true}});
    h.loop.runPosted();
    EXPECT_EQ(h.core->sharingWith().size(), 2u);
    phone->close();
    EXPECT_EQ(h.core->sharingWith(), std::vector<std::string>{"Second"});
}

}  // namespace
}  // namespace tamborix::testing
