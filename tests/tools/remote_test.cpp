#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "protocol/wire.h"
#include "tools/remote_address.h"
#include "tools/remote_bench.h"
#include "tools/remote_keys.h"

namespace tamborix::remote {
namespace {

TEST(RemoteAddressTest, ParseAddress_Forms_HostAndPortOrDefault) {
    auto a = parseAddress("192.168.1.5");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "192.168.1.5");
    EXPECT_EQ(a->port, 50505);
    EXPECT_EQ(a->key(), "192.168.1.5:50505");

    a = parseAddress("helper.local:40000");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "helper.local");
    EXPECT_EQ(a->port, 40000);

    a = parseAddress("[::1]:7");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "::1");
    EXPECT_EQ(a->port, 7);
    EXPECT_EQ(a->key(), "[::1]:7");

    a = parseAddress("fe80::1");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "fe80::1");
    EXPECT_EQ(a->port, 50505);

    for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:8x", "[::1", "[]:80", "[::1]x"}) {
        EXPECT_FALSE(parseAddress(bad)) << bad;
    }
}

class RemoteKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamborix-remote-keys-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    static unsigned mode(const std::filesystem::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 0777;
    }
    std::filesystem::path dir_;
};

TEST_F(RemoteKeysTest, Construct_FirstUse_CreatesPrivateKeyThatLaterRunsReuse) {
    const auto folder = dir_ / "tamborix-remote";
    std::array<std::uint8_t, 32> first{};
    {
        RemoteKeys keys(folder);
        first = keys.device().publicKey();
    }
    EXPECT_EQ(mode(folder), 0700u);
    EXPECT_EQ(mode(folder / "device.key"), 0600u);
    EXPECT_EQ(std::filesystem::file_size(folder / "device.key"), 32u);
    RemoteKeys again(folder);
    EXPECT_EQ(again.device().publicKey(), first);
}

TEST_F(RemoteKeysTest, Construct_DamagedKey_RefusedAndLeftInPlace) {
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "device.key") << "short";
    EXPECT_THROW(RemoteKeys keys(dir_), KeyStoreError);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "device.key"), 5u);
}

TEST_F(RemoteKeysTest, RememberHelper_PerAddress_StoredPrivatelyAndReadBack) {
    RemoteKeys keys(dir_);
    EXPECT_FALSE(keys.helperKey("127.0.0.1:50505"));
    const Bytes a(32, 0x11);
    const Bytes b(32, 0x22);
    keys.rememberHelper("127.0.0.1:50505", a);
    keys.rememberHelper("[::1]:50505", b);
    EXPECT_EQ(keys.helperKey("127.0.0.1:50505"), a);
    EXPECT_EQ(keys.helperKey("[::1]:50505"), b);
    EXPECT_EQ(mode(dir_ / "helpers.json"), 0600u);
    keys.rememberHelper("127.0.0.1:50505", b);  // pairing again replaces the identity
    EXPECT_EQ(keys.helperKey("127.0.0.1:50505"), b);

    std::ofstream(dir_ / "helpers.json") << R"({"127.0.0.1:50505": "not base64!"})";
    EXPECT_FALSE(keys.helperKey("127.0.0.1:50505"));
    std::ofstream(dir_ / "helpers.json") << "[1,2]";
    EXPECT_THROW((void)keys.helperKey("x"), KeyStoreError);
}

TEST(RemoteBenchTest, Percentile_NearestRank) {
    EXPECT_EQ(percentile({}, 50), 0);
    EXPECT_EQ(percentile({5, 1, 3, 2, 4}, 50), 3);
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i) hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 99), 99);
    EXPECT_EQ(percentile(hundred, 100), 100);
    EXPECT_EQ(percentile({7}, 99), 7);
}

}  // namespace
}  // namespace tamborix::remote
