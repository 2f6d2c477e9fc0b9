// The BlueZ backend under the real Bluetooth server, against a stand-in bluetoothd on a private
// bus: registration, adapter states, centrals writing, reading and subscribing, back-pressure,
// and the single shared notification socket of older BlueZ versions.

#include "platform/linux/services/bluez/bluez_peripheral.h"

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "platform/linux/support/qt/qt_main_loop.h"
#include "bluez_bus.h"
#include "fake_bluez.h"
#include "protocol/ble_fragments.h"
#include "protocol/secure_session.h"
#include "testing/fake_session_entry.h"
#include "transport/bluetooth_server.h"

namespace tamborix::testing {
namespace {

Bytes frameFor(std::uint8_t sid, std::size_t size, std::uint8_t fill = 0xAB) {
    Bytes f(size, fill);
    f[0] = SecureSession::version;
    for (std::size_t i = 1; i <= 8; ++i) f[i] = sid;
    return f;
}

QByteArray qbytes(ByteView b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}
Bytes bytes(const QByteArray& q) { return Bytes(q.begin(), q.end()); }

class BluezPeripheralTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (privateSystemBus.empty()) GTEST_SKIP() << "dbus-daemon is not installed";
        bluez = std::make_unique<FakeBluez>(QString::fromStdString(privateSystemBus));
        // `{"hello":N}` opens a session with id N.
        core.onHandshake = [](ByteView line, const std::string&, const std::string&) {
            const auto j = nlohmann::json::parse(toString(line), nullptr, false);
            // `{"pair":N}` opens a session with id N that still has to pair.
            const bool pairing = j.is_object() && j.contains("pair");
            if (!j.is_object() || (!j.contains("hello") && !pairing))
                return HandshakeOutcome{{{"t", "error"}}, nullptr};
            auto conn = pairing ? FakeSessionEntry::pairingConn() : FakeSessionEntry::pairedConn();
            conn->session = std::make_unique<SecureSession>(Bytes(8, j[pairing ? "pair" : "hello"].get<std::uint8_t>()),
                                                            Bytes(32, 0), SecureSession::Key{}, SecureSession::Key{});
            return HandshakeOutcome{{{"t", "welcome2"}, {"pad", std::string(120, 'p')}}, conn};
        };
    }
    void TearDown() override {
        server.reset();
        if (bluez) bluez->stop();
        spinUntil([] { return false; }, 50);
        bluez.reset();
    }

    void startServer() {
        server = std::make_unique<BluetoothServer>(loop, core, factory);
        server->start();
    }
    bool waitOn() {
        return spinUntil([&] { return server->status() == "On" && bluez->appRegistered() && bluez->advertising(); });
    }
    // Writes a message as a phone does: in fragments of its MTU - 3.
    void send(const std::string& address, ByteView message) {
        const auto mtu = bluez->central(address)->mtu;
        for (const auto& v : BLEFragments::split(message, mtu - 3u)) bluez->write(address, qbytes(v));
    }
    void hello(const std::string& address, int sid) {
        send(address, toBytes(nlohmann::json{{"hello", sid}}.dump()));
    }
    bool settled() {
        return spinUntil([&] { return bluez->pendingCalls() == 0; });
    }
    // Reassembles what a central received after the first `skip` values.
    std::vector<Bytes> messages(const std::string& address, std::size_t skip = 0) {
        BLEFragments::Reassembler r;
        std::vector<Bytes> out;
        const auto& got = bluez->central(address)->received;
        for (std::size_t i = skip; i < got.size(); ++i) {
            if (auto m = r.push(bytes(got[i]))) out.push_back(*m);
        }
        return out;
    }

    QtMainLoop loop;
    FakeSessionEntry core;
    bluez::BluezPeripheralFactory factory{loop};
    std::unique_ptr<FakeBluez> bluez;
    std::unique_ptr<BluetoothServer> server;
};

TEST_F(BluezPeripheralTest, Start_PoweredAdapter_RegistersServiceAndAdvertisement) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn()) << server->status() << " / " << bluez->lastRegistrationError.toStdString();
    EXPECT_GE(bluez->objectReads, 1);
    EXPECT_EQ(bluez->serviceUuid, "9f3c0001-8e2b-4c7a-a51d-2e6f1b7c9d40");
    const auto* cmd = bluez->characteristic(QStringLiteral("9f3c0002-8e2b-4c7a-a51d-2e6f1b7c9d40"));
    const auto* status = bluez->characteristic(QStringLiteral("9f3c0003-8e2b-4c7a-a51d-2e6f1b7c9d40"));
    ASSERT_TRUE(cmd && status);
    EXPECT_EQ(cmd->flags, (QStringList{"write-without-response", "write"}));
    EXPECT_EQ(status->flags, (QStringList{"read", "notify"}));
    EXPECT_TRUE(status->notifyAcquired);
    EXPECT_EQ(bluez->advertisement.value("LocalName").toString(), "Velmorand");
    EXPECT_EQ(bluez->advertisement.value("ServiceUUIDs").toStringList(),
              QStringList{"9f3c0001-8e2b-4c7a-a51d-2e6f1b7c9d40"});
    EXPECT_EQ(bluez->advertisement.value("Type").toString(), "peripheral");

    // Stopping withdraws both.
    server->stop();
    EXPECT_EQ(server->status(), "Off");
    EXPECT_TRUE(spinUntil([&] { return !bluez->appRegistered() && !bluez->advertising(); }));
}

TEST_F(BluezPeripheralTest, State_AdapterAndServiceChanges_StatusFollowsAndReRegisters) {
    // No bluetoothd at all.
    startServer();
    ASSERT_TRUE(spinUntil([&] { return server->status() == "Not supported on this computer"; })) << server->status();

    // bluetoothd appears, powered off, then on.
    bluez->powered = false;
    ASSERT_TRUE(bluez->start());
    ASSERT_TRUE(spinUntil([&] { return server->status() == "Bluetooth is off"; })) << server->status();
    bluez->setPowered(true);
    ASSERT_TRUE(waitOn()) << server->status();
    EXPECT_EQ(bluez->registrations, 1);

    // bluetoothd restarts: everything is registered again.
    bluez->stop();
    ASSERT_TRUE(spinUntil([&] { return server->status() == "Not supported on this computer"; }));
    ASSERT_TRUE(bluez->start());
    ASSERT_TRUE(waitOn()) << server->status();
    EXPECT_EQ(bluez->registrations, 2);

    // The adapter goes away and comes back.
    bluez->removeAdapter();
    ASSERT_TRUE(spinUntil([&] { return server->status() == "Not supported on this computer"; }));
    bluez->addAdapter();
    ASSERT_TRUE(waitOn()) << server->status();
    EXPECT_EQ(bluez->registrations, 3);
}

TEST_F(BluezPeripheralTest, State_AccessRefused_NeedsPermissionWithTheBusError) {
    bluez->denyAccess = true;
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(spinUntil([&] { return server->status().starts_with("Needs Bluetooth permission"); }))
        << server->status();
    EXPECT_EQ(server->status(), "Needs Bluetooth permission (Rejected send message (fake policy))");
}

TEST_F(BluezPeripheralTest, Centrals_OwnSockets_SessionsRepliesReadsAndLeaving) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("AA:BB:CC:DD:EE:01", 64);
    bluez->connectCentral("AA:BB:CC:DD:EE:02", 185);
    bluez->subscribe("AA:BB:CC:DD:EE:01");
    bluez->subscribe("AA:BB:CC:DD:EE:02");
    ASSERT_TRUE(settled());
    hello("AA:BB:CC:DD:EE:01", 1);
    hello("AA:BB:CC:DD:EE:02", 2);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 2; }));
    ASSERT_EQ(core.handshakes.size(), 2u);
    EXPECT_EQ(core.handshakes[0].peer, "bluetooth:AABBCCDD");
    EXPECT_EQ(server->status(), "On");

    // The JSON reply is one notification cut to the link (61 bytes); reads with offsets give it all.
    auto* one = bluez->central("AA:BB:CC:DD:EE:01");
    ASSERT_TRUE(spinUntil([&] { return one->received.size() >= 2; }));
    EXPECT_EQ(one->received[0].size(), 61);
    QByteArray full;
    bool done = false;
    std::function<void()> next = [&] {
        bluez->read("AA:BB:CC:DD:EE:01", static_cast<std::size_t>(full.size()),
                    [&](std::optional<QByteArray> part, QString) {
                        if (!part || part->isEmpty()) {
                            done = true;
                            return;
                        }
                        full += part->left(22);  // as a phone with a small MTU reads
                        next();
                    });
    };
    next();
    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_EQ(nlohmann::json::parse(full.toStdString())["t"], "welcome2");
    EXPECT_TRUE(full.startsWith(one->received[0]));

    // A fragmented frame reaches the core once; pushed frames come back in fragments of each
    // central's own link, to that central only.
    const auto frame = frameFor(1, 300);
    send("AA:BB:CC:DD:EE:01", frame);
    ASSERT_TRUE(spinUntil([&] { return core.framesNow.size() == 1; }));
    EXPECT_EQ(core.framesNow[0].frame, frame);
    const auto before1 = one->received.size();
    const auto before2 = bluez->central("AA:BB:CC:DD:EE:02")->received.size();
    const auto pushed = frameFor(1, 500, 0x5A);
    core.framesNow[0].conn->push(pushed);
    ASSERT_TRUE(spinUntil([&] { return messages("AA:BB:CC:DD:EE:01", before1).size() == 1; }));
    EXPECT_EQ(messages("AA:BB:CC:DD:EE:01", before1)[0], pushed);
    for (std::size_t i = before1; i < one->received.size(); ++i) EXPECT_LE(one->received[i].size(), 61);
    spinUntil([] { return false; }, 100);
    EXPECT_EQ(bluez->central("AA:BB:CC:DD:EE:02")->received.size(), before2);

    // Leaving ends the session.
    bluez->leave("AA:BB:CC:DD:EE:01");
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    EXPECT_EQ(core.closedCalls.size(), 1u);
}

TEST_F(BluezPeripheralTest, Writes_AcquiredSocketWhereOfferedElseWriteValue_SameFramesInOrder) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("AA:BB:CC:DD:EE:01", 23);
    bluez->subscribe("AA:BB:CC:DD:EE:01");
    ASSERT_TRUE(settled());
    hello("AA:BB:CC:DD:EE:01", 1);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    // Fifteen 20-byte fragments written back to back reach the core as one frame.
    const auto frame = frameFor(1, 300);
    send("AA:BB:CC:DD:EE:01", frame);
    ASSERT_TRUE(spinUntil([&] { return core.framesNow.size() == 1; }));
    EXPECT_EQ(core.framesNow[0].frame, frame);
    EXPECT_EQ(bluez->writeValueCalls(), 0);

    // A bluetoothd without AcquireWrite: every value is a call, and the frames are the same.
    bluez->acquireWrite = false;
    bluez->connectCentral("AA:BB:CC:DD:EE:02", 23);
    bluez->subscribe("AA:BB:CC:DD:EE:02");
    ASSERT_TRUE(settled());
    hello("AA:BB:CC:DD:EE:02", 2);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 2; }));
    const auto second = frameFor(2, 300);
    send("AA:BB:CC:DD:EE:02", second);
    ASSERT_TRUE(spinUntil([&] { return core.framesNow.size() == 2; }));
    EXPECT_EQ(core.framesNow[1].frame, second);
    EXPECT_GT(bluez->writeValueCalls(), 15);

    // The socket's central leaving ends its session like any other.
    bluez->leave("AA:BB:CC:DD:EE:01");
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
}

TEST_F(BluezPeripheralTest, Centrals_PhoneStopsReading_DroppedWhileTheOtherIsServed) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("AA:00:00:00:00:01", 23);
    bluez->connectCentral("AA:00:00:00:00:02", 23);
    bluez->subscribe("AA:00:00:00:00:01");
    bluez->subscribe("AA:00:00:00:00:02");
    ASSERT_TRUE(settled());
    hello("AA:00:00:00:00:01", 1);
    hello("AA:00:00:00:00:02", 2);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 2; }));
    ASSERT_EQ(core.readyCalls.size(), 2u);
    auto stuck = core.readyCalls[0];
    auto fine = core.readyCalls[1];
    bluez->stall("AA:00:00:00:00:01", true);
    spinUntil([] { return false; }, 50);

    std::size_t pushes = 0;
    while (server->sessionCount() == 2 && pushes < 5000) {
        stuck->push(frameFor(1, 20));
        ++pushes;
        if (pushes % 50 == 0) fine->push(frameFor(2, 20, 0x22));
    }
    EXPECT_EQ(server->sessionCount(), 1u);  // the outbox bound was hit
    EXPECT_GT(pushes, 400u);
    ASSERT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(core.closedCalls[0], stuck);
    EXPECT_EQ(server->backlog(), 0u);
    const auto before = bluez->central("AA:00:00:00:00:02")->received.size();
    fine->push(frameFor(2, 20, 0x33));
    ASSERT_TRUE(spinUntil([&] { return bluez->central("AA:00:00:00:00:02")->received.size() > before; }));
    EXPECT_EQ(bytes(bluez->central("AA:00:00:00:00:02")->received.back()), frameFor(2, 20, 0x33));
}

TEST_F(BluezPeripheralTest, Centrals_SharedSocketOfOlderBlueZ_OnePhoneAtATime) {
    bluez->notify = FakeBluez::Notify::shared;
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("BB:00:00:00:00:01", 100);
    bluez->connectCentral("BB:00:00:00:00:02", 100);
    bluez->subscribe("BB:00:00:00:00:01");
    bluez->subscribe("BB:00:00:00:00:02");
    ASSERT_TRUE(settled());
    ASSERT_TRUE(spinUntil([&] { return server->status() == "On (one phone at a time with this BlueZ version)"; }))
        << server->status();

    hello("BB:00:00:00:00:01", 1);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    hello("BB:00:00:00:00:02", 2);
    ASSERT_TRUE(settled());
    EXPECT_EQ(core.handshakes.size(), 1u);  // the second phone waits its turn
    EXPECT_EQ(server->sessionCount(), 1u);

    // The phone holding the link heard its replies.
    EXPECT_FALSE(bluez->central("BB:00:00:00:00:01")->received.empty());
    // The first phone leaves; the second is served from its next handshake on.
    bluez->leave("BB:00:00:00:00:01");
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 0; }));
    hello("BB:00:00:00:00:02", 2);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    EXPECT_EQ(core.handshakes.size(), 2u);
    const auto pushed = frameFor(2, 400);
    const auto before = bluez->central("BB:00:00:00:00:02")->received.size();
    core.readyCalls.back()->push(pushed);
    EXPECT_TRUE(spinUntil([&] {
        const auto got = messages("BB:00:00:00:00:02", before);
        return std::find(got.begin(), got.end(), pushed) != got.end();
    }));
}

TEST_F(BluezPeripheralTest, Centrals_StartNotify_ValuesArriveAsPropertyChanges) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("CC:00:00:00:00:01", 50);
    bluez->subscribe("CC:00:00:00:00:01", true);
    ASSERT_TRUE(settled());
    hello("CC:00:00:00:00:01", 3);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    const auto pushed = frameFor(3, 200);
    const auto before = bluez->central("CC:00:00:00:00:01")->received.size();
    core.readyCalls.back()->push(pushed);
    EXPECT_TRUE(spinUntil([&] {
        const auto got = messages("CC:00:00:00:00:01", before);
        return std::find(got.begin(), got.end(), pushed) != got.end();
    }));
}

TEST_F(BluezPeripheralTest, Centrals_StartNotifyPhoneLeaves_LaterPhonesWithOwnSocketsAllServed) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("DD:00:00:00:00:01", 50);
    bluez->subscribe("DD:00:00:00:00:01", true);
    bluez->connectCentral("DD:00:00:00:00:02", 50);
    bluez->subscribe("DD:00:00:00:00:02", true);
    ASSERT_TRUE(settled());
    hello("DD:00:00:00:00:01", 1);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    EXPECT_EQ(server->status(), "On (one phone at a time with this BlueZ version)");
    // The second StartNotify phone cannot be served meanwhile, and hears so on its write.
    const auto failedBefore = bluez->failedCalls();
    bool answered = false;
    ASSERT_TRUE(bluez->write("DD:00:00:00:00:02", qbytes(toBytes(R"({"hello":2})")), true,
                             [&] { answered = true; }));
    ASSERT_TRUE(spinUntil([&] { return answered; }));
    EXPECT_EQ(bluez->failedCalls(), failedBefore + 1);

    bluez->leave("DD:00:00:00:00:02");
    bluez->leave("DD:00:00:00:00:01");
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 0 && server->status() == "On"; }))
        << server->status();
    for (const char* phone : {"DD:00:00:00:00:03", "DD:00:00:00:00:04"}) {
        bluez->connectCentral(phone, 100);
        bluez->subscribe(phone);
    }
    ASSERT_TRUE(settled());
    hello("DD:00:00:00:00:03", 3);
    hello("DD:00:00:00:00:04", 4);
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 2; }));
    EXPECT_EQ(server->status(), "On");
}

TEST_F(BluezPeripheralTest, Handshake_AgainWhileAFrameWaitsForApproval_NewSessionServedAtOnce) {
    ASSERT_TRUE(bluez->start());
    startServer();
    ASSERT_TRUE(waitOn());
    bluez->connectCentral("EE:00:00:00:00:01", 100);
    bluez->subscribe("EE:00:00:00:00:01");
    ASSERT_TRUE(settled());
    send("EE:00:00:00:00:01", toBytes(R"({"pair":5})"));
    ASSERT_TRUE(spinUntil([&] { return server->sessionCount() == 1; }));
    send("EE:00:00:00:00:01", frameFor(5, 40));  // the proof: waits for the user
    ASSERT_TRUE(spinUntil([&] { return core.pending.size() == 1; }));

    hello("EE:00:00:00:00:01", 6);
    ASSERT_TRUE(spinUntil([&] { return core.handshakes.size() == 2; }));
    send("EE:00:00:00:00:01", frameFor(6, 40));
    EXPECT_TRUE(spinUntil([&] { return core.framesNow.size() == 1; }));
    // The old session's frame fails at last: the new session stays.
    core.failNext();
    spinUntil([] { return false; }, 50);
    EXPECT_EQ(server->sessionCount(), 1u);
    send("EE:00:00:00:00:01", frameFor(6, 40, 0x11));
    EXPECT_TRUE(spinUntil([&] { return core.framesNow.size() == 2; }));
}

}  // namespace
}  // namespace tamborix::testing
