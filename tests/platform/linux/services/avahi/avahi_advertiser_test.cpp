#include "platform/linux/services/avahi/avahi_advertiser.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/support/qt/qt_stream.h"
#include "private_services.h"
#include "support/qt_spin.h"
#include "testing/fake_session_entry.h"
#include "transport/network_server.h"

namespace tamborix::testing {
namespace {

using Phase = DiscoveryState::Phase;

ServiceDescription sample(std::uint16_t port = 50505) {
    return {"Tamborix Test", "_velmorand._tcp", port, {{"v", "2"}, {"os", "linux"}}};
}

TEST(AvahiServiceLabelTest, ServiceLabel_LongNames_CutTo63BytesWithoutSplittingCharacters) {
    EXPECT_EQ(AvahiServiceAdvertiser::serviceLabel("Desk"), "Desk");
    const std::string exact(63, 'a');
    EXPECT_EQ(AvahiServiceAdvertiser::serviceLabel(exact), exact);
    // 62 ASCII bytes, then a two-byte character that would straddle the limit.
    const std::string straddling = std::string(62, 'a') + "é" + "tail";
    EXPECT_EQ(AvahiServiceAdvertiser::serviceLabel(straddling), std::string(62, 'a'));
    std::string umlauts;
    for (int i = 0; i < 40; ++i) umlauts += "ü";
    const auto cut = AvahiServiceAdvertiser::serviceLabel(umlauts);
    EXPECT_EQ(cut.size(), 62u);
    EXPECT_EQ(cut, umlauts.substr(0, 62));
}

TEST(AvahiAdvertiserTest, Advertise_NoBusAtAll_UnavailableWithReason) {
    // No test leaves its bus running, so nothing listens on the shared address here.
    AvahiServiceAdvertiser advertiser;
    int changes = 0;
    advertiser.setOnChanged([&] { ++changes; });
    EXPECT_EQ(advertiser.state().phase, Phase::off);
    advertiser.advertise(sample());
    ASSERT_TRUE(spinUntil([&] { return advertiser.state().phase == Phase::unavailable; }));
    EXPECT_FALSE(advertiser.state().reason.empty());
    EXPECT_TRUE(advertiser.state().text().starts_with("Discovery — unavailable: "));
    EXPECT_GE(changes, 1);
    advertiser.withdraw();
    EXPECT_EQ(advertiser.state().text(), "Discovery — off");
}

TEST(AvahiAdvertiserTest, Advertise_BusWithoutDaemon_UnavailableDaemonNotRunning) {
    PrivateBus bus;
    if (!bus.failure().empty()) GTEST_SKIP() << bus.failure();
    AvahiServiceAdvertiser advertiser;
    advertiser.advertise(sample());
    ASSERT_TRUE(spinUntil([&] { return advertiser.state().phase == Phase::unavailable; }));
    EXPECT_EQ(advertiser.state().text(), "Discovery — unavailable: Daemon not running");
}

// The real thing: the TCP listener on an ephemeral port, advertised through an avahi-daemon that
// only sees a private loopback, found again with avahi-browse.
class AvahiIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = avahiSandboxUnavailable()) GTEST_SKIP() << *why;
        bus = std::make_unique<PrivateBus>();
        if (!bus->failure().empty()) GTEST_SKIP() << bus->failure();
        avahi = std::make_unique<PrivateAvahi>(folder.path(), bus->address());
        ASSERT_TRUE(avahi->failure().empty()) << avahi->failure();
    }

    void TearDown() override {
        server.reset();
        advertiser.reset();
        settle();
        if (avahi) avahi->stop();
    }

    void startServer() {
        advertiser = std::make_unique<AvahiServiceAdvertiser>();
        server = std::make_unique<NetworkServer>(loop, core, listeners, advertiser.get(),
                                                 "Tamborix Test", 0);
        server->start();
        ASSERT_TRUE(spinUntil([&] { return server->status().starts_with("On (port "); }));
        port = *server->boundPort();
    }

    [[nodiscard]] bool advertised() const {
        return server->discovery().phase == Phase::advertised;
    }

    [[nodiscard]] std::string browse() const {
        return captureOutput("timeout 30 avahi-browse -rtp _velmorand._tcp 2>/dev/null");
    }

    TempFolder folder;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<PrivateAvahi> avahi;
    QtMainLoop loop;
    FakeSessionEntry core;
    QtStreamListenerFactory listeners;
    std::unique_ptr<AvahiServiceAdvertiser> advertiser;
    std::unique_ptr<NetworkServer> server;
    std::uint16_t port = 0;
};

TEST_F(AvahiIntegrationTest, Start_DaemonOnLoopback_ServiceFoundWithNamePortAndTxt) {
    startServer();
    ASSERT_TRUE(spinUntil([&] { return advertised(); }, 30000))
        << server->discovery().text() << "\n" << avahi->log();
    EXPECT_EQ(server->discovery().text(), "Discovery — advertised as “Tamborix Test”");

    const auto found = browse();
    const auto resolved = "=;lo;IPv4;Tamborix\\032Test;_velmorand._tcp;local;";
    const auto line = found.find(resolved);
    ASSERT_NE(line, std::string::npos) << found;
    const auto end = found.find('\n', line);
    const auto entry = found.substr(line, end - line);
    EXPECT_NE(entry.find(";127.0.0.1;" + std::to_string(port) + ";"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"v=2\""), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"os=linux\""), std::string::npos) << entry;

    // What the browse found is the listener itself.
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, port);
    phone.write("hello\n");
    std::string reply;
    ASSERT_TRUE(spinUntil([&] {
        reply += phone.readAll().toStdString();
        return std::count(reply.begin(), reply.end(), '\n') == 2;
    }));

    server->stop();
    EXPECT_EQ(server->discovery().text(), "Discovery — off");
    // The daemon drops the record once its goodbye went out.
    EXPECT_TRUE(spinUntil([&] { return browse().find(resolved) == std::string::npos; }, 30000));
}

TEST_F(AvahiIntegrationTest, Daemon_GoesAwayAndReturns_ListenerStaysOnAndServiceComesBack) {
    startServer();
    ASSERT_TRUE(spinUntil([&] { return advertised(); }, 30000)) << avahi->log();
    avahi->stop();
    ASSERT_TRUE(spinUntil([&] { return server->discovery().phase == Phase::unavailable; }, 30000))
        << server->discovery().text();
    EXPECT_EQ(server->status(), "On (port " + std::to_string(port) + ")");
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(spinUntil([&] { return server->clientCount() == 1; }));

    ASSERT_TRUE(avahi->restart());
    ASSERT_TRUE(spinUntil([&] { return advertised(); }, 30000))
        << server->discovery().text() << "\n" << avahi->log();
    EXPECT_NE(browse().find("Tamborix\\032Test"), std::string::npos);
}

}  // namespace
}  // namespace tamborix::testing
