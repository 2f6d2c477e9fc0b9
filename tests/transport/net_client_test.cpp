#include "transport/net_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "testing/fake_session_entry.h"
#include "testing/fake_stream.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {
namespace {

std::string b64(std::string_view text) { return Wire::b64url(toBytes(text)); }

class NetClientTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }

    void open(std::string remoteHost = "192.0.2.7") {
        peer = std::make_shared<FakeStreamPeer>(loop, std::move(remoteHost));
        client = std::make_shared<NetClient>(loop, std::make_unique<FakeStreamConnection>(peer),
                                             core, [this](NetClient&) {
                                                 ++doneCalls;
                                                 owner.reset();
                                             });
        owner = client;
        client->start();
    }

    // The peer sends one line and everything it triggers runs.
    void send(std::string_view text) {
        peer->deliver(text);
        loop.runPosted();
    }

    // A paired device past its handshake; the reply and ready lines are dropped from view.
    void handshakePaired() {
        send("hello\n");
        ASSERT_EQ(peer->sentLines().size(), 2u);
    }

    [[nodiscard]] std::vector<std::string> framesNowText() const {
        std::vector<std::string> out;
        for (const auto& call : core.framesNow) out.push_back(toString(call.frame));
        return out;
    }

    ManualLoop loop;
    FakeSessionEntry core;
    std::shared_ptr<FakeStreamPeer> peer;
    std::shared_ptr<NetClient> client;  // the test's own reference, kept to look at the client
    std::shared_ptr<NetClient> owner;   // stands for the server's map entry
    int doneCalls = 0;
};

TEST_F(NetClientTest, Start_HostKnown_PeerIsHostAndReadAsksForSixteenKilobytes) {
    EXPECT_TRUE(peer->started());
    EXPECT_EQ(client->peer(), "192.0.2.7");
    EXPECT_TRUE(peer->readPending());
    EXPECT_EQ(peer->lastReadSize(), 16384u);

    open("");
    EXPECT_EQ(client->peer(), "network");
    send("hello\n");
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].peer, "network");
    EXPECT_EQ(core.handshakes[0].transport, "Network");
}

TEST_F(NetClientTest, Drain_TwoLinesInOneChunkAndOneLineSplit_HandledInOrderWhenLfArrives) {
    handshakePaired();
    send(b64("one") + "\n" + b64("two") + "\n" + b64("thr"));
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"one", "two"}));
    send(b64("ee").substr(0, 1));
    EXPECT_EQ(core.framesNow.size(), 2u);
    // "three" split over chunks: its base64 is the concatenation only when cut at a multiple
    // of three bytes, so send the whole line's text in pieces instead.
    const auto line = b64("three");
    core.framesNow.clear();
    open();
    handshakePaired();
    send(line.substr(0, 2));
    send(line.substr(2, 3));
    EXPECT_TRUE(core.framesNow.empty());
    send(line.substr(5) + "\n");
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"three"}));
    EXPECT_TRUE(peer->readPending());
}

TEST_F(NetClientTest, Handshake_Accepted_ReplyThenReadyFrameAndPushWritesBase64Lines) {
    send("hello\n");
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].line, "hello");
    ASSERT_NE(client->session(), nullptr);
    EXPECT_EQ(core.readyCalls.size(), 1u);
    auto lines = peer->sentLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(lines[0]), (nlohmann::json{{"t", "welcome2"}}));
    EXPECT_EQ(toString(Wire::b64d(lines[1], 100)), "READY");
    // Each write is one send of the payload and its LF.
    EXPECT_EQ(peer->sends().size(), 2u);

    ASSERT_TRUE(client->session()->push);
    client->session()->push(toBytes("\xfb\xff pushed"));
    lines = peer->sentLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].find_first_of("+/="), std::string::npos);
    EXPECT_EQ(toString(Wire::b64d(lines[2], 100)), "\xfb\xff pushed");
}

TEST_F(NetClientTest, Handshake_NoReadyFrame_OnlyReplyIsSent) {
    core.ready.reset();
    send("hello\n");
    EXPECT_EQ(peer->sentLines().size(), 1u);
    EXPECT_FALSE(client->isClosed());
}

TEST_F(NetClientTest, Handshake_LineEndsInCr_PassedWholeWithCr) {
    send("{\"t\":\"hello2\"}\r\n");
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].line, "{\"t\":\"hello2\"}\r");
}

TEST_F(NetClientTest, Handshake_Refused_ReplySentThenClosedOnceSendCompletes) {
    send("nonsense\n");
    ASSERT_EQ(peer->sentLines().size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(peer->sentLines()[0])["msg"], "not paired");
    EXPECT_FALSE(client->isClosed());

    // Lines before the close completes are handshakes again.
    send("again\n");
    EXPECT_EQ(core.handshakes.size(), 2u);
    EXPECT_EQ(peer->sentLines().size(), 2u);

    peer->finishSends();
    EXPECT_TRUE(client->isClosed());
    EXPECT_TRUE(peer->cancelled());
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(core.closedCalls.empty());  // there never was a session
}

TEST_F(NetClientTest, Handshake_ReplyCannotBeSerialised_EmptyReplyLineAndClose) {
    core.onHandshake = [](ByteView, const std::string&, const std::string&) {
        return HandshakeOutcome{{{"msg", std::string("\xff\xfe")}}, nullptr};
    };
    send("x\n");
    EXPECT_EQ(peer->sentText(), "\n");
    peer->finishSends();
    EXPECT_TRUE(client->isClosed());
}

TEST_F(NetClientTest, Receive_UnterminatedTail_ClosesAbove8192BytesOnly) {
    send(std::string(8192, 'a'));
    EXPECT_FALSE(client->isClosed());
    send("\n");
    ASSERT_EQ(core.handshakes.size(), 1u);
    EXPECT_EQ(core.handshakes[0].line.size(), 8192u);  // exactly the limit is a line

    open();
    send(std::string(8000, 'a'));
    send(std::string(193, 'a'));
    EXPECT_TRUE(client->isClosed());
    EXPECT_TRUE(peer->cancelled());
    EXPECT_EQ(doneCalls, 1);  // the first client still waits for its refusal to be sent
}

TEST_F(NetClientTest, Receive_LongChunkWithLf_DrainedButOverlongLineCloses) {
    // A chunk over the limit that holds an LF is drained; its unterminated tail stays.
    send("hello\n" + std::string(8500, 'a'));
    EXPECT_FALSE(client->isClosed());
    EXPECT_EQ(core.handshakes.size(), 1u);
    // The next chunk finds the tail over the limit without an LF.
    send("a");
    EXPECT_TRUE(client->isClosed());

    open();
    send("hello\n" + std::string(8193, 'A') + "\n" + b64("never") + "\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_TRUE(core.framesNow.empty());
    ASSERT_EQ(core.closedCalls.size(), 2u);
    EXPECT_EQ(core.closedCalls.back(), client->session());
}

TEST_F(NetClientTest, Frame_CrLfAndSpaces_TrimmedAndDecoded) {
    handshakePaired();
    send(" \t" + b64("crlf") + "\r\n");
    send(Wire::b64std(toBytes("\xfb\xef std")) + "\n");  // the other alphabet, padded
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"crlf", "\xfb\xef std"}));
    EXPECT_FALSE(client->isClosed());
}

TEST_F(NetClientTest, Frame_NotAscii_Closes) {
    handshakePaired();
    send(b64("ok") + "\xc3\xa9\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_TRUE(core.framesNow.empty());
    EXPECT_EQ(core.closedCalls.size(), 1u);
}

TEST_F(NetClientTest, Frame_NotBase64_Closes) {
    handshakePaired();
    send("not*base64\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_TRUE(core.framesNow.empty());
}

TEST_F(NetClientTest, Frame_TextLongerThanLimit_ClosesButLimitItselfPasses) {
    handshakePaired();
    // 4098 bytes make 5464 base64url characters: within the limit.
    send(Wire::b64url(Bytes(4098, 0x5a)) + "\n");
    ASSERT_EQ(core.framesNow.size(), 1u);
    EXPECT_EQ(core.framesNow[0].frame.size(), 4098u);
    const auto over = Wire::b64url(Bytes(4101, 0x5a));  // 5468 characters
    ASSERT_GT(over.size(), 5465u);
    send(over + "\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(core.framesNow.size(), 1u);
}

TEST_F(NetClientTest, FastPath_CoreFails_ClosesAndTellsCoreOnce) {
    handshakePaired();
    send(b64("bad") + "\n" + b64("after") + "\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"bad"}));
    EXPECT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(core.framesAsync.empty());
}

TEST_F(NetClientTest, Queue_PendingPairingFrame_LaterFramesWaitEvenOncePaired) {
    send("pair\n");
    ASSERT_NE(client->session(), nullptr);
    EXPECT_EQ(peer->sentLines().size(), 1u);  // no ready frame while pairing

    send(b64("p1") + "\n");
    ASSERT_EQ(core.pending.size(), 1u);
    // The pairing succeeds while p1 is still being processed; p2 and p3 must still queue.
    client->session()->device = FakeSessionEntry::pairedConn()->device;
    send(b64("p2") + "\n" + b64("p3") + "\n");
    EXPECT_TRUE(core.framesNow.empty());
    EXPECT_EQ(core.framesAsync.size(), 1u);  // one at a time
    EXPECT_EQ(client->queuedFrames(), 3u);

    core.completeNext({toBytes("r1a"), toBytes("r1b")});
    ASSERT_EQ(core.framesAsync.size(), 2u);
    EXPECT_EQ(toString(core.framesAsync[1]), "p2");
    core.completeNext();
    core.completeNext({toBytes("r3")});
    EXPECT_EQ(client->queuedFrames(), 0u);

    std::vector<std::string> async;
    for (const auto& f : core.framesAsync) async.push_back(toString(f));
    EXPECT_EQ(async, (std::vector<std::string>{"p1", "p2", "p3"}));
    auto lines = peer->sentLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(toString(Wire::b64d(lines[1], 100)), "r1a");
    EXPECT_EQ(toString(Wire::b64d(lines[2], 100)), "r1b");
    EXPECT_EQ(toString(Wire::b64d(lines[3], 100)), "r3");

    // Nothing queued any more: the paired device takes the fast path.
    send(b64("now") + "\n");
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"now"}));
}

TEST_F(NetClientTest, Queue_CoreCompletesInsideCall_AllFramesInOrder) {
    core.echoAtOnce = true;
    send("pair\n");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += b64("f" + std::to_string(i)) + "\n";
    send(text);
    const auto lines = peer->sentLines();
    ASSERT_EQ(lines.size(), 3001u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(toString(Wire::b64d(lines[static_cast<std::size_t>(i) + 1], 100)),
                  "f" + std::to_string(i));
    EXPECT_EQ(client->queuedFrames(), 0u);
}

TEST_F(NetClientTest, Queue_PeerFloodsWhilePairingWaits_ClosedAtTheLimit) {
    send("pair\n");
    send(b64("first") + "\n");
    ASSERT_EQ(core.pending.size(), 1u);
    std::string flood;
    for (std::size_t i = 0; i < NetClient::maxQueuedFrames; ++i) flood += b64("x") + "\n";
    send(flood);
    EXPECT_FALSE(client->isClosed());
    EXPECT_EQ(client->queuedFrames(), NetClient::maxQueuedFrames + 1);
    send(b64("one too many") + "\n");
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(core.closedCalls.size(), 1u);
    core.completeNext();
    EXPECT_EQ(core.framesAsync.size(), 1u);
}

TEST_F(NetClientTest, Queue_FrameFails_ClosesAndDropsTheRest) {
    send("pair\n");
    send(b64("p1") + "\n" + b64("p2") + "\n");
    core.failNext();
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(core.framesAsync.size(), 1u);  // p2 never reaches the core
    EXPECT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(NetClientTest, Queue_CompletesAfterClose_NothingIsSent) {
    send("pair\n");
    send(b64("p1") + "\n");
    const auto sentBefore = peer->sends().size();
    client->close();
    core.completeNext({toBytes("late")});
    EXPECT_EQ(peer->sends().size(), sentBefore);
    EXPECT_EQ(core.closedCalls.size(), 1u);

    // Also when the client object itself is gone by then.
    open();
    send("pair\n");
    send(b64("p1") + "\n");
    client->close();
    client.reset();
    EXPECT_TRUE(peer->dropped());
    core.completeNext({toBytes("late")});
}

TEST_F(NetClientTest, Idle_BeforeHandshake_ClosedAtFirstCheckPastTenSeconds) {
    loop.advance(10.0);
    EXPECT_FALSE(client->isClosed());  // 10 s is not more than 10 s
    loop.advance(2.0);
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(doneCalls, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(NetClientTest, Idle_TrickleWithoutLineEnd_ClosedTenSecondsAfterAcceptAnyway) {
    // One byte every 4 s never finishes a line: the handshake deadline counts from the accept,
    // not from the last byte.
    for (int i = 0; i < 3; ++i) {
        loop.advance(4.0);
        send("{");
    }
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(core.handshakes.empty());
}

TEST_F(NetClientTest, Idle_FrameWaitsForApproval_NoLimitUntilAnsweredThenThirtySeconds) {
    send("pair\n");
    send(b64("proof") + "\n");
    ASSERT_EQ(core.pending.size(), 1u);
    loop.advance(50.0);  // the user takes 50 s; the phone stays silent meanwhile
    EXPECT_FALSE(client->isClosed());
    core.completeNext({toBytes("paired")});
    ASSERT_EQ(peer->sentLines().size(), 2u);
    EXPECT_EQ(toString(Wire::b64d(peer->sentLines()[1], 100)), "paired");
    loop.advance(30.0);
    EXPECT_FALSE(client->isClosed());
    loop.advance(2.0);
    EXPECT_TRUE(client->isClosed());
}

TEST_F(NetClientTest, Write_PeerNeverReads_ClosedOnceUnsentBytesPassOneMebibyte) {
    handshakePaired();
    peer->finishSends();
    const std::string frame(3000, 'x');
    std::size_t pushed = 0;
    while (!client->isClosed() && pushed < 1000) {
        client->session()->push(toBytes(frame));
        ++pushed;
    }
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(core.closedCalls.size(), 1u);
    EXPECT_LE(client->unsentBytes(), NetClient::maxUnsentBytes);
    EXPECT_GT(pushed, 200u);  // about 1 MiB of 4 KB lines went out first

    // A peer that reads keeps its connection however much it is sent.
    open();
    handshakePaired();
    for (int i = 0; i < 1000; ++i) {
        client->session()->push(toBytes(frame));
        peer->finishSends();
    }
    EXPECT_FALSE(client->isClosed());
    EXPECT_EQ(client->unsentBytes(), 0u);
}

TEST_F(NetClientTest, Idle_AfterHandshake_ThirtySecondLimitFromLastChunk) {
    loop.advance(5.0);
    send("hello\n");
    loop.advance(30.0);  // t = 35: 30 s since the last chunk
    EXPECT_FALSE(client->isClosed());
    loop.advance(1.0);  // check at t = 36
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(core.closedCalls.size(), 1u);

    // Any chunk, even a partial line, counts as activity.
    open();
    send("hello\n");
    for (int i = 0; i < 10; ++i) {
        loop.advance(20.0);
        send("a");
    }
    EXPECT_FALSE(client->isClosed());
}

TEST_F(NetClientTest, Close_Twice_CoreAndOwnerToldOnce) {
    handshakePaired();
    client->close();
    client->close();
    EXPECT_EQ(core.closedCalls.size(), 1u);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(peer->cancelled());
    // The owner dropped it; only the test's reference keeps it.
    EXPECT_EQ(client.use_count(), 1);
}

TEST_F(NetClientTest, Close_EndOfStreamErrorOrFailedState_EachCloses) {
    handshakePaired();
    peer->deliver(b64("last") + "\n");
    peer->deliverEnd();
    loop.runPosted();
    EXPECT_EQ(framesNowText(), (std::vector<std::string>{"last"}));
    EXPECT_TRUE(client->isClosed());

    open();
    peer->deliverError("Connection reset by peer");
    EXPECT_TRUE(client->isClosed());

    open();
    peer->reportState(StreamConnection::State::ready);
    EXPECT_FALSE(client->isClosed());
    peer->reportState(StreamConnection::State::failed, "Network unreachable");
    EXPECT_TRUE(client->isClosed());
    EXPECT_EQ(doneCalls, 3);
}

TEST_F(NetClientTest, Close_DataAlreadyWaiting_IsIgnoredAfterClose) {
    handshakePaired();
    client->close();
    peer->deliver(b64("late") + "\n");
    loop.runPosted();
    EXPECT_TRUE(core.framesNow.empty());
    client->session()->push(toBytes("late push"));
    EXPECT_EQ(peer->sentLines().size(), 2u);
}

}  // namespace
}  // namespace tamborix::testing
