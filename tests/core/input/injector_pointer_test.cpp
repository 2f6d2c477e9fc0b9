#include <gmock/gmock.h>

#include "injector_fixture.h"

namespace tamborix::testing {
namespace {

using ::testing::ElementsAre;

std::vector<std::int64_t> clickStates(const std::vector<MouseEvent>& events) {
    std::vector<std::int64_t> out;
    for (const auto& e : events)
        if (isPress(e.type)) out.push_back(e.clickState);
    return out;
}

TEST_F(InjectorTest, Click_SameButtonWithinInterval_CountsUpAndPairsPressWithRelease) {
    auto& inj = injector();
    inj.click("left", 1);
    loop.advance(0.39);
    inj.click("left", 1);
    const auto mice = sink.mice();
    ASSERT_EQ(mice.size(), 4u);
    EXPECT_EQ(mice[0].type, MouseEventType::leftDown);
    EXPECT_EQ(mice[1].type, MouseEventType::leftUp);
    EXPECT_EQ(mice[1].clickState, 1);
    EXPECT_EQ(mice[3].type, MouseEventType::leftUp);
    EXPECT_EQ(mice[3].clickState, 2);
    EXPECT_THAT(clickStates(mice), ElementsAre(1, 2));
}

TEST_F(InjectorTest, Click_AfterIntervalOrOtherButton_StartsAgainAtOne) {
    auto& inj = injector();
    inj.click("left", 1);
    loop.advance(0.41);
    inj.click("left", 1);
    loop.advance(0.1);
    inj.click("right", 1);
    loop.advance(0.1);
    inj.click("middle", 1);
    const auto mice = sink.mice();
    EXPECT_THAT(clickStates(mice), ElementsAre(1, 1, 1, 1));
    ASSERT_EQ(mice.size(), 8u);
    EXPECT_EQ(mice[4].type, MouseEventType::rightDown);
    EXPECT_EQ(mice[4].button, MouseButton::right);
    EXPECT_EQ(mice[6].type, MouseEventType::otherDown);
    EXPECT_EQ(mice[7].type, MouseEventType::otherUp);
    EXPECT_EQ(mice[7].button, MouseButton::middle);
}

TEST_F(InjectorTest, Click_FourQuickClicksAndOneCallOfThree_WrapAfterTriple) {
    auto& inj = injector();
    for (int i = 0; i < 4; ++i) {
        inj.click("left", 1);
        loop.advance(0.1);
    }
    EXPECT_THAT(clickStates(sink.mice()), ElementsAre(1, 2, 3, 1));

    sink.clear();
    loop.advance(1.0);
    inj.click("left", 3);
    EXPECT_THAT(clickStates(sink.mice()), ElementsAre(1, 2, 3));

    sink.clear();
    inj.click("left", 0);
    EXPECT_TRUE(sink.posted().empty());
}

TEST_F(InjectorTest, Move_OffEveryDisplay_StopsAtEdgeOfDisplayItCameFrom) {
    displays.setDisplays(
        FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}));
    auto& inj = injector();

    displays.setPointer(Point{100, 1070});
    inj.move(40, 50);  // below the first display, left of the second
    ASSERT_EQ(sink.mice().size(), 1u);
    EXPECT_EQ(sink.mice()[0].at, (Point{140, 1079}));
    // The requested motion travels with the event even when the target was limited.
    EXPECT_EQ(sink.mice()[0].deltaX, 40);
    EXPECT_EQ(sink.mice()[0].deltaY, 50);

    inj.setLastPosted(std::nullopt);
    displays.setPointer(Point{3100, 10});
    inj.move(500, -100);
    EXPECT_EQ(sink.mice().back().at, (Point{3199, 0}));

    inj.setLastPosted(std::nullopt);
    displays.setPointer(Point{5, 5});
    inj.move(-20.6, -20.4);
    EXPECT_EQ(sink.mice().back().at, (Point{0, 0}));
    EXPECT_EQ(sink.mice().back().deltaX, -21);
    EXPECT_EQ(sink.mice().back().deltaY, -20);
}

TEST_F(InjectorTest, Move_OntoNeighbouringDisplay_PassesThroughUnchanged) {
    displays.setDisplays(
        FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}));
    displays.setPointer(Point{1900, 500});
    injector().move(30.5, 0);
    ASSERT_EQ(sink.mice().size(), 1u);
    EXPECT_EQ(sink.mice()[0].at, (Point{1930.5, 500}));
    EXPECT_EQ(sink.mice()[0].deltaX, 31);  // halves round away from zero
}

TEST_F(InjectorTest, Clamp_PointerOffAllDisplaysOrNoDisplays_UsesFirstDisplayThenUnitSquare) {
    displays.setDisplays(
        FakeDisplaySource::withBounds({{-1280, 0, 1280, 1024}, {0, 0, 1920, 1080}}));
    auto& inj = injector();
    EXPECT_EQ(inj.clamp({5000, 5000}, {9000, 9000}), (Point{-1, 1023}));

    displays.setDisplays({});
    EXPECT_EQ(inj.clamp({50, -3}, {0, 0}), (Point{0, 0}));
}

TEST_F(InjectorTest, Move_WithButtonsHeld_PostsDragOfHighestPriorityButton) {
    auto& inj = injector();
    inj.down("right");
    inj.down("left");
    inj.move(1, 1);
    inj.up("left");
    inj.move(1, 1);
    inj.releaseAll();
    inj.down("middle");
    inj.move(1, 1);
    inj.releaseAll();
    inj.move(1, 1);

    std::vector<MouseEventType> moves;
    for (const auto& e : sink.mice())
        if (isMotion(e.type)) moves.push_back(e.type);
    EXPECT_THAT(moves, ElementsAre(MouseEventType::leftDragged, MouseEventType::rightDragged,
                                   MouseEventType::otherDragged, MouseEventType::moved));
    EXPECT_TRUE(inj.held().empty());
}

TEST_F(InjectorTest, ReleaseAll_AfterSeveralDowns_ReleasesEachOnceWithStateOne) {
    auto& inj = injector();
    inj.down("left");
    inj.down("middle");
    inj.down("left");
    sink.clear();
    inj.releaseAll();
    inj.releaseAll();
    const auto mice = sink.mice();
    ASSERT_EQ(mice.size(), 2u);
    for (const auto& e : mice) EXPECT_EQ(e.clickState, 1);
    EXPECT_TRUE((mice[0].type == MouseEventType::leftUp && mice[1].type == MouseEventType::otherUp) ||
                (mice[0].type == MouseEventType::otherUp && mice[1].type == MouseEventType::leftUp));
}

TEST_F(InjectorTest, InjectionPoint_YoungerThanQuarterSecond_UsesLastPostedPoint) {
    auto& inj = injector();
    std::vector<Point> moved;
    inj.setOnMove([&](Point p) { moved.push_back(p); });

    inj.move(10, 0);
    EXPECT_THAT(moved, ElementsAre(Point{110, 100}));
    // The system has not caught up with the move yet.
    displays.setPointer(Point{500, 500});

    loop.advance(0.24);
    inj.click("left", 1);
    EXPECT_EQ(sink.mice().back().at, (Point{110, 100}));

    loop.advance(0.01);
    inj.click("right", 1);
    EXPECT_EQ(sink.mice().back().at, (Point{500, 500}));

    displays.setPointer(std::nullopt);
    inj.down("left");
    EXPECT_EQ(sink.mice().back().at, (Point{0, 0}));
}

TEST_F(InjectorTest, LastPosted_SetByCallerAndCleared_DecidesWhereNextEventGoes) {
    auto& inj = injector();
    inj.setLastPosted(Point{42, 43});
    inj.setLastPostedAt(loop.now());
    inj.move(1, 1);
    EXPECT_EQ(sink.mice().back().at, (Point{43, 44}));

    inj.setLastPosted(std::nullopt);
    inj.setLastPostedAt(InputInjector::distantPast);
    inj.move(1, 1);
    EXPECT_EQ(sink.mice().back().at, (Point{101, 101}));
}

TEST_F(InjectorTest, Move_SinkCannotPost_LeavesPositionAndHookUntouched) {
    sink.setMayPost(false, "no XTEST");
    auto& inj = injector();
    bool called = false;
    inj.setOnMove([&](Point) { called = true; });
    inj.move(5, 5);
    EXPECT_FALSE(inj.lastPosted().has_value());
    EXPECT_FALSE(called);
    EXPECT_EQ(inj.sink().reason(), "no XTEST");
}

TEST_F(InjectorTest, Scroll_Amounts_PostNegatedRoundedWheelValues) {
    auto& inj = injector();
    inj.scroll(0, 10);
    inj.scroll(2.5, 0);
    inj.scroll(-2.5, -300);
    inj.scroll(0.49, -0.5);
    EXPECT_THAT(sink.scrolls(), ElementsAre(ScrollEvent{-10, 0}, ScrollEvent{0, -3},
                                            ScrollEvent{300, 3}, ScrollEvent{1, 0}));
}

}  // namespace
}  // namespace tamborix::testing
