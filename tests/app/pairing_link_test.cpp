#include "app/pairing_link.h"

#include <gtest/gtest.h>

#include <map>

#include "app/lan_address.h"
#include "app/qr_text.h"
#include "protocol/wire.h"

namespace tamborix {
namespace {

std::vector<std::pair<std::string, std::string>> queryItems(const std::string& uri) {
    std::vector<std::pair<std::string, std::string>> items;
    const auto q = uri.find('?');
    std::string rest = uri.substr(q + 1);
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const auto item = rest.substr(0, amp);
        const auto eq = item.find('=');
        items.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        rest = amp == std::string::npos ? "" : rest.substr(amp + 1);
    }
    return items;
}

PairingLinkParts sampleParts() {
    PairingLinkParts p;
    p.host = "192.168.1.20";
    p.identityKey = Bytes(32, 0xFB);
    p.code = "ABCDEFGHJKMN";
    p.name = "Ada's Laptop & Co";
    return p;
}

TEST(PairingURITest, PairingURI_AllParts_ItemsInOrderAndEncoded) {
    const auto uri = pairingURI(sampleParts());
    EXPECT_EQ(uri.rfind("velmorand://pair?", 0), 0u);
    const auto items = queryItems(uri);
    ASSERT_EQ(items.size(), 6u);
    const std::vector<std::string> names = {"v", "h", "p", "k", "c", "n"};
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(items[i].first, names[i]);
    EXPECT_EQ(items[0].second, "2");
    EXPECT_EQ(items[1].second, "192.168.1.20");
    EXPECT_EQ(items[2].second, "50505");
    EXPECT_EQ(items[3].second.size(), 43u);
    EXPECT_EQ(Wire::b64d(items[3].second, 200), Bytes(32, 0xFB));
    EXPECT_EQ(items[4].second, "ABCDEFGHJKMN");
    EXPECT_EQ(items[5].second, "Ada%27s%20Laptop%20%26%20Co");
}

TEST(PairingURITest, PairingURI_NoLanAddress_LeavesOutHostKeepsOrder) {
    auto parts = sampleParts();
    parts.host.reset();
    parts.port = 40123;
    parts.name = "Büro";
    const auto items = queryItems(pairingURI(parts));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].first, "v");
    EXPECT_EQ(items[1].first, "p");
    EXPECT_EQ(items[1].second, "40123");
    EXPECT_EQ(items[2].first, "k");
    EXPECT_EQ(items[4].second, "B%C3%BCro");
}

TEST(PairingURITest, PrettyPairCode_TwelveCharacters_ThreeGroupsOfFour) {
    EXPECT_EQ(prettyPairCode("ABCDEFGHJKMN"), "ABCD-EFGH-JKMN");
    EXPECT_EQ(prettyPairCode("ABCDEF"), "ABCD-EF");
}

TEST(QrTextTest, QrModules_PairingLink_SquareCodeRenderedWithQuietZone) {
    const auto uri = pairingURI(sampleParts());
    const auto modules = qrModules(uri);
    ASSERT_TRUE(modules.has_value());
    const auto width = modules->size();
    ASSERT_GE(width, 21u);
    EXPECT_EQ((width - 17) % 4, 0u);  // QR sizes are 17 + 4·version
    // The top-left finder pattern: a dark 7-module ring around a light ring.
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE((*modules)[0][i]);
        EXPECT_TRUE((*modules)[6][i]);
    }
    EXPECT_FALSE((*modules)[1][1]);
    EXPECT_TRUE((*modules)[3][3]);

    const auto lines = qrTextLines(*modules);
    EXPECT_EQ(lines.size(), (width + 8 + 1) / 2);
    // The first line is all quiet zone: full blocks only.
    std::string allLight;
    for (std::size_t i = 0; i < width + 8; ++i) allLight += "\u2588";
    EXPECT_EQ(lines.front(), allLight);
}

TEST(QrTextTest, QrModules_TooLong_Nullopt) {
    EXPECT_FALSE(qrModules(std::string(5000, 'x')).has_value());
}

TEST(LanAddressTest, DefaultRouteInterface_RouteTable_PicksLowestMetricDefault) {
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "down0\t00000000\t0100000A\t0002\t0\t0\t1\t00000000\t0\t0\t0\n"
        "garbage line\n";
    EXPECT_EQ(defaultRouteInterface(table), "eth0");
    EXPECT_EQ(defaultRouteInterface("Iface\tDestination\n"), std::nullopt);
    EXPECT_EQ(defaultRouteInterface(""), std::nullopt);
}

TEST(LanAddressTest, ChooseLanAddress_RouteInterfaceElseFirstNonLoopbackElseNone) {
    const std::vector<InterfaceAddress> list = {
        {"lo", "127.0.0.1", true},
        {"docker0", "172.17.0.1", false},
        {"eth0", "10.0.0.5", false},
    };
    EXPECT_EQ(chooseLanAddress(std::string("eth0"), list), "10.0.0.5");
    EXPECT_EQ(chooseLanAddress(std::string("wlan9"), list), "172.17.0.1");
    EXPECT_EQ(chooseLanAddress(std::nullopt, list), "172.17.0.1");
    EXPECT_EQ(chooseLanAddress(std::string("lo"), {{"lo", "127.0.0.1", true}}), std::nullopt);
    EXPECT_EQ(chooseLanAddress(std::nullopt, {}), std::nullopt);
}

}  // namespace
}  // namespace tamborix
