// The front application, the display layout and the statistics snapshot.

#include <gtest/gtest.h>

#include "core_harness.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

class Context : public ::testing::Test {
protected:
    Context() {
        h.workspace.running = {{.handle = 1, .appId = "firefox.desktop", .name = "Firefox"},
                               {.handle = 2, .appId = h.workspace.ownId, .name = "Tamborix Helper"},
                               {.handle = 3, .appId = "", .name = ""},
                               {.handle = 4, .appId = std::string(200, 'i'), .name = std::string(100, 'n')}};
        h.workspace.front = 1;
    }
    void activate(AppHandle handle) {
        h.workspace.front = handle;
        h.loop.advance(0.4);
    }
    CoreHarness h;
};

TEST_F(Context, FrontApp_Changes_PushedToEveryPhone) {
    auto a = h.phone("A");
    auto b = h.phone("B");
    h.core->startWatchingFrontApp();
    EXPECT_EQ(h.core->frontApp(), (HelperCore::FrontApp{"Firefox", "firefox.desktop"}));
    ASSERT_EQ(a->receivedOfType("context").size(), 1u);
    EXPECT_EQ(b->receivedOfType("context")[0],
              (json{{"t", "context"}, {"app", "Firefox"}, {"id", "firefox.desktop"}}));
    activate(3);
    EXPECT_EQ(a->receivedOfType("context").back(), (json{{"t", "context"}, {"app", "App"}, {"id", ""}}));
    activate(4);
    EXPECT_EQ(h.core->frontApp()->name, std::string(64, 'n'));
    EXPECT_EQ(h.core->frontApp()->id, std::string(128, 'i'));
    // Nothing new: nothing sent.
    const auto count = a->receivedOfType("context").size();
    h.loop.advance(2.0);
    EXPECT_EQ(a->receivedOfType("context").size(), count);
}

TEST_F(Context, FrontApp_HelperItself_IgnoredAndKeepsPrevious) {
    auto a = h.phone("A");
    h.core->startWatchingFrontApp();
    a->clearReceived();
    activate(2);
    EXPECT_TRUE(a->receivedOfType("context").empty());
    EXPECT_EQ(h.core->frontApp()->name, "Firefox");
}

TEST_F(Context, FrontApp_WorkspaceReportsChanges_OneContextPerActivationAndNoPolling) {
    h.workspace.reportsChanges = true;
    auto a = h.phone("A");
    h.core->startWatchingFrontApp();
    ASSERT_EQ(a->receivedOfType("context").size(), 1u);
    // Without a report nothing is looked at, however long the loop runs.
    h.workspace.front = 3;
    const int calls = h.workspace.calls;
    h.loop.advance(5.0);
    EXPECT_EQ(h.workspace.calls, calls);
    EXPECT_EQ(a->receivedOfType("context").size(), 1u);

    h.workspace.bringToFront(4);
    ASSERT_EQ(a->receivedOfType("context").size(), 2u);
    EXPECT_EQ(h.core->frontApp()->name, std::string(64, 'n'));
    // A second report of the same application (another of its windows) is not a new activation.
    h.workspace.bringToFront(4);
    EXPECT_EQ(a->receivedOfType("context").size(), 2u);
    h.workspace.bringToFront(1);
    EXPECT_EQ(a->receivedOfType("context").back(),
              (json{{"t", "context"}, {"app", "Firefox"}, {"id", "firefox.desktop"}}));
    EXPECT_EQ(a->receivedOfType("context").size(), 3u);
}

TEST_F(Context, ShareFrontAppOff_NoContextButMenuStillUpdated) {
    h.core->setShareFrontApp(false);
    h.core->startWatchingFrontApp();
    auto a = h.phone("A");
    auto key = KeyPair::generate();
    h.pair(key, "B");
    LoopbackPhone b(*h.core, key);
    b.connect();
    h.loop.runPosted();
    activate(3);
    EXPECT_TRUE(a->receivedOfType("context").empty());
    EXPECT_TRUE(b.receivedOfType("context").empty());
    EXPECT_EQ(b.receivedOfType("displays").size(), 1u);
    EXPECT_EQ(h.core->frontApp()->name, "App");
}

TEST_F(Context, Displays_WatcherPushesChangesOnlyWithLivePhones) {
    h.core->startWatchingDisplays();
    h.displays.setPointer(Point{2000, 10});
    h.loop.advance(1.0);  // nobody live: nothing recorded
    auto key = KeyPair::generate();
    h.pair(key, "A");
    auto a = std::make_unique<LoopbackPhone>(*h.core, key);
    a->connect();
    h.loop.runPosted();
    h.loop.advance(2.0);
    // The first phone after start-up hears the layout once, from its ready sequence.
    ASSERT_EQ(a->receivedOfType("displays").size(), 1u);
    EXPECT_EQ(a->receivedOfType("displays")[0], (json{{"t", "displays"}, {"n", 2}, {"cur", 2}}));
    // A second phone joins while a change is still unheard by the first: both hear it.
    h.displays.setPointer(Point{10, 10});
    auto b = h.phone("B");
    h.loop.advance(0.4);
    EXPECT_EQ(a->receivedOfType("displays").back(), (json{{"t", "displays"}, {"n", 2}, {"cur", 1}}));
    h.displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}));
    h.loop.advance(0.4);
    EXPECT_EQ(a->receivedOfType("displays").back(), (json{{"t", "displays"}, {"n", 1}, {"cur", 1}}));
}

TEST_F(Context, Stats_IdleHelper_ZeroSessionsAndFrames) {
    const auto stats = h.core->currentStats();
    EXPECT_EQ(stats["t"], "stats");
    EXPECT_EQ(stats["sessions"], 0);
    EXPECT_EQ(stats["rx"], 0);
    EXPECT_EQ(stats["lag"], 0);
    EXPECT_TRUE(stats["cpu"].is_number());
    EXPECT_GT(stats["mem"].get<double>(), 0);
    // Rounded to whole numbers, and sent as such.
    EXPECT_TRUE(stats["mem"].is_number_integer()) << stats.dump();
    EXPECT_TRUE(stats["lag"].is_number_integer()) << stats.dump();
}

TEST_F(Context, Stats_FramesAndTransportMembers_CoreValuesWin) {
    auto a = h.phone("A");
    h.core->setTransportStats([] { return json{{"bleBacklog", 2}, {"bleDevices", 1}, {"rx", 999}}; });
    h.loop.advance(1.0);
    a->send({{"t", "ping"}});
    a->send({{"t", "ping"}});
    h.loop.advance(1.0);
    const auto stats = h.core->currentStats();
    EXPECT_EQ(stats["rx"], 2);
    EXPECT_EQ(stats["sessions"], 1);
    EXPECT_EQ(stats["bleBacklog"], 2);
    EXPECT_EQ(stats["bleDevices"], 1);
    int notified = 0;
    auto sub = h.core->subscribe([&](HelperCore::Property p) {
        if (p == HelperCore::Property::lastStats) ++notified;
    });
    h.core->refreshStats();
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(h.core->lastStats()["sessions"], 1);
}

}  // namespace
}  // namespace tamborix::testing
