#include "transport/bluetooth_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/ble_fragments.h"
#include "protocol/secure_session.h"
#include "testing/fake_peripheral.h"
#include "testing/fake_session_entry.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

using State = Peripheral::State;
const std::string cmd = BluetoothServer::cmdUUID;
const std::string statusChar = BluetoothServer::statusUUID;

// A sealed-looking frame of `size` bytes carrying session id `sid`.
Bytes frameFor(std::uint8_t sid, std::size_t size, std::uint8_t fill = 0xAB) {
    Bytes f(size, fill);
    f[0] = SecureSession::version;
    for (int i = 1; i <= 8; ++i) f[static_cast<std::size_t>(i)] = sid;
    return f;
}

HelperConnPtr connWithSid(std::uint8_t sid, bool paired) {
    auto conn = paired ? FakeSessionEntry::pairedConn() : FakeSessionEntry::pairingConn();
    conn->session = std::make_unique<SecureSession>(Bytes(8, sid), Bytes(32, 0), SecureSession::Key{},
                                                    SecureSession::Key{});
    return conn;
}

class BluetoothServerTest : public ::testing::Test {
protected:
    BluetoothServerTest() {
        // A handshake `{"hello":N}` is accepted with session id N, `{"pair":N}` as a pairing.
        core.onHandshake = [this](ByteView line, const std::string&, const std::string&) {
            const auto j = nlohmann::json::parse(toString(line), nullptr, false);
            if (j.is_object() && j.contains("hello")) {
                auto conn = connWithSid(j["hello"].get<std::uint8_t>(), true);
                conn->lastRx = loop.now();
                return HandshakeOutcome{{{"t", "welcome2"}}, conn};
            }
            if (j.is_object() && j.contains("pair")) {
                auto conn = connWithSid(j["pair"].get<std::uint8_t>(), false);
                conn->lastRx = loop.now();
                return HandshakeOutcome{{{"t", "welcome2"}}, conn};
            }
            return HandshakeOutcome{{{"t", "error"}, {"msg", "no"}}, nullptr};
        };
        statusSub = server.onStatusChanged([this] { statuses.push_back(server.status()); });
    }

    // Started, powered on, service published and advertising.
    FakePeripheral& startOn() {
        server.start();
        loop.runPosted();
        return *peripherals.current();
    }

    // Writes `message` as the phone would: whole when it fits, else in fragments.
    void send(const CentralId& central, ByteView message, std::size_t chunk = 20) {
        for (const auto& value : BLEFragments::split(message, chunk))
            peripherals.current()->write(central, cmd, value);
    }
    void hello(const CentralId& central, int sid) {
        send(central, toBytes(nlohmann::json{{"hello", sid}}.dump()), 512);
    }

    ManualLoop loop;
    FakeSessionEntry core;
    FakePeripheralFactory peripherals{loop};
    BluetoothServer server{loop, core, peripherals};
    std::vector<std::string> statuses;
    Subscription statusSub;
};

TEST_F(BluetoothServerTest, Start_PoweredOn_PublishesLayoutAdvertisesAndSaysOn) {
    EXPECT_EQ(server.status(), "Starting…");
    auto& p = startOn();
    ASSERT_EQ(p.services.size(), 1u);
    const auto& s = p.services[0];
    EXPECT_EQ(s.uuid, "9F3C0001-8E2B-4C7A-A51D-2E6F1B7C9D40");
    ASSERT_EQ(s.characteristics.size(), 2u);
    EXPECT_EQ(s.characteristics[0].uuid, "9F3C0002-8E2B-4C7A-A51D-2E6F1B7C9D40");
    EXPECT_EQ(s.characteristics[0].properties, 0x0C);
    EXPECT_EQ(s.characteristics[0].permissions, 0x02);
    EXPECT_EQ(s.characteristics[1].uuid, "9F3C0003-8E2B-4C7A-A51D-2E6F1B7C9D40");
    EXPECT_EQ(s.characteristics[1].properties, 0x12);
    EXPECT_EQ(s.characteristics[1].permissions, 0x01);
    ASSERT_TRUE(p.advertising);
    EXPECT_EQ(p.advertising->serviceUUIDs, std::vector<std::string>{s.uuid});
    EXPECT_EQ(p.advertising->localName, "Velmorand");
    EXPECT_EQ(server.status(), "On");

    // The radio going off and on rebuilds the service from scratch.
    p.setState(State::poweredOff);
    EXPECT_EQ(server.status(), "Bluetooth is off");
    p.setState(State::poweredOn);
    loop.runPosted();
    EXPECT_EQ(p.services.size(), 1u);
    EXPECT_GE(p.removals, 2u);
    EXPECT_EQ(server.status(), "On");

    p.setLimitation("one phone at a time with this BlueZ version");
    EXPECT_EQ(server.status(), "On (one phone at a time with this BlueZ version)");

    server.stop();
    EXPECT_EQ(server.status(), "Off");
    EXPECT_EQ(peripherals.current(), nullptr);
    server.start();  // stays "Off" until the stack reports
    EXPECT_EQ(server.status(), "Off");
    loop.runPosted();
    EXPECT_EQ(server.status(), "On");
}

TEST_F(BluetoothServerTest, Status_StackStatesAndFailures_ShownAsMenuTexts) {
    peripherals.initialState = State::unsupported;
    server.start();
    loop.runPosted();
    EXPECT_EQ(server.status(), "Not supported on this computer");
    auto& p = *peripherals.current();
    p.setState(State::unauthorized, "org.freedesktop.DBus.Error.AccessDenied: Rejected send message");
    EXPECT_EQ(server.status(),
              "Needs Bluetooth permission (org.freedesktop.DBus.Error.AccessDenied: Rejected send message)");
    p.setState(State::poweredOff);
    EXPECT_EQ(server.status(), "Bluetooth is off");
    p.addServiceError = "No such adapter";
    p.setState(State::poweredOn);
    loop.runPosted();
    EXPECT_EQ(server.status(), "Failed: No such adapter");
    EXPECT_FALSE(p.advertising);
    p.addServiceError.reset();
    p.advertisingError = "Maximum advertisements reached";
    p.setState(State::poweredOn);
    loop.runPosted();
    EXPECT_EQ(server.status(), "Failed: Maximum advertisements reached");
}

TEST_F(BluetoothServerTest, Handshake_AcceptedThenFragmentedFrame_CoreGetsFrameOnceAfterLastFragment) {
    auto& p = startOn();
    p.subscribe("AA:BB:CC:DD:EE:01", statusChar);
    EXPECT_TRUE(p.lowLatency.contains("AA:BB:CC:DD:EE:01"));
    hello("AA:BB:CC:DD:EE:01", 5);
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].peer, "bluetooth:AABBCCDD");
    EXPECT_EQ(core.handshakes[0].transport, "Bluetooth");
    // The reply, then the ready frame (not JSON: sent as it is, it fits).
    ASSERT_EQ(p.sent["AA:BB:CC:DD:EE:01"].size(), 2u);
    EXPECT_EQ(toString(p.sent["AA:BB:CC:DD:EE:01"][0]), R"({"t":"welcome2"})");
    EXPECT_EQ(toString(p.sent["AA:BB:CC:DD:EE:01"][1]), "READY");
    EXPECT_EQ(server.sessionCount(), 1u);

    const auto frame = frameFor(5, 100);
    const auto values = BLEFragments::split(frame, 20);
    ASSERT_EQ(values.size(), 6u);
    for (std::size_t i = 0; i + 1 < values.size(); ++i) p.write("AA:BB:CC:DD:EE:01", cmd, values[i]);
    EXPECT_TRUE(core.framesNow.empty());
    p.write("AA:BB:CC:DD:EE:01", cmd, values.back());
    ASSERT_EQ(core.framesNow.size(), 1u);
    EXPECT_EQ(core.framesNow[0].frame, frame);

    // Another session's frame, a write to the status characteristic and a write without a
    // value are ignored.
    send("AA:BB:CC:DD:EE:01", frameFor(6, 40));
    p.writeBatch({{"AA:BB:CC:DD:EE:01", statusChar, frameFor(5, 40)},
                  {"AA:BB:CC:DD:EE:01", cmd, std::nullopt}});
    EXPECT_EQ(core.framesNow.size(), 1u);

    // A pushed frame longer than the link is fragmented to the central's value length.
    p.mtu["AA:BB:CC:DD:EE:01"] = 50;
    const auto pushed = frameFor(5, 120, 0x33);
    core.framesNow[0].conn->push(pushed);
    auto& sent = p.sent["AA:BB:CC:DD:EE:01"];
    ASSERT_EQ(sent.size(), 2u + 3u);
    EXPECT_EQ(sent[2].size(), 50u);
    BLEFragments::Reassembler r;
    std::optional<Bytes> whole;
    for (std::size_t i = 2; i < sent.size(); ++i) whole = r.push(sent[i]);
    EXPECT_EQ(whole, pushed);
}

TEST_F(BluetoothServerTest, Write_MessageSizes_4096ProcessedAnd4097Ignored) {
    auto& p = startOn();
    hello("C1", 1);
    send("C1", frameFor(1, 4097));
    EXPECT_TRUE(core.framesNow.empty());
    send("C1", frameFor(1, 4096));
    ASSERT_EQ(core.framesNow.size(), 1u);
    EXPECT_EQ(core.framesNow[0].frame.size(), 4096u);
    // A refused handshake is answered but leaves no session.
    send("C2", toBytes(R"({"t":"hello2"})"), 512);
    EXPECT_EQ(toString(p.sent["C2"].at(0)), R"({"msg":"no","t":"error"})");
    EXPECT_EQ(server.sessionCount(), 1u);
    send("C2", frameFor(1, 40));
    EXPECT_EQ(core.framesNow.size(), 1u);
}

TEST_F(BluetoothServerTest, Read_LongJsonReply_OneValueAndReadableWithOffsets) {
    auto& p = startOn();
    const auto info = p.read("C1", statusChar, 0);
    EXPECT_EQ(toString(info.value), R"({"os":"linux","t":"info","v":2})");

    core.onHandshake = [](ByteView, const std::string&, const std::string&) {
        return HandshakeOutcome{{{"t", "error"}, {"msg", std::string(300, 'x')}}, nullptr};
    };
    send("C1", toBytes(R"({"t":"pair2"})"), 512);
    ASSERT_EQ(p.sent["C1"].size(), 1u);  // never fragmented
    const auto reply = p.sent["C1"][0];
    EXPECT_GT(reply.size(), 300u);
    Bytes collected;
    while (true) {
        const auto part = p.read("C1", statusChar, collected.size());
        ASSERT_EQ(part.result, Peripheral::ReadResult::success);
        if (part.value.empty()) break;
        collected.insert(collected.end(), part.value.begin(), part.value.begin() +
                                                                  static_cast<std::ptrdiff_t>(std::min<std::size_t>(22, part.value.size())));
    }
    EXPECT_EQ(collected, reply);
    EXPECT_EQ(p.read("C1", statusChar, reply.size() + 1).result, Peripheral::ReadResult::invalidOffset);
    // Another central still reads the default.
    EXPECT_EQ(p.read("C2", statusChar, 0).value, info.value);
}

TEST_F(BluetoothServerTest, Handshake_NinthSession_DropsTheLeastRecentlyActive) {
    auto& p = startOn();
    for (int i = 0; i < 8; ++i) {
        hello("C" + std::to_string(i), i + 1);
        loop.advance(1.0);
    }
    // C0 is the oldest by creation, but it was active last.
    core.framesNow.clear();
    send("C0", frameFor(1, 40));
    ASSERT_EQ(core.framesNow.size(), 1u);
    core.framesNow[0].conn->lastRx = loop.now();
    EXPECT_EQ(server.sessionCount(), 8u);
    hello("C8", 9);
    EXPECT_EQ(server.sessionCount(), 8u);
    ASSERT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(core.closedCalls[0]->session->sid(), Bytes(8, 2));  // C1's
    // C1's frames now go nowhere, and nothing of its session is kept: its last reply is gone.
    send("C1", frameFor(2, 40));
    EXPECT_EQ(core.framesNow.size(), 1u);
    EXPECT_EQ(p.read("C1", statusChar, 0).value, BluetoothServer::infoValue());
    EXPECT_NE(p.read("C2", statusChar, 0).value, BluetoothServer::infoValue());
}

TEST_F(BluetoothServerTest, Notify_LinkFull_QueuesInOrderAndDropsCentralBeyond400) {
    auto& p = startOn();
    hello("C1", 1);
    hello("C2", 2);
    p.sent.clear();
    p.room["C1"] = 0;
    ASSERT_EQ(core.readyCalls.size(), 2u);
    auto conn1 = core.readyCalls[0];
    auto conn2 = core.readyCalls[1];
    for (int i = 0; i < 400; ++i) conn1->push(frameFor(1, 20, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(server.backlog(), 400u);
    EXPECT_TRUE(p.sent["C1"].empty());
    // The other central is served meanwhile.
    conn2->push(frameFor(2, 20));
    EXPECT_EQ(p.sent["C2"].size(), 1u);

    p.makeRoom("C1", 150);
    EXPECT_EQ(p.sent["C1"].size(), 150u);
    EXPECT_EQ(server.backlog(), 250u);
    for (std::size_t i = 0; i < 150; ++i) EXPECT_EQ(p.sent["C1"][i].back(), static_cast<std::uint8_t>(i));
    p.makeRoom("C1", 1000);
    EXPECT_EQ(p.sent["C1"].size(), 400u);
    EXPECT_EQ(server.backlog(), 0u);
    EXPECT_EQ(p.sent["C1"][399].back(), static_cast<std::uint8_t>(399 % 256));

    // Over the bound: the outbox is discarded and the central loses its session.
    p.room["C1"] = 0;
    for (int i = 0; i < 401; ++i) conn1->push(frameFor(1, 20));
    EXPECT_EQ(server.backlog(), 0u);
    EXPECT_EQ(server.sessionCount(), 1u);
    ASSERT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(core.closedCalls[0], conn1);
}

TEST_F(BluetoothServerTest, Frames_PairingSession_QueuedInOrderAndUnsubscribeStopsTheRest) {
    auto& p = startOn();
    p.subscribe("C1", statusChar);
    send("C1", toBytes(nlohmann::json{{"pair", 4}}.dump()), 512);
    ASSERT_EQ(server.sessionCount(), 1u);
    send("C1", frameFor(4, 40, 1));
    send("C1", frameFor(4, 40, 2));
    send("C1", frameFor(4, 40, 3));
    ASSERT_EQ(core.pending.size(), 1u);  // one at a time
    p.sent.clear();
    core.completeNext({frameFor(4, 20, 9)});
    ASSERT_EQ(core.pending.size(), 1u);
    EXPECT_EQ(core.pending[0].frame.back(), 2);
    EXPECT_EQ(p.sent["C1"].size(), 1u);

    // The central leaves while the second frame is inside the core and the third waits.
    p.unsubscribe("C1", statusChar);
    EXPECT_EQ(server.sessionCount(), 0u);
    EXPECT_EQ(core.closedCalls.size(), 1u);
    core.completeNext({frameFor(4, 20, 9)});
    EXPECT_TRUE(core.pending.empty());        // the third never reached the core
    EXPECT_EQ(core.framesAsync.size(), 2u);
    EXPECT_EQ(p.sent["C1"].size(), 1u);       // the reply went nowhere

    // A failing queued frame drops the central.
    send("C2", toBytes(nlohmann::json{{"pair", 7}}.dump()), 512);
    send("C2", frameFor(7, 40));
    core.failNext();
    EXPECT_EQ(server.sessionCount(), 0u);
    EXPECT_EQ(core.closedCalls.size(), 2u);
}

TEST_F(BluetoothServerTest, Reap_SessionIdleOverAMinute_DroppedByTheNextSweep) {
    startOn();
    hello("C1", 1);
    hello("C2", 2);
    loop.advance(55.0);
    send("C2", frameFor(2, 40));
    core.framesNow.back().conn->lastRx = loop.now();
    loop.advance(5.0);
    EXPECT_EQ(server.sessionCount(), 2u);  // exactly 60 s: not yet
    loop.advance(10.0);
    EXPECT_EQ(server.sessionCount(), 1u);
    ASSERT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(core.closedCalls[0]->session->sid(), Bytes(8, 1));
    server.stop();
    EXPECT_EQ(server.sessionCount(), 0u);
    EXPECT_EQ(core.closedCalls.size(), 2u);
    loop.advance(120.0);  // no sweep after stop
    EXPECT_EQ(core.closedCalls.size(), 2u);
}

TEST_F(BluetoothServerTest, Handshake_NewHandshakeOnSameCentral_ReplacesSession) {
    auto& p = startOn();
    hello("C1", 1);
    hello("C1", 2);
    EXPECT_EQ(server.sessionCount(), 1u);
    ASSERT_EQ(core.closedCalls.size(), 1u);
    send("C1", frameFor(1, 40));
    EXPECT_TRUE(core.framesNow.empty());
    send("C1", frameFor(2, 40));
    EXPECT_EQ(core.framesNow.size(), 1u);
    // A failing frame drops the central; its read value falls back to the default.
    send("C1", toBytes("bad"));  // not a frame of this session: ignored
    core.onNow = [](const HelperConnPtr&, ByteView) { throw std::runtime_error("no"); };
    send("C1", frameFor(2, 40));
    EXPECT_EQ(server.sessionCount(), 0u);
    EXPECT_EQ(p.read("C1", statusChar, 0).value, BluetoothServer::infoValue());
}

}  // namespace
}  // namespace tamborix::testing
