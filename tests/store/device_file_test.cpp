#include "store/device_file.h"

#include <gtest/gtest.h>

#include "protocol/wire.h"
#include "store_test_support.h"

namespace tamborix::testing {
namespace {

using namespace deviceFile;

nlohmann::json record(const Bytes& pub) {
    return {{"id", Wire::deviceID(pub)}, {"name", "N"},        {"pub", Wire::b64std(pub)},
            {"scope", "full"},           {"added", 0},         {"lastSeen", -1.5}};
}

TEST(DeviceFileDates, StoredSeconds_CountFrom2001AndRoundTrip) {
    EXPECT_DOUBLE_EQ(toStoredSeconds(WallTime{} + std::chrono::seconds(978'307'200)), 0.0);
    EXPECT_DOUBLE_EQ(toStoredSeconds(WallTime{}), -978'307'200.0);
    const auto t = WallTime{} + std::chrono::milliseconds(1'767'225'600'125);
    EXPECT_EQ(fromStoredSeconds(toStoredSeconds(t)), t);
    EXPECT_EQ(fromUnixSeconds(1'600'000'000), WallTime{} + std::chrono::seconds(1'600'000'000));
}

TEST(DeviceFileDecode, TolerableVariations_Accepted) {
    auto withExtras = record(keyOf(1));
    withExtras["future"] = {1, 2};
    withExtras["screen"] = nullptr;
    auto integerDates = record(keyOf(2));
    integerDates["lastSeen"] = 5;
    auto farFuture = record(keyOf(3));
    farFuture["added"] = 1e300;
    const auto devices =
        decode(nlohmann::json::array({withExtras, integerDates, farFuture}).dump());
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 3u);
    EXPECT_GT((*devices)[2].added, (*devices)[1].lastSeen) << "clamped, still in the future";
    EXPECT_FALSE((*devices)[0].screen.has_value());
    EXPECT_EQ((*devices)[0].lastSeen, fromStoredSeconds(-1.5));
    EXPECT_EQ((*devices)[1].lastSeen, fromStoredSeconds(5));
    EXPECT_TRUE(decode("[]").has_value());
}

TEST(DeviceFileEncode, BrokenUtf8Name_StillWritesValidJson) {
    PairedDevice d;
    d.pub = keyOf(1);
    d.id = Wire::deviceID(d.pub);
    d.name = "bad \xC3";
    const auto decoded = decode(encode({d}, true));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), 1u);
}

}  // namespace
}  // namespace tamborix::testing
