#include <gtest/gtest.h>

#include "core/desktop/cursor_finder.h"
#include "core/desktop/laser_overlay.h"
#include "testing/fake_display_source.h"
#include "testing/fake_overlay_surface.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

class OverlayTest : public ::testing::Test {
protected:
    OverlayTest() {
        displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}));
        displays.setPointer(Point{100, 200});
    }

    ManualLoop loop;
    FakeDisplaySource displays;
    FakeOverlaySurface surface;
    LaserOverlay laser{loop, displays, surface};
    CursorFinder finder{loop, displays, surface};
};

TEST_F(OverlayTest, SetOn_Twice_OneTimerAndOneShow) {
    laser.setOn(true);
    laser.setOn(true);
    EXPECT_TRUE(laser.isOn());
    EXPECT_EQ(loop.pendingTimers(), 1u);
    EXPECT_EQ(surface.laserShows, 1);
    EXPECT_TRUE(surface.laserVisible);
    EXPECT_EQ(surface.laserOrigin, (Point{77, 177}));

    // A direct second start replaces the timer rather than adding one.
    laser.start();
    EXPECT_EQ(loop.pendingTimers(), 1u);

    laser.setOn(false);
    laser.setOn(false);
    EXPECT_FALSE(laser.isOn());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    EXPECT_FALSE(surface.laserVisible);
}

TEST_F(OverlayTest, Follow_IdlePointer_NoWindowUpdates) {
    laser.setOn(true);
    loop.advance(1.0);  // 60 ticks
    EXPECT_TRUE(surface.laserMoves.empty());

    displays.setPointer(Point{300, 400});
    loop.advance(1.0 / 60);
    ASSERT_EQ(surface.laserMoves.size(), 1u);
    EXPECT_EQ(surface.laserMoves.back(), (Point{277, 377}));
    loop.advance(0.5);
    EXPECT_EQ(surface.laserMoves.size(), 1u);
}

TEST_F(OverlayTest, InjectedMoves_TrackedThenLocalPointerAfterQuarterSecond) {
    laser.setOn(true);
    for (int i = 1; i <= 5; ++i) {
        loop.advance(0.01);
        laser.onInjectedMove(Point{500.0 + i, 500});
        EXPECT_EQ(surface.laserOrigin, (Point{477.0 + i, 477})) << i;
    }
    const MonoTime lastMove = loop.now();
    EXPECT_EQ(laser.lastInjected(), lastMove);

    // The local pointer (still at 100, 200) is ignored for 0.25 s after the last injected move.
    loop.advance(0.25);
    EXPECT_EQ(surface.laserOrigin, (Point{482, 477}));
    // The first tick after that follows it again.
    loop.advance(1.0 / 60);
    EXPECT_EQ(surface.laserOrigin, (Point{77, 177}));
    EXPECT_GT(loop.now() - lastMove, seconds(0.25));
}

TEST_F(OverlayTest, InjectedMove_WhileOff_MovesNothing) {
    laser.onInjectedMove(Point{5, 5});  // never started
    EXPECT_FALSE(surface.laserOrigin.has_value());

    laser.setOn(true);
    laser.setOn(false);
    const auto movesBefore = surface.laserMoves.size();
    laser.onInjectedMove(Point{600, 600});
    displays.setPointer(Point{700, 700});
    loop.advance(1.0);
    EXPECT_EQ(surface.laserMoves.size(), movesBefore);
    EXPECT_FALSE(surface.laserVisible);
}

TEST_F(OverlayTest, Place_BeforeFirstStart_DoesNothing) {
    laser.place(Point{10, 10});
    EXPECT_FALSE(surface.laserOrigin.has_value());
    EXPECT_TRUE(surface.laserMoves.empty());
}

TEST_F(OverlayTest, Start_NoScreensAndNoPointer_PlacedAtOriginWithoutFailing) {
    displays.setDisplays({});
    displays.setPointer(std::nullopt);
    laser.setOn(true);
    EXPECT_EQ(surface.laserOrigin, (Point{-23, -23}));
    laser.onInjectedMove(Point{50, 60});
    EXPECT_EQ(surface.laserOrigin, (Point{27, 37}));

    finder.show();
    EXPECT_EQ(surface.finderFrame, (Rect{-110, -110, 220, 220}));
}

TEST_F(OverlayTest, FinderShow_TwoRequestsHalfSecondApart_HiddenOnceAfterTheSecond) {
    finder.show(Point{1000, 500});
    EXPECT_TRUE(surface.finderVisible);
    EXPECT_EQ(surface.finderFrame, (Rect{890, 390, 220, 220}));

    loop.advance(0.5);
    finder.show();  // around the pointer this time
    EXPECT_EQ(surface.pulses, 2);
    EXPECT_EQ(surface.finderFrame, (Rect{-10, 90, 220, 220}));

    loop.advance(1.19);  // well past 1.2 s after the first request, just short of the second's
    EXPECT_TRUE(surface.finderVisible);
    EXPECT_EQ(surface.finderHides, 0);

    loop.advance(0.01);  // 1.2 s after the second
    EXPECT_FALSE(surface.finderVisible);
    EXPECT_EQ(surface.finderHides, 1);
    EXPECT_FALSE(finder.hidePending());

    loop.advance(5.0);
    EXPECT_EQ(surface.finderHides, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

}  // namespace
}  // namespace tamborix::testing
