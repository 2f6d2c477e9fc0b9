#include "store/private_file.h"

#include <gtest/gtest.h>

#include "store_test_support.h"

namespace tamborix::testing {
namespace {

TEST(WritePrivate, NewTarget_WrittenOwnerOnlyWithoutTemporaryLeft) {
    TempFolder folder;
    ASSERT_TRUE(writePrivate(std::string_view("hello"), folder / "server.key"));
    EXPECT_EQ(readText(folder / "server.key"), "hello");
    EXPECT_EQ(modeOf(folder / "server.key"), 0600u);
    EXPECT_EQ(filesIn(folder.path()), (std::vector<std::filesystem::path>{"server.key"}));
}

TEST(WritePrivate, WiderExistingTargetAndStaleTemporary_EndOwnerOnly) {
    TempFolder folder;
    const auto target = folder / "devices.json";
    writeText(target, "old contents that are longer");
    std::filesystem::permissions(target, std::filesystem::perms(0644));
    writeText(folder / "devices.json.tmp", "stale");
    std::filesystem::permissions(folder / "devices.json.tmp", std::filesystem::perms(0666));

    ASSERT_TRUE(writePrivate(std::string_view("[]"), target));
    EXPECT_EQ(readText(target), "[]");
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_FALSE(std::filesystem::exists(folder / "devices.json.tmp"));
}

TEST(WritePrivate, TargetWhoseFolderIsAFile_FailsAndLeavesNothing) {
    TempFolder folder;
    writeText(folder / "plain", "x");
    EXPECT_FALSE(writePrivate(std::string_view("data"), folder / "plain" / "devices.json"));
    EXPECT_EQ(readText(folder / "plain"), "x");
}

TEST(WritePrivate, TargetIsADirectory_FailsKeepsItAndRemovesTemporary) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "devices.json" / "inner");
    EXPECT_FALSE(writePrivate(std::string_view("data"), folder / "devices.json"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "devices.json" / "inner"));
    EXPECT_FALSE(std::filesystem::exists(folder / "devices.json.tmp"));
}

TEST(ReadWholeFile, MissingTooLargeAndDirectory_ReportedApart) {
    TempFolder folder;
    EXPECT_EQ(readWholeFile(folder / "none", 10).status, FileRead::Status::missing);
    writeText(folder / "big", std::string(11, 'x'));
    EXPECT_EQ(readWholeFile(folder / "big", 10).status, FileRead::Status::failed);
    const auto exact = readWholeFile(folder / "big", 11);
    EXPECT_EQ(exact.status, FileRead::Status::ok);
    EXPECT_EQ(exact.contents, std::string(11, 'x'));
    EXPECT_EQ(readWholeFile(folder.path(), 10).status, FileRead::Status::failed);
}

}  // namespace
}  // namespace tamborix::testing
