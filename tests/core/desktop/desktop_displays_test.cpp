#include "desktop_fixture.h"

namespace tamborix::testing {
namespace {

// The primary display at the origin, a secondary one to its left and a bit lower.
const Rect primary{0, 0, 1920, 1080};
const Rect leftSecondary{-1280, 200, 1280, 800};

TEST_F(DesktopTest, Displays_SecondaryOnTheLeft_ListedFirstAndCountedFrom) {
    setDisplays({primary, leftSecondary});

    EXPECT_EQ(desktop.displays(), (std::vector<Rect>{leftSecondary, primary}));
    const auto list = desktop.displayList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, 2u);
    EXPECT_EQ(list[1].id, 1u);

    displays.setPointer(Point{-10, 300});
    EXPECT_EQ(desktop.currentDisplay(), 1);
    displays.setPointer(Point{10, 10});
    EXPECT_EQ(desktop.currentDisplay(), 2);
}

TEST_F(DesktopTest, DisplayList_SameLeftEdge_OrderedByTopThenKeepsSystemOrder) {
    const Rect lower{0, 1080, 1920, 1080};
    const Rect twinA{1920, 0, 800, 600};
    const Rect twinB{1920, 0, 1024, 768};  // same left and top edge as twinA
    setDisplays({lower, twinA, primary, twinB});

    EXPECT_EQ(desktop.displays(), (std::vector<Rect>{primary, lower, twinA, twinB}));
}

TEST_F(DesktopTest, CurrentDisplay_PointerOffEveryDisplayOrUnreadable_IsOne) {
    setDisplays({primary, leftSecondary});
    displays.setPointer(Point{-1280, 0});  // above the secondary: on no display
    EXPECT_EQ(desktop.currentDisplay(), 1);

    // An unreadable pointer counts as (0, 0), which is on the primary, the second in order.
    displays.setPointer(std::nullopt);
    EXPECT_EQ(desktop.currentDisplay(), 2);

    // The right and bottom edges belong to the neighbour.
    displays.setPointer(Point{0, 500});
    EXPECT_EQ(desktop.currentDisplay(), 2);
}

TEST_F(DesktopTest, Jump_OutOfRange_ReturnsFalseAndMovesNothing) {
    setDisplays({primary, leftSecondary});
    EXPECT_FALSE(desktop.jump(0));
    EXPECT_FALSE(desktop.jump(3));
    EXPECT_FALSE(desktop.jump(-1));
    EXPECT_TRUE(sink.posted().empty());
    EXPECT_EQ(surface.pulses, 0);
}

TEST_F(DesktopTest, Jump_SecondDisplay_WarpsToCentreAndShowsFinderThere) {
    setDisplays({primary, leftSecondary});
    ASSERT_TRUE(desktop.jump(2));

    // A plain warp, not an injected mouse event, so the injector's bookkeeping is untouched.
    ASSERT_EQ(sink.posted().size(), 1u);
    ASSERT_EQ(sink.warps().size(), 1u);
    EXPECT_EQ(sink.warps()[0].at, (Point{960, 540}));
    EXPECT_EQ(surface.pulses, 1);
    EXPECT_EQ(surface.finderFrame, (Rect{850, 430, 220, 220}));

    ASSERT_TRUE(desktop.jump(1));
    EXPECT_EQ(sink.warps()[1].at, (Point{-640, 600}));
}

TEST_F(DesktopTest, Jump_InputCannotBePosted_ReturnsFalse) {
    setDisplays({primary});
    sink.setMayPost(false, "no XTEST");
    EXPECT_FALSE(desktop.jump(1));
    EXPECT_EQ(surface.pulses, 0);
}

}  // namespace
}  // namespace tamborix::testing
