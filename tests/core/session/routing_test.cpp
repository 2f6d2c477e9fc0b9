// Connections: the handshake entry, the ready sequence, the registry and the end of a session.

#include <gtest/gtest.h>

#include "core/desktop/laser_overlay.h"
#include "core/input/smoother.h"
#include "core_harness.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

HandshakeOutcome shake(HelperCore& core, const json& request, const std::string& peer = "peer") {
    const auto text = request.dump();
    return core.handshake(toBytes(text), peer, "Network");
}

json helloFor(const KeyPair& key, PhoneHandshake::Kind kind = PhoneHandshake::Kind::hello,
              const std::string& name = "Phone") {
    return PhoneHandshake(key, kind, name).request();
}

class Routing : public ::testing::Test {
protected:
    CoreHarness h;
};

TEST_F(Routing, Handshake_NotAVersion2Request_UnsupportedWithoutNonce) {
    auto key = KeyPair::generate();
    h.pair(key, "Phone");
    auto v1 = helloFor(key);
    v1["v"] = 1;
    auto hello = helloFor(key);
    hello["t"] = "hello";
    auto boolVersion = helloFor(key);
    boolVersion["v"] = true;
    for (const auto& request : {v1, hello, boolVersion, json::array({1, 2}), json("hello2")}) {
        const auto out = shake(*h.core, request);
        EXPECT_EQ(out.reply, (json{{"t", "error"}, {"msg", "unsupported protocol (update the app)"}}))
            << request.dump();
        EXPECT_EQ(out.conn, nullptr);
    }
    const auto garbage = h.core->handshake(toBytes("{not json"), "peer", "Network");
    EXPECT_EQ(garbage.reply["msg"], "unsupported protocol (update the app)");
    // None of them counted against the limit.
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(shake(*h.core, helloFor(key)).conn) << i;
}

TEST_F(Routing, Handshake_BadKeysAndUnknownDevices_ErrorsEchoNonce) {
    auto key = KeyPair::generate();
    auto request = helloFor(key);
    EXPECT_EQ(shake(*h.core, request).reply,
              (json{{"t", "error"}, {"msg", "not paired"}, {"nc", request["nc"]}}));

    h.pair(key, "Phone");
    auto shortDev = request;
    shortDev["dev"] = Wire::b64url(Bytes(31, 1));
    EXPECT_EQ(shake(*h.core, shortDev).reply["msg"], "bad handshake");
    auto noDev = request;
    noDev.erase("dev");
    noDev["nc"] = json::array({1});
    EXPECT_EQ(shake(*h.core, noDev).reply,
              (json{{"t", "error"}, {"msg", "bad handshake"}, {"nc", json::array({1})}}));
    // A nonce that is not text is echoed as it came, and makes the request fail in accept.
    auto numberNonce = request;
    numberNonce["nc"] = 7;
    const auto out = shake(*h.core, numberNonce);
    EXPECT_EQ(out.reply, (json{{"t", "error"}, {"msg", "bad handshake"}, {"nc", 7}}));
    EXPECT_EQ(out.conn, nullptr);
}

TEST_F(Routing, Handshake_PairWhileClosed_TellsUserToOpenPairing) {
    auto request = helloFor(KeyPair::generate(), PhoneHandshake::Kind::pair);
    const auto out = shake(*h.core, request);
    EXPECT_EQ(out.reply["msg"],
              "pairing is closed \u2014 choose \u201cPair New Device\u2026\u201d on the computer");
    EXPECT_EQ(out.reply["nc"], request["nc"]);
}

TEST_F(Routing, Handshake_Names_CutToSixtyFourOrDefaultOrStored) {
    h.store.openPairing();
    auto key = KeyPair::generate();
    const std::string longName(100, 'x');
    const auto pairOut = shake(*h.core, helloFor(key, PhoneHandshake::Kind::pair, longName));
    ASSERT_TRUE(pairOut.conn);
    EXPECT_EQ(pairOut.conn->clientName, std::string(64, 'x'));
    EXPECT_EQ(pairOut.conn->pairingPub, Bytes(key.publicKey().begin(), key.publicKey().end()));
    EXPECT_FALSE(pairOut.conn->authenticated());

    auto noName = helloFor(key, PhoneHandshake::Kind::pair);
    noName["name"] = 12;
    EXPECT_EQ(shake(*h.core, noName).conn->clientName, "device");

    h.pair(key, "Stored Name");
    const auto hello = shake(*h.core, helloFor(key, PhoneHandshake::Kind::hello, "Other"));
    ASSERT_TRUE(hello.conn);
    EXPECT_EQ(hello.conn->clientName, "Stored Name");
    EXPECT_TRUE(hello.conn->authenticated());
    EXPECT_EQ(hello.conn->transport, "Network");
}

TEST_F(Routing, Handshake_PairFromAlreadyPairedKey_StillWelcomed) {
    auto key = KeyPair::generate();
    h.pair(key, "Phone");
    h.store.openPairing();
    const auto out = shake(*h.core, helloFor(key, PhoneHandshake::Kind::pair));
    EXPECT_EQ(out.reply["t"], "welcome2");
    ASSERT_TRUE(out.conn);
    EXPECT_FALSE(out.conn->authenticated());
}

TEST_F(Routing, Handshake_TwentyFirstAttempt_RefusedUntilPeerPauses) {
    auto key = KeyPair::generate();
    h.pair(key, "Phone");
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(shake(*h.core, helloFor(key), "a").reply["t"], "welcome2") << i;
        h.loop.advance(1.0);
    }
    const auto refused = helloFor(key);
    EXPECT_EQ(shake(*h.core, refused, "a").reply,
              (json{{"t", "error"}, {"msg", "too many attempts, wait a minute"}, {"nc", refused["nc"]}}));
    EXPECT_EQ(shake(*h.core, helloFor(key), "b").reply["t"], "welcome2");
    // Refused attempts count too: trying on keeps the peer locked out.
    h.loop.advance(30.0);
    EXPECT_EQ(shake(*h.core, helloFor(key), "a").reply["t"], "error");
    h.loop.advance(60.0);
    EXPECT_EQ(shake(*h.core, helloFor(key), "a").reply["t"], "welcome2");
}

TEST_F(Routing, RateOK_WindowSlides_OnlyAttemptsInsideCount) {
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(h.core->rateOK("k"));
    EXPECT_FALSE(h.core->rateOK("k"));
    // 60 s after the first burst all 21 have left the window.
    h.loop.advance(60.0);
    EXPECT_TRUE(h.core->rateOK("k"));
    h.loop.advance(59.9);
    for (int i = 0; i < 19; ++i) EXPECT_TRUE(h.core->rateOK("k"));
    EXPECT_FALSE(h.core->rateOK("k"));
}

TEST_F(Routing, RateOK_MoreThanThousandKeys_ForgetsOthers) {
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(h.core->rateOK("busy"));
    for (int i = 0; i < 999; ++i) ASSERT_TRUE(h.core->rateOK("peer" + std::to_string(i)));
    EXPECT_EQ(h.core->rateKeys(), 1000u);
    EXPECT_FALSE(h.core->rateOK("busy"));
    EXPECT_TRUE(h.core->rateOK("one-too-many"));
    EXPECT_EQ(h.core->rateKeys(), 1u);
    EXPECT_TRUE(h.core->rateOK("busy"));
}

TEST_F(Routing, ReadyFrame_Order_ReadyThenContextThenDisplays) {
    h.workspace.running = {{.handle = 5, .appId = "firefox.desktop", .name = "Firefox"}};
    h.workspace.front = 5;
    h.core->startWatchingFrontApp();
    auto key = KeyPair::generate();
    h.pair(key, "Pixel", PairedDevice::Scope::presenter);
    LoopbackPhone phone(*h.core, key);
    ASSERT_EQ(phone.connect()["t"], "welcome2");
    ASSERT_EQ(phone.received().size(), 1u);  // context and displays wait for the loop
    h.loop.runPosted();
    ASSERT_EQ(phone.received().size(), 3u);
    EXPECT_EQ(phone.received()[0],
              (json{{"t", "ready"}, {"host", "Test Box"}, {"os", "linux"}, {"v", 2},
                    {"scope", "presenter"}, {"caps", {"apps", "laser", "screen", "open"}}}));
    EXPECT_EQ(phone.received()[1],
              (json{{"t", "context"}, {"app", "Firefox"}, {"id", "firefox.desktop"}}));
    EXPECT_EQ(phone.received()[2], (json{{"t", "displays"}, {"n", 2}, {"cur", 1}}));
    EXPECT_EQ(h.lastEvent(), "Pixel connected via Network");
    EXPECT_NE(h.store.deviceById(Wire::deviceID(key.publicKey()))->lastSeen, WallTime{});

    // A phone whose first frame is handled before the loop's next pass still hears context and
    // displays before the reply, and only once.
    LoopbackPhone quick(*h.core, key);
    ASSERT_EQ(quick.connect()["t"], "welcome2");
    quick.send({{"t", "ping"}});
    h.loop.runPosted();
    ASSERT_EQ(quick.received().size(), 4u);
    EXPECT_EQ(quick.received()[1]["t"], "context");
    EXPECT_EQ(quick.received()[2]["t"], "displays");
    EXPECT_EQ(quick.received()[3]["t"], "pong");
}

TEST_F(Routing, ReadyFrame_NoHostName_SaysComputer) {
    CoreHarness unnamed(true, "");
    auto key = KeyPair::generate();
    unnamed.pair(key, "P2");
    LoopbackPhone second(*unnamed.core, key);
    second.connect();
    EXPECT_EQ(second.received().at(0)["host"], "Computer");
}

TEST_F(Routing, ReadyFrame_PairingConnection_GivesNothing) {
    h.store.openPairing();
    auto phone = h.pairingPhone("New");
    EXPECT_TRUE(phone->received().empty());
    EXPECT_EQ(h.core->liveCount(), 0u);
    EXPECT_TRUE(h.core->active().empty());
}

TEST_F(Routing, Active_Keys_ElevenCharacterSessionIds) {
    auto a = h.phone("Alpha");
    auto b = h.phone("Beta", PairedDevice::Scope::full, "Bluetooth");
    ASSERT_EQ(h.core->active().size(), 2u);
    for (const auto& [key, value] : h.core->active()) {
        EXPECT_EQ(key.size(), 11u);
        EXPECT_EQ(key.find_first_of("+/="), std::string::npos);
    }
    EXPECT_EQ(h.core->active().at(Wire::b64url(a->conn()->session->sid())), "Alpha (Network)");
    EXPECT_EQ(h.core->active().at(Wire::b64url(b->conn()->session->sid())), "Beta (Bluetooth)");
}

TEST_F(Routing, Closed_LastConnection_LaserOffAndActivityEnds) {
    CoreHarness live(false);
    auto a = live.phone("Alpha");
    auto b = live.phone("Beta");
    EXPECT_EQ(live.activity.held(), 1);
    EXPECT_EQ(live.activity.reasons().at(0), "Remote pointer control in progress");
    a->send({{"t", "laser"}, {"on", true}});
    ASSERT_TRUE(live.core->laser().isOn());
    a->close();
    EXPECT_TRUE(live.core->laser().isOn());
    EXPECT_EQ(live.activity.held(), 1);
    EXPECT_EQ(live.core->liveCount(), 1u);
    b->close();
    EXPECT_FALSE(live.core->laser().isOn());
    EXPECT_EQ(live.activity.held(), 0);
    EXPECT_TRUE(live.core->active().empty());
    EXPECT_EQ(live.core->liveCount(), 0u);
}

TEST_F(Routing, Closed_UnauthenticatedConnection_ReleasesHeldButtonsAndFlushes) {
    CoreHarness live(false);
    auto a = live.phone("Alpha");
    a->send({{"t", "down"}, {"b", "left"}});
    a->send({{"t", "move"}, {"dx", 40}, {"dy", 0}});
    ASSERT_TRUE(live.core->injector().held().contains("left"));
    ASSERT_TRUE(live.core->smootherIfCreated()->spreading());
    live.store.openPairing();
    auto stranger = live.pairingPhone("Stranger");
    stranger->close();
    EXPECT_TRUE(live.core->injector().held().empty());
    EXPECT_FALSE(live.core->smootherIfCreated()->spreading());

    a->send({{"t", "laser"}, {"on", true}});
    live.store.openPairing();
    auto second = live.pairingPhone("Second");
    second->close();
    EXPECT_TRUE(live.core->laser().isOn());  // Alpha is still live
    a->close();
    EXPECT_FALSE(live.core->laser().isOn());

    // With nobody live, the end of a pairing connection switches a lit laser off too.
    live.core->laser().setOn(true);
    live.store.openPairing();
    auto other = live.pairingPhone("Other");
    other->close();
    EXPECT_FALSE(live.core->laser().isOn());
}

TEST_F(Routing, Closed_ConnectionWithHeldButton_ReleasesOnBehalfOfOthers) {
    CoreHarness live(false);
    auto a = live.phone("Alpha");
    auto b = live.phone("Beta");
    a->send({{"t", "down"}, {"b", "right"}});
    ASSERT_FALSE(live.core->injector().held().empty());
    b->close();
    EXPECT_TRUE(live.core->injector().held().empty());
    EXPECT_EQ(live.core->liveCount(), 1u);
}

TEST_F(Routing, OnFrame_UnauthenticatedValidCommand_GoesToPairing) {
    h.store.openPairing();
    auto phone = h.pairingPhone("New");
    phone->send({{"t", "click"}, {"b", "left"}});
    h.loop.runPosted();
    ASSERT_TRUE(phone->ended());
    try {
        std::rethrow_exception(phone->error());
    } catch (const SecureError& e) {
        EXPECT_EQ(e, SecureError::malformed("expected pairing proof"));
    }
    EXPECT_TRUE(h.log().empty());
}

}  // namespace
}  // namespace tamborix::testing
