#include <algorithm>
#include <cstdio>

#include "desktop_fixture.h"

namespace tamborix::testing {
namespace {

RunningApp app(AppHandle h, std::string name, std::string id) {
    return RunningApp{h, std::move(id), std::move(name), true, false};
}

std::vector<std::string> names(const std::vector<DesktopControl::OpenApp>& list) {
    std::vector<std::string> out;
    for (const auto& a : list) out.push_back(a.name);
    return out;
}

TEST_F(DesktopTest, OpenApps_FortyFiveRunning_FirstFortyByNameAndOnlyThoseActivate) {
    // Added in reverse name order, so that the platform's order is not the answer.
    for (int i = 45; i >= 1; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "App %02d", i);
        workspace.running.push_back(app(static_cast<AppHandle>(i), name, "app" + std::to_string(i)));
    }
    const auto list = desktop.openApps();
    ASSERT_EQ(list.size(), 40u);
    EXPECT_EQ(list.front().name, "App 01");
    EXPECT_EQ(list.back().name, "App 40");
    EXPECT_EQ(list.back().id, "app40");

    EXPECT_FALSE(desktop.activate("app45"));
    EXPECT_TRUE(workspace.activated.empty());

    EXPECT_TRUE(desktop.activate("app40"));
    EXPECT_EQ(workspace.unhidden, (std::vector<AppHandle>{40}));
    EXPECT_EQ(workspace.activated, (std::vector<AppHandle>{40}));
}

TEST_F(DesktopTest, OpenApps_MixedApplications_OnlyRegularOthersWithIdsSortedIgnoringCase) {
    workspace.running = {
        app(1, "zebra", "zebra.desktop"),
        app(2, "Tamborix Helper", workspace.ownId),
        app(3, "Apple", "apple.desktop"),
        app(4, "panel", "panel.desktop"),
        app(5, "banana", "banana.desktop"),
        app(6, "no id", ""),
        app(7, "gone", "gone.desktop"),
        app(8, "", "nameless.desktop"),
        app(9, "Éclair", "eclair.desktop"),
    };
    workspace.running[3].regular = false;
    workspace.running[6].terminated = true;
    workspace.front = 5;

    const auto list = desktop.openApps();
    EXPECT_EQ(names(list),
              (std::vector<std::string>{"App", "Apple", "banana", "Éclair", "zebra"}));
    for (const auto& a : list) {
        EXPECT_NE(a.id, workspace.ownId);
        EXPECT_EQ(a.front, a.id == "banana.desktop") << a.id;
    }
    EXPECT_FALSE(desktop.activate(workspace.ownId));
}

TEST_F(DesktopTest, OpenApps_NoFrontApplication_NoneMarkedFront) {
    workspace.running = {app(1, "One", "one"), app(2, "Two", "two")};
    for (const auto& a : desktop.openApps()) EXPECT_FALSE(a.front);
}

TEST_F(DesktopTest, OpenApps_LongNames_CutToSixtyFourCharactersNotBytes) {
    // 70 characters, each "e" + combining acute (two code points, three bytes).
    std::string accented;
    for (int i = 0; i < 70; ++i) accented += "e\xCC\x81";
    // A name with a broken UTF-8 sequence still comes out as valid text.
    const std::string broken = "Bad\xFF name";
    workspace.running = {app(1, accented, "long"), app(2, broken, "broken"),
                         app(3, std::string(64, 'x'), "exact")};

    const auto list = desktop.openApps();
    ASSERT_EQ(list.size(), 3u);
    const auto find = [&](const std::string& id) {
        return *std::find_if(list.begin(), list.end(), [&](const auto& a) { return a.id == id; });
    };
    std::string expected;
    for (int i = 0; i < 64; ++i) expected += "e\xCC\x81";
    EXPECT_EQ(find("long").name, expected);
    EXPECT_EQ(find("exact").name, std::string(64, 'x'));
    EXPECT_EQ(find("broken").name, "Bad\xEF\xBF\xBD name");
}

TEST_F(DesktopTest, Activate_PlatformRefuses_ReturnsFalse) {
    workspace.running = {app(1, "One", "one")};
    workspace.activateResult = false;
    EXPECT_FALSE(desktop.activate("one"));
    EXPECT_FALSE(desktop.activate(""));
}

TEST_F(DesktopTest, IconPNG_AtAndOverTheLimit_OnlyTheSmallOneReturned) {
    const auto small = app(1, "Small", "small");
    const auto large = app(2, "Large", "large");
    const auto none = app(3, "None", "none");
    workspace.icons[1] = Bytes(2700, 0x89);
    workspace.icons[2] = Bytes(2701, 0x89);

    const auto icon = desktop.iconPNG(small, 40);
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->size(), 2700u);
    EXPECT_FALSE(desktop.iconPNG(large, 40).has_value());
    EXPECT_FALSE(desktop.iconPNG(none, 40).has_value());
    EXPECT_FALSE(desktop.iconPNG(small, 0).has_value());
}

}  // namespace
}  // namespace tamborix::testing
