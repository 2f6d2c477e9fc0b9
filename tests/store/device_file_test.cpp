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
    const auto devices = decode(nlohmann::json::array({withExtras, integerDates}).dump());
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 2u);
    EXPECT_FALSE((*devices)[0].screen.has_value());
    EXPECT_EQ((*devices)[0].lastSeen, fromStoredSeconds(-1.5));
    EXPECT_EQ((*devices)[1].lastSeen, fromStoredSeconds(5));
    EXPECT_TRUE(decode("[]").has_value());
}

TEST(DeviceFileDecode, SpoiledRecords_RejectWholeFile) {
    auto badBase64 = record(keyOf(1));
    badBase64["pub"] = "***";
    auto hugeDate = record(keyOf(1));
    hugeDate["added"] = 1e300;
    auto numericName = record(keyOf(1));
    numericName["name"] = 7;
    for (const auto& spoiled : {badBase64, hugeDate, numericName, nlohmann::json("text")}) {
        SCOPED_TRACE(spoiled.dump());
        EXPECT_FALSE(decode(nlohmann::json::array({record(keyOf(2)), spoiled}).dump()));
    }
    EXPECT_FALSE(decode("{\"a\": 1}"));
    EXPECT_FALSE(decode("not json"));
}

TEST(DeviceFileEncode, ScreenAndOrder_WrittenAsStored) {
    std::vector<PairedDevice> devices(2);
    for (std::uint8_t i = 0; i < 2; ++i) {
        devices[i].pub = keyOf(static_cast<std::uint8_t>(i + 1));
        devices[i].id = Wire::deviceID(devices[i].pub);
        devices[i].name = "D" + std::to_string(i);
    }
    devices[1].screen = false;
    devices[1].scope = PairedDevice::Scope::presenter;
    const auto text = encode(devices, false);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const auto decoded = decode(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, devices);
    const auto json = nlohmann::json::parse(text);
    EXPECT_FALSE(json[0].contains("screen"));
    EXPECT_EQ(json[1]["screen"], false);
    EXPECT_EQ(json[1]["scope"], "presenter");
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
