#include "transport/network_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "testing/fake_service_advertiser.h"
#include "testing/fake_session_entry.h"
#include "testing/fake_stream.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

using State = StreamListener::State;

class NetworkServerTest : public ::testing::Test {
protected:
    NetworkServerTest() {
        statusSub = server.onStatusChanged([this] { statuses.push_back(server.status()); });
    }

    // Starts the server and lets the listener become ready.
    void startReady() {
        server.start();
        ASSERT_TRUE(listeners.reportState(State::ready));
    }

    std::shared_ptr<FakeStreamPeer> connectAndGreet(const std::string& line) {
        auto peer = listeners.connect();
        if (peer) {
            peer->deliver(line + "\n");
            loop.runPosted();
        }
        return peer;
    }

    ManualLoop loop;
    FakeSessionEntry core;
    FakeStreamListenerFactory listeners{loop};
    FakeServiceAdvertiser advertiser;
    NetworkServer server{loop, core, listeners, &advertiser, "Desk", 50505};
    std::vector<std::string> statuses;
    Subscription statusSub;
};

TEST_F(NetworkServerTest, Status_ListenerStates_ShownAsMenuTexts) {
    EXPECT_EQ(server.status(), "Starting…");
    server.start();
    EXPECT_EQ(server.status(), "Starting…");  // start() alone does not change it
    EXPECT_EQ(listeners.last()->requestedPort, 50505);
    listeners.reportState(State::setup);
    listeners.reportState(State::waiting, "Network is down");
    EXPECT_EQ(server.status(), "Waiting: Network is down");
    listeners.reportState(State::ready);
    EXPECT_EQ(server.status(), "On (port 50505)");
    listeners.reportState(State::cancelled);
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Waiting: Network is down", "On (port 50505)"}));
}

TEST_F(NetworkServerTest, Status_ListenerFails_NamesThePortAndStartRetries) {
    server.start();
    listeners.reportState(State::failed, "Address already in use");
    EXPECT_EQ(server.status(), "Failed: port 50505: Address already in use");
    EXPECT_FALSE(server.running());
    loop.advance(60.0);
    EXPECT_EQ(listeners.created(), 1u);  // no retry of its own

    // Switching the network on again tries again, without switching it off first.
    server.start();
    EXPECT_EQ(listeners.created(), 2u);
    listeners.reportState(State::ready);
    EXPECT_EQ(server.status(), "On (port 50505)");
    EXPECT_TRUE(server.running());
}

TEST_F(NetworkServerTest, Start_ListenerCannotBeCreated_FailedStatus) {
    listeners.failNextCreate("Permission denied");
    server.start();
    EXPECT_EQ(server.status(), "Failed: port 50505: Permission denied");
    EXPECT_FALSE(server.running());
    EXPECT_TRUE(advertiser.advertised.empty());
}

TEST_F(NetworkServerTest, Start_AfterStop_StaysOffUntilListenerReady) {
    startReady();
    server.stop();
    EXPECT_EQ(server.status(), "Off");
    EXPECT_TRUE(listeners.last()->cancelled);
    server.start();
    EXPECT_EQ(server.status(), "Off");
    listeners.reportState(State::ready);
    EXPECT_EQ(server.status(), "On (port 50505)");
    EXPECT_EQ(listeners.created(), 2u);
    server.start();  // while running: nothing new
    EXPECT_EQ(listeners.created(), 2u);
    EXPECT_FALSE(listeners.last()->cancelled);
}

TEST_F(NetworkServerTest, Accept_SixteenPhones_SeventeenthCancelledUntilOneLeaves) {
    startReady();
    std::vector<std::shared_ptr<FakeStreamPeer>> phones;
    for (int i = 0; i < 16; ++i) {
        phones.push_back(listeners.connect("192.0.2." + std::to_string(i)));
        phones.back()->deliver("hello\n");
    }
    loop.runPosted();
    EXPECT_EQ(server.clientCount(), 16u);
    EXPECT_EQ(server.unprovenCount(), 0u);

    auto refused = listeners.connect();
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->cancelled());
    EXPECT_FALSE(refused->started());
    EXPECT_TRUE(refused->sends().empty());  // no reply at all
    EXPECT_EQ(server.clientCount(), 16u);

    phones[3]->deliverEnd();
    loop.runPosted();
    EXPECT_EQ(server.clientCount(), 15u);
    auto next = listeners.connect("198.51.100.1");
    EXPECT_FALSE(next->cancelled());
    EXPECT_TRUE(next->started());
}

TEST_F(NetworkServerTest, Accept_ManyAddressesTrickle_PhonesStillPairAndConnect) {
    startReady();
    std::vector<std::shared_ptr<FakeStreamPeer>> trickle;
    const auto trickleRound = [&] {
        for (int host = 0; host < 64; ++host)
            for (int i = 0; i < 4; ++i)
                trickle.push_back(listeners.connect("203.0.113." + std::to_string(host)));
        // Pairing sessions that never send their proof count the same way.
        for (int i = 0; i < 16; ++i) {
            trickle.push_back(listeners.connect("198.51.100." + std::to_string(i % 4)));
            trickle.back()->deliver("pair\n");
        }
        loop.runPosted();
    };
    trickleRound();
    EXPECT_LE(server.unprovenCount(), NetworkServer::maxUnproven);

    // A phone that arrives in the middle of the trickle keeps its place until it has greeted.
    auto phone = listeners.connect("192.0.2.50");
    auto pairing = listeners.connect("192.0.2.51");
    trickleRound();
    EXPECT_FALSE(phone->cancelled());
    EXPECT_FALSE(pairing->cancelled());
    phone->deliver("hello\n");
    pairing->deliver("pair\n");
    loop.runPosted();
    trickleRound();
    pairing->deliver("AAAA\n");  // its first frame, the proof: waits for the user
    loop.runPosted();
    trickleRound();
    trickleRound();
    EXPECT_FALSE(phone->cancelled());
    EXPECT_FALSE(pairing->cancelled());
    EXPECT_EQ(core.pending.size(), 1u);
    EXPECT_EQ(server.clientCount() - server.unprovenCount(), 2u);
}

TEST_F(NetworkServerTest, Accept_OneHostOrOneIpv6Slash64Trickles_ItsNewestPushOutItsOldest) {
    startReady();
    std::vector<std::shared_ptr<FakeStreamPeer>> one;
    for (int i = 0; i < 6; ++i) one.push_back(listeners.connect("203.0.113.9"));
    std::vector<std::shared_ptr<FakeStreamPeer>> net;
    for (int i = 1; i <= 6; ++i)
        net.push_back(listeners.connect("2001:db8:1:2:" + std::to_string(i) + "::7"));
    auto neighbour = listeners.connect("2001:db8:1:3::1");
    auto mapped = listeners.connect("::ffff:203.0.113.9");
    for (const auto* group : {&one, &net}) {
        for (std::size_t i = 0; i < group->size(); ++i)
            EXPECT_EQ((*group)[i]->cancelled(), group == &one ? i < 3 : i < 2) << i;
    }
    EXPECT_FALSE(neighbour->cancelled());
    EXPECT_FALSE(mapped->cancelled());
    EXPECT_EQ(server.unprovenCount(), 4u + 4u + 1u);

    // The unfinished ones are gone ten seconds after they came, whatever they keep sending.
    for (int i = 0; i < 3; ++i) {
        loop.advance(4.0);
        for (auto& p : net) p->deliver("{");
        loop.runPosted();
    }
    EXPECT_EQ(server.clientCount(), 0u);
}

TEST_F(NetworkServerTest, Stop_ClientsWithSessions_CoreToldOncePerSessionAndMapEmptied) {
    startReady();
    auto a = connectAndGreet("hello");
    auto b = connectAndGreet("pair");
    auto c = listeners.connect();  // still in its handshake
    int clientChanges = 0;
    auto sub = server.onClientsChanged([&] { ++clientChanges; });
    server.stop();
    EXPECT_EQ(server.clientCount(), 0u);
    EXPECT_EQ(server.status(), "Off");
    ASSERT_EQ(core.closedCalls.size(), 2u);
    EXPECT_NE(core.closedCalls[0], core.closedCalls[1]);
    for (const auto& p : {a, b, c}) EXPECT_TRUE(p->cancelled());
    EXPECT_GE(clientChanges, 1);
    // A second stop changes nothing.
    server.stop();
    EXPECT_EQ(core.closedCalls.size(), 2u);
}

TEST_F(NetworkServerTest, CloseDevice_TwoSessionsOfOneDevice_BothEndOthersStay) {
    core.onHandshake = [](ByteView line, const std::string&, const std::string&) {
        auto conn = FakeSessionEntry::pairedConn();
        conn->device->id = toString(line);
        return HandshakeOutcome{{{"t", "welcome2"}}, conn};
    };
    startReady();
    auto a1 = connectAndGreet("aaaa");
    auto b = connectAndGreet("bbbb");
    auto a2 = connectAndGreet("aaaa");
    auto handshaking = listeners.connect();
    EXPECT_EQ(server.closeDevice("aaaa"), 2u);
    EXPECT_TRUE(a1->cancelled());
    EXPECT_TRUE(a2->cancelled());
    EXPECT_FALSE(b->cancelled());
    EXPECT_FALSE(handshaking->cancelled());
    EXPECT_EQ(core.closedCalls.size(), 2u);
    EXPECT_EQ(server.clientCount(), 2u);
    EXPECT_EQ(server.closeDevice("aaaa"), 0u);
}

TEST_F(NetworkServerTest, Clients_IdleAndRefused_LeaveTheMap) {
    startReady();
    auto idle = listeners.connect();
    auto refused = connectAndGreet("who");
    EXPECT_EQ(server.clientCount(), 2u);
    refused->finishSends();
    EXPECT_EQ(server.clientCount(), 1u);
    loop.advance(12.0);
    EXPECT_EQ(server.clientCount(), 0u);
    EXPECT_TRUE(idle->cancelled());
}

TEST_F(NetworkServerTest, Advertiser_Ready_PublishesNameTypePortAndTxt) {
    int discoveryChanges = 0;
    auto sub = server.onDiscoveryChanged([&] { ++discoveryChanges; });
    server.start();
    EXPECT_TRUE(advertiser.advertised.empty());  // nothing to find before the port is open
    listeners.reportState(State::ready);
    ASSERT_EQ(advertiser.advertised.size(), 1u);
    const auto& s = advertiser.advertised[0];
    EXPECT_EQ(s.name, "Desk");
    EXPECT_EQ(s.type, "_velmorand._tcp");
    EXPECT_EQ(s.port, 50505);
    EXPECT_EQ(s.txt, (std::vector<std::pair<std::string, std::string>>{{"v", "2"},
                                                                       {"os", "linux"}}));
    advertiser.establish();
    EXPECT_EQ(server.discovery().text(), "Discovery — advertised as “Desk”");
    EXPECT_GE(discoveryChanges, 2);

    server.stop();
    EXPECT_FALSE(advertiser.current.has_value());
    EXPECT_EQ(server.discovery().phase, DiscoveryState::Phase::off);
}

TEST_F(NetworkServerTest, Advertiser_Unavailable_ListenerKeepsAccepting) {
    startReady();
    advertiser.failWith("Daemon not running");
    EXPECT_EQ(server.discovery().text(), "Discovery — unavailable: Daemon not running");
    EXPECT_EQ(server.status(), "On (port 50505)");
    auto peer = connectAndGreet("hello");
    EXPECT_EQ(peer->sentLines().size(), 2u);
}

TEST(NetworkServerPortTest, Start_PortZero_StatusAndServiceCarryTheBoundPort) {
    ManualLoop loop;
    FakeSessionEntry core;
    FakeStreamListenerFactory listeners{loop};
    FakeServiceAdvertiser advertiser;
    NetworkServer server{loop, core, listeners, &advertiser, "Desk", 0};
    server.start();
    listeners.reportState(State::ready);
    EXPECT_EQ(server.status(), "On (port 49152)");
    EXPECT_EQ(server.boundPort(), 49152);
    ASSERT_EQ(advertiser.advertised.size(), 1u);
    EXPECT_EQ(advertiser.advertised[0].port, 49152);
}

TEST(NetworkServerLifetimeTest, Destroyed_WithPendingFrame_LateCompletionIsHarmless) {
    ManualLoop loop;
    FakeSessionEntry core;
    FakeStreamListenerFactory listeners{loop};
    std::shared_ptr<FakeStreamPeer> peer;
    {
        NetworkServer server{loop, core, listeners, nullptr, "Desk"};
        server.start();
        listeners.reportState(State::ready);
        EXPECT_EQ(server.discovery().phase, DiscoveryState::Phase::off);
        peer = listeners.connect();
        peer->deliver("pair\n" + Wire::b64url(toBytes("p1")) + "\n");
        loop.runPosted();
        ASSERT_EQ(core.pending.size(), 1u);
    }
    EXPECT_TRUE(peer->dropped());
    EXPECT_EQ(core.closedCalls.size(), 1u);
    core.completeNext({toBytes("late")});
    loop.advance(60.0);
    EXPECT_EQ(peer->sentLines().size(), 1u);
}

}  // namespace
}  // namespace tamborix::testing
