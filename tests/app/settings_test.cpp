#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tamborix {
namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamborix-settings-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        file_ = dir_ / "tamborix-helper" / "settings.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void writeFile(const std::string& text) {
        std::filesystem::create_directories(file_.parent_path());
        std::ofstream(file_) << text;
    }
    std::filesystem::path dir_;
    std::filesystem::path file_;
};

TEST_F(SettingsTest, Get_NoFile_SwitchesOnAndNotLaunched) {
    Settings s(file_);
    EXPECT_TRUE(s.get(Settings::networkOn));
    EXPECT_TRUE(s.get(Settings::bluetoothOn));
    EXPECT_TRUE(s.get(Settings::shareFrontApp));
    EXPECT_FALSE(s.get(Settings::hasLaunched));
}

TEST_F(SettingsTest, Get_NonBooleanOrCorruptValues_FallBackToDefaults) {
    writeFile(R"({"networkOn": "false", "bluetoothOn": 0, "shareFrontApp": null, "hasLaunched": 1})");
    Settings s(file_);
    EXPECT_TRUE(s.get(Settings::networkOn));
    EXPECT_TRUE(s.get(Settings::bluetoothOn));
    EXPECT_TRUE(s.get(Settings::shareFrontApp));
    EXPECT_FALSE(s.get(Settings::hasLaunched));

    writeFile("{ not json");
    Settings corrupt(file_);
    EXPECT_TRUE(corrupt.get(Settings::networkOn));
}

TEST_F(SettingsTest, Set_NetworkOff_PersistsAcrossRestartAndKeepsOtherKeys) {
    writeFile(R"({"futureKey": {"a": 1}, "shareFrontApp": false})");
    {
        Settings s(file_);
        ASSERT_TRUE(s.set(Settings::networkOn, false));
        EXPECT_FALSE(s.get(Settings::networkOn));
    }
    Settings again(file_);
    EXPECT_FALSE(again.get(Settings::networkOn));
    EXPECT_FALSE(again.get(Settings::shareFrontApp));
    EXPECT_TRUE(again.get(Settings::bluetoothOn));
    std::ifstream in(file_);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("futureKey"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(file_.string() + ".tmp"));
}

TEST_F(SettingsTest, Set_UnwritableFolder_ReportsFailureButKeepsValue) {
    writeFile("{}");
    // A file where the folder should be makes the folder impossible to create.
    const auto blocked = dir_ / "blocked" / "settings.json";
    std::ofstream(dir_ / "blocked") << "x";
    Settings s(blocked);
    EXPECT_FALSE(s.set(Settings::hasLaunched, true));
    EXPECT_TRUE(s.get(Settings::hasLaunched));
    ASSERT_TRUE(s.lastError().has_value());
    EXPECT_NE(s.lastError()->find(blocked.string()), std::string::npos) << *s.lastError();
}

TEST_F(SettingsTest, Set_FolderMissingOrLoose_OwnerOnlyFolderAndNoWriteThroughALink) {
    {
        Settings s(file_);
        ASSERT_TRUE(s.set(Settings::networkOn, false));
    }
    struct stat st {};
    ASSERT_EQ(::stat(file_.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // An older version left the folder open to everyone, and someone planted a link where the
    // temporary file goes.
    ::chmod(file_.parent_path().c_str(), 0777);
    const auto victim = dir_ / "victim";
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, file_.string() + ".tmp");
    Settings again(file_);
    ASSERT_TRUE(again.set(Settings::bluetoothOn, false));
    ASSERT_EQ(::stat(file_.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    std::ifstream in(victim);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
              "keep");
    EXPECT_FALSE(Settings(file_).get(Settings::bluetoothOn));
}

TEST_F(SettingsTest, Load_FifoInPlaceOfTheFile_DefaultsWithTheReasonInsteadOfWaiting) {
    std::filesystem::create_directories(file_.parent_path());
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    Settings settings(file_);
    EXPECT_TRUE(settings.get(Settings::networkOn));
    ASSERT_TRUE(settings.lastError());
    EXPECT_NE(settings.lastError()->find("not a regular file"), std::string::npos);
}

TEST_F(SettingsTest, DefaultFile_UsesXdgConfigHomeElseHomeConfig) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-here", 1);
    EXPECT_EQ(Settings::defaultFile(), "/tmp/xdg-here/tamborix-helper/settings.json");
    ::setenv("XDG_CONFIG_HOME", "relative/not/allowed", 1);
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_EQ(Settings::defaultFile(),
                  std::filesystem::path(home) / ".config/tamborix-helper/settings.json");
    }
    if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tamborix
