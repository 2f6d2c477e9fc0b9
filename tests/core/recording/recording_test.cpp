#include <gmock/gmock.h>

#include "core/recording/recording_desktop.h"
#include "core/recording/recording_input.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

using ::testing::ElementsAre;

class RecordingInputTest : public ::testing::Test {
protected:
    ManualLoop loop;
    ActionJournal journal;
    RecordingInput input{loop, journal};
};

TEST_F(RecordingInputTest, PointerActions_RecordedInTheLogsWordsWithHeldButtonsLetGo) {
    input.down("left");
    input.move(1, 1);
    input.releaseAll();
    input.click("left", 2);
    input.scroll(0, -300);
    input.move(-0.5, 0.1 + 0.2);
    input.up("right");
    input.tapAt({480.9, 540.2});
    EXPECT_THAT(journal.lines(), ElementsAre("down left", "move 1.0 1.0", "up left", "click left 1",
                                             "click left 2", "scroll 0.0 -300.0",
                                             "move -0.5 0.30000000000000004", "up right", "tap 480,540"));
}

TEST_F(RecordingInputTest, Click_AfterPauseOrOtherButton_NumberedFromOne) {
    input.click("left", 4);
    loop.advance(0.5);
    input.click("left", 1);
    input.click("right", 1);
    EXPECT_THAT(journal.lines(), ElementsAre("click left 1", "click left 2", "click left 3",
                                             "click left 1", "click left 1", "click right 1"));
}

TEST_F(RecordingInputTest, KeysAndText_SortedModifiersAndCharacterCount) {
    input.key("k", {"shift", "cmd"});
    input.key("enter", {});
    input.key("\"", {"a\\b"});
    input.text("hello");
    input.text("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 ok");
    EXPECT_THAT(journal.lines(), ElementsAre("key k [\"cmd\", \"shift\"]", "key enter []",
                                             "key \" [\"a\\\\b\"]", "text 5", "text 4"));
}

TEST_F(RecordingInputTest, Record_PastThousandLines_DropsOldestFiveHundredAndTellsEveryLine) {
    std::size_t heard = 0;
    journal.setOnRecord([&](const std::string&) { ++heard; });
    for (int i = 0; i < 1000; ++i) journal.record("line " + std::to_string(i));
    EXPECT_EQ(journal.lines().size(), 1000u);
    input.click("left", 1);
    ASSERT_EQ(journal.lines().size(), 501u);
    EXPECT_EQ(journal.lines().front(), "line 500");
    EXPECT_EQ(journal.lines().back(), "click left 1");
    EXPECT_EQ(heard, 1001u);
}

TEST(RecordingDesktop, Actions_RecordedAndDoneWithTheMadeUpAppAndClipboard) {
    ActionJournal journal;
    RecordingDesktop desktop(journal);
    EXPECT_EQ(desktop.laser(true), "");
    EXPECT_EQ(desktop.findCursor(), "");
    // Any display the phone may name: the log says which it asked for.
    EXPECT_TRUE(desktop.pointerTo(7));
    EXPECT_EQ(desktop.openUrl("not even an address"), "");
    EXPECT_EQ(desktop.openApp("Editor"), "");
    EXPECT_EQ(desktop.activate("org.example.Gone"), "");
    EXPECT_EQ(desktop.setClipboard("h\xC3\xA9llo\r\n", true), "");
    const auto apps = desktop.openApps();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].id, "org.tamborix.DryRunApp");
    EXPECT_TRUE(apps[0].front);
    EXPECT_FALSE(desktop.icon(apps[0], 40));
    EXPECT_EQ(desktop.clipboardText().text, "dry-run clipboard");
    EXPECT_THAT(journal.lines(), ElementsAre("laser true", "find_cursor", "pointer 7", "open url", "open app",
                                             "activate org.example.Gone", "clip_set 6 paste=true"));
}

}  // namespace
}  // namespace tamborix::testing
