#include "platform/linux/support/qt/qt_stream.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/linux/support/qt/qt_main_loop.h"
#include "protocol/wire.h"
#include "support/qt_spin.h"
#include "testing/fake_session_entry.h"
#include "transport/network_server.h"

namespace tamborix::testing {
namespace {

using State = StreamListener::State;

int socketOption(qintptr fd, int level, int name) {
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(static_cast<int>(fd), level, name, &value, &len) != 0) return -1;
    return value;
}

// A listener on an ephemeral port that keeps what it accepts.
struct Listening {
    QtStreamListenerFactory factory;
    std::unique_ptr<StreamListener> listener;
    std::vector<std::unique_ptr<StreamConnection>> accepted;
    std::vector<std::pair<State, std::string>> states;

    Listening() {
        listener = factory.create(0).listener;
        StreamListener::Handlers h;
        h.onState = [this](State s, const std::string& e) { states.emplace_back(s, e); };
        h.onConnection = [this](std::unique_ptr<StreamConnection> c) {
            accepted.push_back(std::move(c));
        };
        listener->start(std::move(h));
    }
};

// The client side: a plain Qt socket on the same loop.
std::unique_ptr<QTcpSocket> connectTo(const QHostAddress& host, std::uint16_t port,
                                      const QHostAddress& from = {}) {
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull()) socket->bind(from);
    socket->connectToHost(host, port);
    return socket;
}

std::string readAll(QTcpSocket& s) { return s.readAll().toStdString(); }

TEST(QtStreamTest, Listener_PortZero_ReadyOnEphemeralPortAndAcceptsWithOptions) {
    Listening l;
    EXPECT_TRUE(l.states.empty());  // reported from the loop, not inside start()
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    ASSERT_EQ(l.states[0].first, State::ready);
    const auto port = l.listener->localPort();
    ASSERT_NE(port, 0);

    auto client = connectTo(QHostAddress::LocalHost, port);
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto* conn = static_cast<QtStreamConnection*>(l.accepted[0].get());
    EXPECT_EQ(conn->remoteHost(), "127.0.0.1");
    const auto fd = conn->descriptor();
    EXPECT_EQ(socketOption(fd, IPPROTO_TCP, TCP_NODELAY) != 0, true);
    EXPECT_EQ(socketOption(fd, SOL_SOCKET, SO_KEEPALIVE) != 0, true);
}

TEST(QtStreamTest, Listener_Ipv6Loopback_AlsoAccepted) {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "no IPv6 loopback here";
    probe.close();
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHostIPv6, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    EXPECT_EQ(l.accepted[0]->remoteHost(), "::1");
}

TEST(QtStreamTest, Listener_PortTaken_ReportsFailedWithDescription) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    QtStreamListenerFactory factory;
    auto listener = factory.create(taken.serverPort()).listener;
    std::vector<std::pair<State, std::string>> states;
    StreamListener::Handlers h;
    h.onState = [&](State s, const std::string& e) { states.emplace_back(s, e); };
    listener->start(std::move(h));
    ASSERT_TRUE(spinUntil([&] { return !states.empty(); }));
    EXPECT_EQ(states[0].first, State::failed);
    EXPECT_FALSE(states[0].second.empty());
}

TEST(QtStreamTest, Listener_OutOfDescriptorsForAMoment_AcceptsAgainAfterwards) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    // The phone's socket exists before the limit drops; the kernel completes its connection.
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(l.listener->localPort());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(client);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowestFree);  // no new descriptor at all
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const int connected = ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    settle();  // the listener tries, and fails, to accept
    const bool acceptedWhileOut = !l.accepted.empty();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_EQ(connected, 0);
    EXPECT_FALSE(acceptedWhileOut);
    EXPECT_TRUE(spinUntil([&] { return !l.accepted.empty(); }, 3000));
    ::close(client);
}

TEST(QtStreamTest, Connection_ReceiveAndSend_BytesBothWaysThenEndOfStream) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHost, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto& conn = *l.accepted[0];
    std::vector<StreamConnection::State> states;
    conn.start([&](StreamConnection::State s, const std::string&) { states.push_back(s); });

    std::string got;
    bool ended = false;
    std::function<void()> read = [&] {
        conn.receive(4, [&](Bytes data, bool end, std::optional<std::string> error) {
            EXPECT_LE(data.size(), 4u);
            EXPECT_FALSE(error.has_value());
            got += toString(data);
            if (end)
                ended = true;
            else
                read();
        });
    };
    read();
    client->write("hello, helper");
    ASSERT_TRUE(spinUntil([&] { return got == "hello, helper"; }));

    bool sent = false;
    conn.send(toBytes("hi phone\n"), [&](std::optional<std::string> error) {
        EXPECT_FALSE(error.has_value());
        sent = true;
    });
    std::string reply;
    ASSERT_TRUE(spinUntil([&] {
        reply += readAll(*client);
        return sent && reply == "hi phone\n";
    }));

    client->write("bye");
    client->disconnectFromHost();
    ASSERT_TRUE(spinUntil([&] { return ended; }));
    EXPECT_EQ(got, "hello, helperbye");
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states[0], StreamConnection::State::ready);
}

TEST(QtStreamTest, HoldOutput_BurstWhileHeld_NothingLeavesUntilReleasedThenEveryByteInOrder) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHost, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto& conn = *l.accepted[0];
    conn.start([](StreamConnection::State, const std::string&) {});

    conn.send(toBytes("before\n"), {});
    conn.holdOutput(true);
    int done = 0;
    std::string expected = "before\n";
    for (int i = 0; i < 8; ++i) {
        const auto line = "chunk " + std::to_string(i) + std::string(3000, 'x') + "\n";
        expected += line;
        conn.send(toBytes(line), [&](std::optional<std::string> error) {
            EXPECT_FALSE(error.has_value());
            ++done;
        });
    }
    std::string got;
    spinUntil([&] {
        got += readAll(*client);
        return false;
    }, 100);
    EXPECT_EQ(got, "before\n");
    EXPECT_EQ(done, 0);

    conn.holdOutput(false);
    ASSERT_TRUE(spinUntil([&] {
        got += readAll(*client);
        return got.size() >= expected.size() && done == 8;
    }));
    EXPECT_EQ(got, expected);
}

TEST(QtStreamTest, Receive_AskedAgainInsideCompletion_ServedInSameTurnNotInsideTheCall) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHost, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto& conn = *l.accepted[0];
    conn.start([](StreamConnection::State, const std::string&) {});
    client->write("abcdefgh");
    ASSERT_TRUE(client->waitForBytesWritten(5000));
    // Both reads' bytes are in before the first read is asked for.
    ASSERT_TRUE(spinUntil([&] {
        int queued = 0;
        ::ioctl(static_cast<QtStreamConnection&>(conn).descriptor(), FIONREAD, &queued);
        return queued == 8;
    }));

    std::vector<std::string> order;
    bool insideReceive = false;
    std::function<void()> read = [&] {
        insideReceive = true;
        conn.receive(4, [&](Bytes data, bool, std::optional<std::string>) {
            EXPECT_FALSE(insideReceive) << "a completion never runs inside receive()";
            order.push_back(toString(data));
            if (order.size() == 1) {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [&] { order.push_back("posted"); },
                    Qt::QueuedConnection);
                read();
            }
        });
        insideReceive = false;
    };
    read();
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    // The second read was served before a job posted during the first completion: same loop
    // turn, no extra wake-up.
    EXPECT_EQ(order, (std::vector<std::string>{"abcd", "efgh", "posted"}));
}

TEST(QtStreamTest, Connection_PeerSendsFarMoreThanOneRead_EveryByteArrivesInOrder) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHost, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto& conn = *l.accepted[0];
    conn.start([](StreamConnection::State, const std::string&) {});
    std::string sent;
    for (int i = 0; sent.size() < 4 * 1024 * 1024; ++i) sent += std::to_string(i) + ",";
    client->write(sent.data(), static_cast<qint64>(sent.size()));
    std::string got;
    std::size_t reads = 0;
    std::function<void()> read = [&] {
        conn.receive(16384, [&](Bytes data, bool, std::optional<std::string>) {
            EXPECT_LE(data.size(), 16384u);
            ++reads;
            got += toString(data);
            read();
        });
    };
    read();
    ASSERT_TRUE(spinUntil([&] { return got.size() >= sent.size(); }, 60000));
    EXPECT_EQ(got, sent);
    EXPECT_GE(reads, sent.size() / 16384);
}

TEST(QtStreamTest, Connection_CancelAfterSend_PeerGetsEveryByteThenClose) {
    Listening l;
    ASSERT_TRUE(spinUntil([&] { return !l.states.empty(); }));
    auto client = connectTo(QHostAddress::LocalHost, l.listener->localPort());
    ASSERT_TRUE(spinUntil([&] { return !l.accepted.empty(); }));
    auto conn = std::move(l.accepted[0]);
    conn->start([](StreamConnection::State, const std::string&) {});
    const std::string big(3 * 1024 * 1024, 'z');
    conn->send(toBytes(big), [](std::optional<std::string>) {});
    conn->cancel();
    conn.reset();  // the owner lets go at once, as a closed client does
    std::string got;
    bool closed = false;
    QObject::connect(client.get(), &QAbstractSocket::disconnected, [&] { closed = true; });
    ASSERT_TRUE(spinUntil([&] {
        got += readAll(*client);
        return closed && client->bytesAvailable() == 0;
    }));
    got += readAll(*client);
    EXPECT_EQ(got.size(), big.size());
}

// The whole TCP transport over real loopback sockets, with a scripted core.
class QtNetworkServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        ASSERT_TRUE(spinUntil([&] { return server.status().starts_with("On"); }));
        port = *server.boundPort();
    }

    QtMainLoop loop;
    FakeSessionEntry core;
    QtStreamListenerFactory listeners;
    NetworkServer server{loop, core, listeners, nullptr, "Desk", 0};
    std::uint16_t port = 0;
};

TEST_F(QtNetworkServerTest, Session_HelloFramesAndHangUp_ReachTheCoreInOrder) {
    EXPECT_EQ(server.status(), "On (port " + std::to_string(port) + ")");
    core.onHandshake = [](ByteView line, const std::string&, const std::string&) {
        EXPECT_EQ(toString(line), "hello\r");
        return HandshakeOutcome{{{"t", "welcome2"}}, FakeSessionEntry::pairedConn()};
    };
    auto client = connectTo(QHostAddress::LocalHost, port);
    client->write("hello\r\n");
    std::string text;
    ASSERT_TRUE(spinUntil([&] {
        text += readAll(*client);
        return std::count(text.begin(), text.end(), '\n') == 2;
    }));
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].line, "hello\r");
    EXPECT_EQ(core.handshakes[0].peer, "127.0.0.1");

    client->write((Wire::b64url(toBytes("one")) + "\r\n" + Wire::b64url(toBytes("two")) + "\n")
                      .c_str());
    ASSERT_TRUE(spinUntil([&] { return core.framesNow.size() == 2; }));
    EXPECT_EQ(toString(core.framesNow[1].frame), "two");

    core.framesNow[0].conn->push(toBytes("pushed"));
    text.clear();
    ASSERT_TRUE(spinUntil([&] {
        text += readAll(*client);
        return !text.empty() && text.back() == '\n';
    }));
    EXPECT_EQ(toString(Wire::b64d(text.substr(0, text.size() - 1), 100)), "pushed");

    client->disconnectFromHost();
    ASSERT_TRUE(spinUntil([&] { return server.clientCount() == 0; }));
    EXPECT_EQ(core.closedCalls.size(), 1u);
}

TEST_F(QtNetworkServerTest, Handshake_Refused_PeerReadsReplyThenConnectionCloses) {
    auto client = connectTo(QHostAddress::LocalHost, port);
    bool closed = false;
    QObject::connect(client.get(), &QAbstractSocket::disconnected, [&] { closed = true; });
    client->write("who are you\n");
    std::string text;
    ASSERT_TRUE(spinUntil([&] {
        text += readAll(*client);
        return closed;
    }));
    text += readAll(*client);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(nlohmann::json::parse(text.substr(0, text.find('\n')))["msg"], "not paired");
    EXPECT_TRUE(spinUntil([&] { return server.clientCount() == 0; }));
}

TEST_F(QtNetworkServerTest, Stop_ConnectedClients_AllClosedAndStatusOff) {
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    int closed = 0;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectTo(QHostAddress::LocalHost, port));
        QObject::connect(clients.back().get(), &QAbstractSocket::disconnected, [&] { ++closed; });
    }
    ASSERT_TRUE(spinUntil([&] { return server.clientCount() == 3; }));
    server.stop();
    EXPECT_EQ(server.status(), "Off");
    EXPECT_EQ(server.clientCount(), 0u);
    ASSERT_TRUE(spinUntil([&] { return closed == 3; }));
    // Nothing listens any more.
    auto late = connectTo(QHostAddress::LocalHost, port);
    bool refused = false;
    QObject::connect(late.get(), &QAbstractSocket::errorOccurred, [&] { refused = true; });
    EXPECT_TRUE(spinUntil([&] { return refused; }));
}

TEST_F(QtNetworkServerTest, Accept_SeventeenthConnectionAfterSixteenPhones_ClosedWithoutReply) {
    // Only phones that finished their handshake hold the sixteen places.
    core.onHandshake = [](ByteView, const std::string&, const std::string&) {
        return HandshakeOutcome{{{"t", "welcome2"}}, FakeSessionEntry::pairedConn()};
    };
    auto from = [](int i) { return QHostAddress(QString("127.0.0.%1").arg(10 + i)); };
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(connectTo(QHostAddress::LocalHost, port, from(i)));
        clients.back()->write("hello\r\n");
    }
    ASSERT_TRUE(spinUntil([&] { return core.handshakes.size() == 16; }));
    auto extra = connectTo(QHostAddress::LocalHost, port, from(40));
    bool closed = false;
    QObject::connect(extra.get(), &QAbstractSocket::disconnected, [&] { closed = true; });
    ASSERT_TRUE(spinUntil([&] { return closed; }));
    EXPECT_EQ(extra->bytesAvailable(), 0);
    EXPECT_EQ(server.clientCount(), 16u);
}

}  // namespace
}  // namespace tamborix::testing
