#include <gmock/gmock.h>

#include "core/input/smoother.h"
#include "core/recording/recording_input.h"
#include "injector_fixture.h"

namespace tamborix::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr double tick = Smoother::tickSeconds;

// Drives the smoother against the dry run's input, whose journal shows the exact doubles it moved by.
class SmootherTest : public InjectorTest {
protected:
    SmootherTest() : smoother(loop, recorder) {}

    std::vector<std::string> moves() { return {journal.lines().begin(), journal.lines().end()}; }

    ActionJournal journal;
    RecordingInput recorder{loop, journal};
    Smoother smoother;
};

TEST_F(SmootherTest, Add_AfterPause_SpreadsOverTwoTicksThenStops) {
    loop.advance(1.0);
    smoother.add(10, -4);
    EXPECT_THAT(moves(), ElementsAre("move 5.0 -2.0"));
    EXPECT_TRUE(smoother.spreading());

    loop.advance(tick);
    EXPECT_THAT(moves(), ElementsAre("move 5.0 -2.0", "move 5.0 -2.0"));
    loop.advance(tick);
    EXPECT_FALSE(smoother.spreading());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    loop.advance(1.0);
    EXPECT_EQ(moves().size(), 2u);
    EXPECT_DOUBLE_EQ(smoother.interval(), 1.0 / 60);
}

TEST_F(SmootherTest, Add_TenMillisecondsApart_MovesAverageTowardTen) {
    smoother.add(1, 0);
    loop.advance(0.010);
    smoother.add(1, 0);
    const double expected = 0.3 * 0.010 + 0.7 * (1.0 / 60);
    EXPECT_NEAR(smoother.interval(), expected, 1e-12);

    // An 80 ms gap counts as 50 ms; a gap of 0.1 s counts not at all.
    loop.advance(0.080);
    smoother.add(1, 0);
    const double capped = 0.3 * 0.050 + 0.7 * expected;
    EXPECT_NEAR(smoother.interval(), capped, 1e-12);
    loop.advance(0.100);
    smoother.add(1, 0);
    EXPECT_NEAR(smoother.interval(), capped, 1e-12);
}

TEST_F(SmootherTest, Add_SteadySlowArrivals_SpreadOverAtMostSixTicks) {
    for (int i = 0; i < 40; ++i) {
        smoother.add(0, 0);
        loop.advance(0.080);
    }
    const auto before = moves().size();
    smoother.add(12, 0);
    EXPECT_EQ(smoother.stepsLeft(), 5);  // one of six already posted
    loop.advance(0.070);
    const auto all = moves();
    ASSERT_EQ(all.size(), before + 6);
    for (auto i = before; i < all.size(); ++i) EXPECT_EQ(all[i], "move 2.0 0.0");
    EXPECT_FALSE(smoother.spreading());
}

TEST_F(SmootherTest, Add_WithHalfGlide_PostsAtOnce) {
    smoother.setGlide(0.5);
    smoother.add(3, 7);
    EXPECT_THAT(moves(), ElementsAre("move 3.0 7.0"));
    EXPECT_FALSE(smoother.spreading());
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(SmootherTest, Flush_WhileSpreading_PostsRemainderOnce) {
    smoother.add(9, 0);
    smoother.flush();
    EXPECT_THAT(moves(), ElementsAre("move 4.5 0.0", "move 4.5 0.0"));
    EXPECT_FALSE(smoother.spreading());
    loop.advance(0.1);
    EXPECT_EQ(moves().size(), 2u);
}

TEST_F(SmootherTest, Flush_NothingPending_PostsNothing) {
    smoother.flush();
    smoother.add(0, 0);
    smoother.flush();
    EXPECT_THAT(moves(), IsEmpty());
}

TEST_F(SmootherTest, Add_WhileSpreading_ContinuesWithSameTimer) {
    smoother.add(4, 0);
    loop.advance(0.005);
    // Spread again over two ticks from here: 2 pending plus 6 new.
    smoother.add(6, 0);
    EXPECT_EQ(loop.pendingTimers(), 1u);
    loop.advance(tick);
    EXPECT_THAT(moves(), ElementsAre("move 2.0 0.0", "move 4.0 0.0"));
    loop.advance(2 * tick);
    EXPECT_THAT(moves(), ElementsAre("move 2.0 0.0", "move 4.0 0.0", "move 4.0 0.0"));
    EXPECT_FALSE(smoother.spreading());
}

TEST(SmootherLifetime, Destroy_WhileSpreading_StopsTicking) {
    ManualLoop loop;
    FakeDisplaySource displays(FakeDisplaySource::withBounds({{0, 0, 800, 600}}), Point{10, 10});
    RecordingInputSink sink;
    InputInjector injector(loop, sink, displays);
    {
        Smoother smoother(loop, injector);
        smoother.add(20, 20);
        ASSERT_EQ(sink.mice().size(), 1u);
        EXPECT_EQ(sink.mice()[0].at, (Point{20, 20}));
    }
    loop.advance(0.1);
    EXPECT_EQ(sink.mice().size(), 1u);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

}  // namespace
}  // namespace tamborix::testing
