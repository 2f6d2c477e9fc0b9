// Each command's members, what it does (dry-run log or the fakes) and what it answers.

#include <gtest/gtest.h>

#include <cstdio>

#include "core/desktop/laser_overlay.h"
#include "core/input/smoother.h"
#include "core_harness.h"
#include "protocol/wire.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

class Commands : public ::testing::Test {
protected:
    explicit Commands(bool dryRun = true) : h(dryRun) {
        watch = h.core->subscribe([this](HelperCore::Property p) {
            if (p == HelperCore::Property::lastEvent && h.lastEvent().starts_with("Rejected"))
                ++rejections;
        });
        phone = h.phone("Phone");
    }

    // Sends one command; true when it was not rejected.
    bool accepted(const json& command) {
        const int before = rejections;
        phone->send(command);
        EXPECT_FALSE(phone->ended()) << command.dump();
        return rejections == before;
    }
    void expectRejected(std::initializer_list<json> commands) {
        for (const auto& c : commands) {
            const auto logSize = h.log().size();
            EXPECT_FALSE(accepted(c)) << c.dump();
            EXPECT_EQ(h.log().size(), logSize) << c.dump();
        }
    }

    CoreHarness h;
    Subscription watch;
    int rejections = 0;
    std::unique_ptr<LoopbackPhone> phone;
};

class LiveCommands : public Commands {
protected:
    LiveCommands() : Commands(false) {}
};

TEST_F(Commands, Run_TypeMissingOrUnknown_Rejected) {
    expectRejected({{{"x", 1}}, {{"t", 5}}, {{"t", "teleport"}}, {{"t", "ping2"}}});
}

TEST_F(Commands, Click_Count_OneToThreeIntegersOnly) {
    EXPECT_TRUE(accepted({{"t", "click"}}));
    EXPECT_EQ(h.lastLog(), "click left 1");
    EXPECT_TRUE(accepted({{"t", "click"}, {"b", "right"}, {"n", 3}}));
    EXPECT_TRUE(accepted({{"t", "click"}, {"b", 7}, {"n", 2.0}}));  // non-string "b" = left
    expectRejected({{{"t", "click"}, {"n", 4}},
                    {{"t", "click"}, {"n", 0}},
                    {{"t", "click"}, {"n", 1.5}},
                    {{"t", "click"}, {"n", true}},
                    {{"t", "click"}, {"n", "2"}},
                    {{"t", "click"}, {"b", "back"}}});
}

TEST_F(Commands, Move_Deltas_ClampedAndBooleansRejected) {
    EXPECT_TRUE(accepted({{"t", "move"}, {"dx", 9000}}));
    // A move is smoothed; the next command flushes what is left.
    EXPECT_TRUE(accepted({{"t", "scroll"}}));
    double moved = 0;
    for (const auto& line : h.log())
        if (line.starts_with("move ")) moved += std::stod(line.substr(5));
    EXPECT_DOUBLE_EQ(moved, 5000);
    expectRejected({{{"t", "move"}, {"dx", true}}, {{"t", "move"}, {"dy", "3"}}, {{"t", "move"}, {"dy", nullptr}}});
}

TEST_F(Commands, ClickScrollOrRejected_PendingMotionPostedBeforeTheCommand) {
    const std::vector<std::pair<json, std::string>> cases = {
        {{{"t", "click"}}, "click left 1"},
        {{{"t", "scroll"}, {"dy", 3}}, "scroll 0.0 3.0"},
        {{{"t", "click"}, {"n", 4}}, ""},  // rejected, but the motion still goes first
    };
    for (const auto& [command, line] : cases) {
        h.loop.advance(1.0);
        const auto start = h.log().size();
        ASSERT_TRUE(accepted({{"t", "move"}, {"dx", 600}, {"dy", -60}}));
        double spread = 0;  // the smoother posts its first step at once, the rest on its ticks
        for (std::size_t i = start; i < h.log().size(); ++i) spread += std::stod(h.log()[i].substr(5));
        ASSERT_LT(spread, 600) << "some motion must still be pending";
        phone->send(command);
        // No tick has run: everything in the log now was posted by the command's flush.
        double dx = 0;
        double dy = 0;
        std::vector<std::string> rest;
        for (std::size_t i = start; i < h.log().size(); ++i) {
            double x = 0;
            double y = 0;
            if (std::sscanf(h.log()[i].c_str(), "move %lf %lf", &x, &y) == 2) {
                EXPECT_TRUE(rest.empty()) << "motion after the command: " << h.log()[i];
                dx += x;
                dy += y;
            } else {
                rest.push_back(h.log()[i]);
            }
        }
        EXPECT_DOUBLE_EQ(dx, 600) << command.dump();
        EXPECT_DOUBLE_EQ(dy, -60) << command.dump();
        EXPECT_EQ(rest, line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
        const auto after = h.log().size();
        h.loop.advance(1.0);
        EXPECT_EQ(h.log().size(), after) << "nothing left for later ticks";
    }
}

TEST_F(Commands, Scroll_DownUpAndDeltas) {
    EXPECT_TRUE(accepted({{"t", "scroll"}, {"dx", -7000}, {"dy", 2.5}}));
    EXPECT_EQ(h.lastLog(), "scroll -5000.0 2.5");
    EXPECT_TRUE(accepted({{"t", "down"}, {"b", "middle"}}));
    EXPECT_EQ(h.lastLog(), "down middle");
    EXPECT_TRUE(accepted({{"t", "up"}}));
    EXPECT_EQ(h.lastLog(), "up left");
    expectRejected({{{"t", "down"}, {"b", "side"}}, {{"t", "scroll"}, {"dx", false}}});
}

TEST_F(Commands, Key_NamesCharactersAndModifiers) {
    EXPECT_TRUE(accepted({{"t", "key"}, {"k", "a"}}));
    EXPECT_TRUE(accepted({{"t", "key"}, {"k", "\u00e9"}, {"mods", {"shift"}}}));
    EXPECT_TRUE(accepted({{"t", "key"}, {"k", "e\u0301"}}));  // one character, two scalars
    EXPECT_TRUE(accepted({{"t", "key"}, {"k", "page_down"}, {"mods", {"cmd", "ctrl", "alt", "shift"}}}));
    EXPECT_TRUE(accepted({{"t", "key"}, {"k", "media_next"}}));
    EXPECT_EQ(h.lastLog(), "key media_next []");
    expectRejected({{{"t", "key"}, {"k", "ab"}},
                    {{"t", "key"}, {"k", "\u0007"}},
                    {{"t", "key"}, {"k", ""}},
                    {{"t", "key"}},
                    {{"t", "key"}, {"k", 65}},
                    {{"t", "key"}, {"k", "a"}, {"mods", {"cmd", "ctrl", "alt", "shift", "primary"}}},
                    {{"t", "key"}, {"k", "a"}, {"mods", {"hyper"}}},
                    {{"t", "key"}, {"k", "a"}, {"mods", "shift"}},
                    {{"t", "key"}, {"k", "a"}, {"mods", {1}}}});
}

TEST_F(Commands, Text_LengthInCharacters_ThousandAllowed) {
    std::string thousand;
    for (int i = 0; i < 1000; ++i) thousand += "e\u0301";  // one character, two scalars
    EXPECT_TRUE(accepted({{"t", "text"}, {"s", thousand}}));
    EXPECT_EQ(h.lastLog(), "text 1000");
    expectRejected({{{"t", "text"}, {"s", std::string(1001, 'a')}}, {{"t", "text"}}, {{"t", "text"}, {"s", 1}}});
}

TEST_F(Commands, Action_PlainKeysChordsAndClicks) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"next_slide", "key right []"},
        {"play_pause", "key media_play_pause []"},
        {"start_presentation", "key f5 []"},
        {"start_from_current", R"(key f5 ["shift"])"},
        {"app_switcher", R"(key tab ["alt"])"},
        {"mission_control", "key super []"},
        {"show_desktop", R"(key d ["cmd"])"},
        {"close_window", R"(key w ["primary"])"},
        {"browser_back", R"(key left ["alt"])"},
        {"copy", R"(key c ["primary"])"},
        {"zoom_out", R"(key - ["primary"])"},
        {"screenshot", "key print []"},
        {"scroll_up", "scroll 0.0 -300.0"},
        {"double_click", "click left 2"},
        {"middle_click", "click middle 1"},
    };
    for (const auto& [name, line] : expected) {
        EXPECT_TRUE(accepted({{"t", "action"}, {"a", name}})) << name;
        EXPECT_EQ(h.lastLog(), line) << name;
    }
    const auto size = h.log().size();
    EXPECT_TRUE(accepted({{"t", "action"}, {"a", "none"}}));
    EXPECT_TRUE(accepted({{"t", "action"}}));
    EXPECT_EQ(h.log().size(), size);
    expectRejected({{{"t", "action"}, {"a", "self_destruct"}}});
}

TEST_F(Commands, Pointer_DisplayNumber_ForcesDisplaysMessage) {
    h.core->injector().setLastPosted(Point{5, 5});
    EXPECT_TRUE(accepted({{"t", "pointer"}, {"d", 2}}));
    EXPECT_EQ(h.lastLog(), "pointer 2");
    EXPECT_FALSE(h.core->injector().lastPosted().has_value());
    EXPECT_EQ(h.core->injector().lastPostedAt(), InputInjector::distantPast);
    EXPECT_TRUE(accepted({{"t", "pointer"}, {"d", 2}}));
    EXPECT_EQ(phone->receivedOfType("displays").size(), 2u);
    expectRejected({{{"t", "pointer"}}, {{"t", "pointer"}, {"d", 0}}, {{"t", "pointer"}, {"d", 17}},
                    {{"t", "pointer"}, {"d", 1.5}}, {{"t", "pointer"}, {"d", "1"}}});
}

TEST_F(Commands, Laser_DryRun_RecordsAndSetsGlide) {
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", true}}));
    EXPECT_EQ(h.lastLog(), "laser true");
    EXPECT_FALSE(h.core->laser().isOn());
    EXPECT_EQ(h.core->smootherIfCreated()->glide(), 0.5);
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", false}}));
    EXPECT_EQ(h.core->smootherIfCreated()->glide(), 1.0);
    expectRejected({{{"t", "laser"}}, {{"t", "laser"}, {"on", 1}}});
}

TEST_F(Commands, SimpleDryRunLines_FindCursorWindowOpenActivate) {
    EXPECT_TRUE(accepted({{"t", "find_cursor"}}));
    EXPECT_EQ(h.lastLog(), "find_cursor");
    EXPECT_TRUE(accepted({{"t", "window"}, {"op", "next"}}));
    EXPECT_EQ(h.lastLog(), "window next");
    EXPECT_TRUE(accepted({{"t", "open"}, {"url", "https://example.org"}, {"app", "x"}}));
    EXPECT_EQ(h.lastLog(), "open url");
    EXPECT_TRUE(accepted({{"t", "open"}, {"url", 3}, {"app", "Files"}}));
    EXPECT_EQ(h.lastLog(), "open app");
    EXPECT_TRUE(accepted({{"t", "app_activate"}, {"id", std::string(128, 'i')}}));
    EXPECT_EQ(h.lastLog(), "activate " + std::string(128, 'i'));
    expectRejected({{{"t", "window"}, {"op", "min"}}, {{"t", "window"}}, {{"t", "open"}},
                    {{"t", "app_activate"}, {"id", std::string(129, 'i')}}, {{"t", "app_activate"}}});
}

TEST_F(Commands, Clipboard_DryRun_SetCountsAndGetPlaceholder) {
    EXPECT_TRUE(accepted({{"t", "clip_set"}, {"s", "h\u00e9llo"}, {"paste", true}}));
    ASSERT_GE(h.log().size(), 2u);
    EXPECT_EQ(h.log()[h.log().size() - 2], "clip_set 5 paste=true");
    EXPECT_EQ(h.lastLog(), R"(key v ["primary"])");
    EXPECT_EQ(h.lastEvent(), "Clipboard received from Phone");
    EXPECT_TRUE(accepted({{"t", "clip_set"}, {"s", ""}, {"paste", "yes"}}));
    EXPECT_EQ(h.lastLog(), "clip_set 0 paste=false");
    EXPECT_FALSE(h.clipboard.content.has_value());
    EXPECT_TRUE(accepted({{"t", "clip_get"}}));
    EXPECT_EQ(phone->received().back(), (json{{"t", "clip"}, {"s", "dry-run clipboard"}}));
    expectRejected({{{"t", "clip_set"}, {"s", std::string(3001, 'c')}}, {{"t", "clip_set"}}});
}

TEST_F(Commands, AppsGet_DryRun_OneFixedEntryNoIcons) {
    EXPECT_TRUE(accepted({{"t", "apps_get"}, {"icons", true}}));
    ASSERT_EQ(phone->received().size(), 1u);
    const auto& apps = phone->received()[0];
    EXPECT_EQ(apps["t"], "apps");
    ASSERT_EQ(apps["list"].size(), 1u);
    EXPECT_EQ(apps["list"][0]["n"], "Dry Run App");
    EXPECT_EQ(apps["list"][0]["f"], true);
    EXPECT_TRUE(apps["list"][0]["id"].is_string());
}

TEST_F(Commands, StatsGet_RepliesWithStats) {
    h.core->setTransportStats([] { return json{{"bleBacklog", 3}, {"sessions", 99}}; });
    EXPECT_TRUE(accepted({{"t", "stats_get"}}));
    const auto stats = phone->receivedOfType("stats");
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0]["sessions"], 1);
    EXPECT_EQ(stats[0]["bleBacklog"], 3);
}

TEST_F(LiveCommands, ClipSet_WritesClipboardAndPastes) {
    EXPECT_TRUE(accepted({{"t", "clip_set"}, {"s", "copied"}, {"paste", true}}));
    EXPECT_EQ(h.clipboard.content, "copied");
    EXPECT_FALSE(h.sink.keys().empty());
}

// A clipboard the desktop does not share must not be filled in private: the paste that follows
// would insert whatever the desktop's clipboard held.
TEST_F(LiveCommands, ClipSetAndGet_ClipboardNotShared_RejectedWithoutPastingOrAnswering) {
    h.clipboard.readOnly = true;
    EXPECT_FALSE(accepted({{"t", "clip_set"}, {"s", "copied"}, {"paste", true}}));
    EXPECT_TRUE(h.sink.keys().empty()) << "nothing may be pasted";
    EXPECT_NE(h.lastEvent().find("Rejected"), std::string::npos);

    h.clipboard.unshared = "the clipboard cannot be shared on this desktop (no portal)";
    h.clipboard.content = "stale";
    EXPECT_FALSE(accepted({{"t", "clip_get"}}));
    EXPECT_TRUE(phone->receivedOfType("clip").empty()) << "an empty or stale text would be a wrong answer";
}

TEST_F(LiveCommands, Window_NoFrontWindowPassesQuietly_ASessionThatCannotPlaceWindowsRejects) {
    EXPECT_TRUE(accepted({{"t", "window"}, {"op", "left"}}));
    h.windows.unavailable = "windows cannot be placed on this desktop (no desktop backend)";
    EXPECT_FALSE(accepted({{"t", "window"}, {"op", "left"}}));
}

TEST_F(LiveCommands, LaserAndFinder_NoOverlayPossible_ToldOnceOnTheEventLine) {
    h.overlay.unavailable = "no surface above windows";
    std::vector<std::string> events;
    auto watch = h.core->subscribe([&](HelperCore::Property p) {
        if (p == HelperCore::Property::lastEvent) events.push_back(h.lastEvent());
    });
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", true}}));
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", false}}));
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", true}}));
    EXPECT_TRUE(accepted({{"t", "find_cursor"}}));
    EXPECT_EQ(events, (std::vector<std::string>{
                          "The laser and the cursor finder cannot be shown on this desktop: no surface above windows"}));
}

TEST_F(LiveCommands, Text_CharacterTheSinkCannotType_ToldOnceOnTheEventLine) {
    h.sink.setUntypable(u"λ", "no key");
    std::vector<std::string> events;
    auto watch = h.core->subscribe([&](HelperCore::Property p) {
        if (p == HelperCore::Property::lastEvent) events.push_back(h.lastEvent());
    });
    EXPECT_TRUE(accepted({{"t", "text"}, {"s", "aλbλ"}}));
    EXPECT_TRUE(accepted({{"t", "text"}, {"s", "λ"}}));
    EXPECT_EQ(events, (std::vector<std::string>{"Could not type “λ”: no key"}));
}

TEST_F(LiveCommands, ClipGet_CutToThreeThousandCharacters_EmptyWhenNone) {
    EXPECT_TRUE(accepted({{"t", "clip_get"}}));
    EXPECT_EQ(phone->received().back(), (json{{"t", "clip"}, {"s", ""}}));
    h.clipboard.content = std::string(2999, 'x') + "\u00e9\u00e9\u00e9";
    EXPECT_TRUE(accepted({{"t", "clip_get"}}));
    EXPECT_EQ(phone->received().back()["s"], std::string(2999, 'x') + "\u00e9");
}

std::string repeat(std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
}

// Whether the message would no longer fit with one more unit of the text.
bool atTheLimit(json message, const char* key, std::string_view unit) {
    message[key] = message[key].get<std::string>() + std::string(unit);
    return message.dump(-1, ' ', false, json::error_handler_t::replace).size() > 4063;
}

TEST_F(LiveCommands, ClipGet_WorstTexts_LongestPrefixThatOpensOnThePhone) {
    // Each unit is one character: CJK (3 bytes), a control character (escaped to 6), an emoji
    // family joined by ZWJ (18 bytes), a quote (escaped to 2).
    for (const std::string_view unit : {"\u4e2d", "\x01", "\U0001F468\u200D\U0001F469\u200D\U0001F467",
                                        "\""}) {
        phone->clearReceived();
        h.clipboard.content = repeat(unit, 3000);
        EXPECT_TRUE(accepted({{"t", "clip_get"}}));
        ASSERT_EQ(phone->received().size(), 1u) << unit;
        const auto& clip = phone->received()[0];
        const auto s = clip["s"].get<std::string>();
        EXPECT_FALSE(s.empty());
        EXPECT_TRUE(h.clipboard.content->starts_with(s));
        EXPECT_EQ(s.size() % unit.size(), 0u);  // whole characters only
        EXPECT_TRUE(atTheLimit(clip, "s", unit)) << s.size();
    }
    EXPECT_EQ(phone->undecryptable(), 0);
}

TEST_F(LiveCommands, AppsGetAndContext_FortyLongNamesAndIds_EveryFrameOpensOnThePhone) {
    for (int i = 0; i < 40; ++i) {
        h.workspace.running.push_back(
            {.handle = static_cast<AppHandle>(i + 1),
             .appId = "org.example.app" + std::to_string(i) + ".desktop",
             .name = std::to_string(i) + repeat("\u540d", 63)});
        h.workspace.icons[static_cast<AppHandle>(i + 1)] = Bytes(2700, 0x42);
    }
    h.workspace.front = 40;
    EXPECT_TRUE(accepted({{"t", "apps_get"}, {"icons", true}}));
    const auto apps = phone->receivedOfType("apps");
    ASSERT_EQ(apps.size(), 1u);
    const auto& list = apps[0]["list"];
    // Every application is listed, each under as much of its name as fits.
    ASSERT_EQ(list.size(), 40u);
    for (const auto& entry : list) {
        EXPECT_TRUE(entry["id"].get<std::string>().starts_with("org.example.app"));
        EXPECT_GT(entry["n"].get<std::string>().size(), 10u);
    }
    EXPECT_EQ(phone->receivedOfType("app_icon").size(), 40u);

    // Ids too long to list them all: the first ones, in order.
    for (auto& app : h.workspace.running) app.appId = repeat("\u00e9", 100) + app.appId;
    phone->clearReceived();
    EXPECT_TRUE(accepted({{"t", "apps_get"}}));
    ASSERT_EQ(phone->receivedOfType("apps").size(), 1u);
    const auto shorter = phone->receivedOfType("apps")[0]["list"];
    EXPECT_GT(shorter.size(), 5u);
    EXPECT_LT(shorter.size(), 40u);
    EXPECT_EQ(shorter[0]["id"], list[0]["id"].get<std::string>().insert(0, repeat("\u00e9", 100)));

    // A front application whose 64 characters each carry forty combining marks.
    h.workspace.running.push_back({.handle = 99, .appId = "zalgo.desktop",
                                   .name = repeat("a" + repeat("\u0301", 40), 64)});
    h.workspace.front = 99;
    h.core->startWatchingFrontApp();
    h.loop.advance(1.0);
    const auto context = phone->receivedOfType("context");
    ASSERT_FALSE(context.empty());
    EXPECT_EQ(context.back()["id"], "zalgo.desktop");
    EXPECT_FALSE(context.back()["app"].get<std::string>().empty());
    EXPECT_EQ(phone->undecryptable(), 0);
    for (const auto& text : phone->receivedTexts()) EXPECT_LE(text.size(), 4063u);
}

TEST_F(LiveCommands, AppsGet_Icons_AppsFirstThenIconsInOrder) {
    h.workspace.running = {{.handle = 1, .appId = "b.desktop", .name = "Beta"},
                           {.handle = 2, .appId = "a.desktop", .name = "Alpha"},
                           {.handle = 3, .appId = "c.desktop", .name = "Gamma"}};
    h.workspace.front = 2;
    h.workspace.icons = {{1, Bytes{1, 2, 3}}, {2, Bytes{4, 5}}};
    EXPECT_TRUE(accepted({{"t", "apps_get"}, {"icons", true}}));
    const auto& got = phone->received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0]["t"], "apps");
    ASSERT_EQ(got[0]["list"].size(), 3u);
    EXPECT_EQ(got[0]["list"][0], (json{{"n", "Alpha"}, {"id", "a.desktop"}, {"f", true}}));
    EXPECT_EQ(got[1], (json{{"t", "app_icon"}, {"id", "a.desktop"}, {"png", Wire::b64std(Bytes{4, 5})}}));
    EXPECT_EQ(got[2]["id"], "b.desktop");
    phone->clearReceived();
    EXPECT_TRUE(accepted({{"t", "apps_get"}}));
    EXPECT_EQ(phone->received().size(), 1u);
}

TEST_F(LiveCommands, DesktopFailures_Rejected) {
    h.workspace.openUrlResult = false;
    expectRejected({{{"t", "open"}, {"url", "https://example.org"}},
                    {{"t", "open"}, {"app", "Nothing Installed"}},
                    {{"t", "app_activate"}, {"id", "missing.desktop"}},
                    {{"t", "pointer"}, {"d", 3}}});
}

TEST_F(LiveCommands, Pointer_Jump_WarpsToDisplayCentre) {
    EXPECT_TRUE(accepted({{"t", "pointer"}, {"d", 2}}));
    ASSERT_FALSE(h.sink.warps().empty());
    EXPECT_EQ(h.sink.warps().back().at, (Point{1920 + 640, 512}));
}

TEST_F(LiveCommands, Laser_On_ShowsOverlayAndFollowsInjectedMoves) {
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", true}}));
    EXPECT_TRUE(h.core->laser().isOn());
    EXPECT_TRUE(h.overlay.laserVisible);
    EXPECT_TRUE(accepted({{"t", "move"}, {"dx", 10}, {"dy", 0}}));
    EXPECT_EQ(h.core->laser().lastInjected(), h.loop.now());
    EXPECT_TRUE(accepted({{"t", "laser"}, {"on", false}}));
    EXPECT_FALSE(h.overlay.laserVisible);
}

}  // namespace
}  // namespace tamborix::testing
