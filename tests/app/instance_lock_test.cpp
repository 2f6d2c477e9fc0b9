#include "app/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "../store/store_test_support.h"

namespace tamborix {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;

TEST(InstanceLockTest, Claim_SecondWhileFirstRuns_ReachesItAndTheLockFreesAtExit) {
    TempFolder root;
    const auto data = root / "data" / "Velmorand";
    std::filesystem::create_directories(root / "runtime");
    auto first = InstanceLock::claim(data, root / "runtime", 0ms);
    ASSERT_TRUE(first.lock);
    EXPECT_TRUE(first.warning.empty()) << first.warning;
    EXPECT_EQ(first.lock->socketPath().parent_path(), root / "runtime");
    EXPECT_EQ(testing::modeOf(data), 0700u);

    auto second = InstanceLock::claim(data, root / "runtime", 0ms);
    EXPECT_FALSE(second.lock);
    EXPECT_TRUE(second.reached);
    EXPECT_EQ(first.lock->acceptKnocks(), 1);
    EXPECT_EQ(first.lock->acceptKnocks(), 0);

    // Another data folder is another helper, even with the same runtime folder.
    auto elsewhere = InstanceLock::claim(root / "other", root / "runtime", 0ms);
    EXPECT_TRUE(elsewhere.lock);
    EXPECT_NE(elsewhere.lock->socketPath(), first.lock->socketPath());

    const auto socket = first.lock->socketPath();
    first.lock.reset();
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_TRUE(InstanceLock::claim(data, root / "runtime", 0ms).lock);
}

TEST(InstanceLockTest, Claim_LeftoverSocketFileAndNoRuntimeFolder_ListensInDataFolder) {
    TempFolder root;
    const auto data = root / "Velmorand";
    testing::writeText(data / "helper.sock", "left by a crash");
    auto claim = InstanceLock::claim(data, {}, 0ms);
    ASSERT_TRUE(claim.lock);
    EXPECT_EQ(claim.lock->socketPath(), data / "helper.sock");
    EXPECT_TRUE(InstanceLock::claim(data, root / "missing-runtime", 0ms).reached);
    EXPECT_EQ(claim.lock->acceptKnocks(), 1);
}

TEST(InstanceLockTest, Claim_LockHeldByAHelperThatNeverListens_GivesUpAfterPatience) {
    TempFolder root;
    const auto data = root / "Velmorand";
    std::filesystem::create_directories(data);
    const int fd = ::open((data / InstanceLock::lockFileName).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    auto claim = InstanceLock::claim(data, {}, 100ms);
    EXPECT_FALSE(claim.lock);
    EXPECT_FALSE(claim.reached);
    ::close(fd);
    EXPECT_TRUE(InstanceLock::claim(data, {}, 0ms).lock);
}

TEST(InstanceLockTest, Claim_LockFileCannotBeOpened_RunsWithAWarning) {
    TempFolder root;
    const auto data = root / "Velmorand";
    // A folder where the lock file goes: it can never be opened for writing.
    std::filesystem::create_directories(data / InstanceLock::lockFileName);
    auto claim = InstanceLock::claim(data, {}, 0ms);
    ASSERT_TRUE(claim.lock);
    EXPECT_NE(claim.warning.find("Could not make sure that only one helper runs"),
              std::string::npos);
    EXPECT_EQ(claim.lock->listenFd(), -1);
}

TEST(InstanceLockTest, Claim_LockFileIsALink_ReplacedSoTheSecondStartIsStillKeptOut) {
    TempFolder root;
    const auto data = root / "Velmorand";
    std::filesystem::create_directories(data);
    std::filesystem::create_symlink(root / "elsewhere", data / InstanceLock::lockFileName);
    auto first = InstanceLock::claim(data, {}, 0ms);
    ASSERT_TRUE(first.lock);
    EXPECT_TRUE(first.warning.empty()) << first.warning;
    EXPECT_FALSE(std::filesystem::exists(root / "elsewhere"));
    auto second = InstanceLock::claim(data, {}, 0ms);
    EXPECT_FALSE(second.lock);
    EXPECT_TRUE(second.reached);
}

}  // namespace
}  // namespace tamborix
