// NetClient fed arbitrary chunks, interleaved with the other things that can happen to it: the
// core finishing or failing a queued frame, sends completing, time passing, the peer hanging up.
// The checks are the client's promises: the core hears of the end once, nothing is sent after
// the end, frames handed on never exceed what 5465 characters can carry, and order is kept.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "testing/fake_session_entry.h"
#include "testing/fake_stream.h"
#include "testing/manual_loop.h"
#include "transport/net_client.h"
#include "fuzz_support.h"

using namespace tamborix;
using tamborix::fuzzing::require;
using namespace tamborix::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ManualLoop loop;
    FakeSessionEntry core;
    // Accept on the first byte's low bits, so both session kinds and refusals are reached.
    core.onHandshake = [](ByteView line, const std::string&, const std::string&) {
        if (line.empty() || (line[0] & 3) == 0)
            return HandshakeOutcome{{{"t", "error"}, {"msg", std::string(line.begin(), line.end())}},
                                    nullptr};
        auto conn = (line[0] & 1) ? FakeSessionEntry::pairedConn() : FakeSessionEntry::pairingConn();
        return HandshakeOutcome{{{"t", "welcome2"}}, conn};
    };
    core.onNow = [](const HelperConnPtr&, ByteView frame) {
        if (!frame.empty() && frame[0] == 0xFF) throw std::runtime_error("does not open");
    };

    auto peer = std::make_shared<FakeStreamPeer>(loop);
    int done = 0;
    std::shared_ptr<NetClient> owner;
    auto client = std::make_shared<NetClient>(loop, std::make_unique<FakeStreamConnection>(peer),
                                              core, [&](NetClient&) {
                                                  ++done;
                                                  owner.reset();
                                              });
    owner = client;
    client->start();

    std::size_t sentAtClose = 0;
    bool sawClose = false;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: peer->finishSends(); break;
            case 1:
                if (!core.pending.empty()) core.completeNext({in.ConsumeBytes<std::uint8_t>(8)});
                break;
            case 2:
                if (!core.pending.empty()) core.failNext();
                break;
            case 3: loop.advance(in.ConsumeIntegralInRange<int>(0, 40000) / 1000.0); break;
            case 4:
                if (!core.pending.empty() && client->session())
                    client->session()->device = FakeSessionEntry::pairedConn()->device;
                break;
            case 5: peer->deliverEnd(); break;
            default: {
                auto chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 20000));
                peer->deliver(chunk);
                break;
            }
        }
        loop.runPosted();
        if (client->isClosed() && !sawClose) {
            sawClose = true;
            sentAtClose = peer->sends().size();
        }
    }
    peer->deliverEnd();
    loop.runPosted();
    require(client->isClosed());

    require(done == 1);
    require(core.closedCalls.size() == (client->session() ? 1u : 0u));
    if (sawClose) require(peer->sends().size() == sentAtClose);
    for (const auto& call : core.framesNow) require(call.frame.size() <= 4098);
    for (const auto& frame : core.framesAsync) require(frame.size() <= 4098);
    return 0;
}
