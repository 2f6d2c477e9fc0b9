#include "core/desktop/window_layout.h"
#include "desktop_fixture.h"

namespace tamborix::testing {
namespace {

// Two screens side by side; each has a panel at its top, so usable areas differ from bounds.
DisplayInfo screen(std::uint32_t id, Rect bounds, double panel) {
    return DisplayInfo{id, bounds, Rect{bounds.x, bounds.y + panel, bounds.width,
                                        bounds.height - panel}};
}

class WindowTest : public DesktopTest {
protected:
    void SetUp() override {
        // The system lists the right-hand screen first.
        displays.setDisplays({screen(1, {1000, 0, 2000, 1200}, 0), screen(2, {0, 0, 1000, 800}, 40)});
        windows.focused = 7;
    }
};

TEST_F(WindowTest, Window_LeftRightMax_OnTheScreenHoldingTheCentre) {
    windows.windowFrame = {1200, 100, 600, 400};  // centre on the right-hand screen
    ASSERT_TRUE(desktop.window("left"));
    EXPECT_EQ(windows.setFrames.back(), (Rect{1000, 0, 1000, 1200}));
    ASSERT_TRUE(desktop.window("right"));
    EXPECT_EQ(windows.setFrames.back(), (Rect{2000, 0, 1000, 1200}));

    windows.windowFrame = {900, 100, 150, 100};  // straddles; centre (975, 150) on the left one
    ASSERT_TRUE(desktop.window("max"));
    EXPECT_EQ(windows.setFrames.back(), (Rect{0, 40, 1000, 760}));
}

TEST_F(WindowTest, Window_Next_KeepsRelativePlaceAndSizeAndWraps) {
    windows.windowFrame = {100, 230, 500, 380};  // on the left screen's area (0, 40, 1000, 760)
    ASSERT_TRUE(desktop.window("next"));
    // x = 1000 + 100/1000*2000, y = 0 + 190/760*1200, size scaled by 2 and 1200/760.
    const Rect moved = windows.setFrames.back();
    EXPECT_DOUBLE_EQ(moved.x, 1200);
    EXPECT_DOUBLE_EQ(moved.y, 300);
    EXPECT_DOUBLE_EQ(moved.width, 1000);
    EXPECT_DOUBLE_EQ(moved.height, 600);

    ASSERT_TRUE(desktop.window("next"));  // from the last area back to the first
    const Rect back = windows.setFrames.back();
    EXPECT_DOUBLE_EQ(back.x, 100);
    EXPECT_DOUBLE_EQ(back.y, 230);
    EXPECT_DOUBLE_EQ(back.width, 500);
    EXPECT_DOUBLE_EQ(back.height, 380);
}

TEST_F(WindowTest, Window_NextOnOneScreen_StaysAndShrinksOversizedWindow) {
    displays.setDisplays({screen(1, {0, 0, 1920, 1080}, 30)});
    windows.windowFrame = {-50, 0, 2400, 1500};  // larger than the usable area
    ASSERT_TRUE(desktop.window("next"));
    const Rect r = windows.setFrames.back();
    EXPECT_DOUBLE_EQ(r.x, -50);
    EXPECT_DOUBLE_EQ(r.y, 30 + (0 - 30) / 1050.0 * 1050);
    EXPECT_DOUBLE_EQ(r.width, 1920);
    EXPECT_DOUBLE_EQ(r.height, 1050);
}

TEST_F(WindowTest, Window_CentreOnNoScreen_UsesTheFirstArea) {
    windows.windowFrame = {-3000, -3000, 100, 100};
    ASSERT_TRUE(desktop.window("max"));
    EXPECT_EQ(windows.setFrames.back(), (Rect{0, 40, 1000, 760}));
}

TEST_F(WindowTest, Window_Failures_ReturnFalseWithoutMoving) {
    windows.windowFrame = {100, 100, 200, 200};
    EXPECT_FALSE(desktop.window("centre"));
    EXPECT_FALSE(desktop.window(""));

    windows.frameReadable = false;
    EXPECT_FALSE(desktop.window("max"));
    windows.frameReadable = true;

    windows.focused.reset();
    EXPECT_FALSE(desktop.window("max"));
    windows.focused = 7;

    displays.setDisplays({});
    EXPECT_FALSE(desktop.window("max"));
    EXPECT_TRUE(windows.setFrames.empty());

    displays.setDisplays({screen(1, {0, 0, 1920, 1080}, 0)});
    windows.setResult = false;
    EXPECT_FALSE(desktop.window("max"));
}

TEST_F(WindowTest, Window_UnknownUsableArea_FallsBackToBounds) {
    displays.setDisplays({DisplayInfo{1, {0, 0, 1280, 720}, {}}});
    windows.windowFrame = {10, 10, 100, 100};
    ASSERT_TRUE(desktop.window("left"));
    EXPECT_EQ(windows.setFrames.back(), (Rect{0, 0, 640, 720}));
}

}  // namespace
}  // namespace tamborix::testing
