// What the TCP client connection adds per received frame line: cutting the stream into lines,
// trimming, decoding and handing each frame to the core. Printed beside the bare base64 decode of
// the same lines, measured in the same run.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "testing/fake_session_entry.h"
#include "testing/fake_stream.h"
#include "testing/manual_loop.h"
#include "transport/net_client.h"

namespace tamborix::testing {
namespace {

// One 16 KiB read's worth of frame lines of a typical sealed command (about 120 bytes).
std::string chunkOfLines(std::size_t frameBytes, std::size_t* lines) {
    std::string chunk;
    const auto line = Wire::b64url(Bytes(frameBytes, 0x5A)) + "\n";
    *lines = 0;
    while (chunk.size() + line.size() <= NetClient::readChunk) {
        chunk += line;
        ++*lines;
    }
    return chunk;
}

void BM_Base64DecodeLines(benchmark::State& state) {
    std::size_t lines = 0;
    const auto chunk = chunkOfLines(static_cast<std::size_t>(state.range(0)), &lines);
    const auto lineLength = chunk.find('\n');
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < chunk.size(); pos += lineLength + 1) {
            auto frame = Wire::b64d(std::string_view(chunk).substr(pos, lineLength),
                                    Wire::frameLineLimit);
            benchmark::DoNotOptimize(frame.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
}

void BM_NetClientFrameLines(benchmark::State& state) {
    std::size_t lines = 0;
    const auto chunk = chunkOfLines(static_cast<std::size_t>(state.range(0)), &lines);
    ManualLoop loop;
    FakeSessionEntry core;
    std::size_t handed = 0;
    core.onNow = [&](const HelperConnPtr&, ByteView frame) {
        benchmark::DoNotOptimize(frame.data());
        ++handed;
    };
    auto peer = std::make_shared<FakeStreamPeer>(loop);
    auto client = std::make_shared<NetClient>(loop, std::make_unique<FakeStreamConnection>(peer),
                                              core, [](NetClient&) {});
    client->start();
    peer->deliver("hello\n");
    loop.runPosted();
    const Bytes bytes(chunk.begin(), chunk.end());
    for (auto _ : state) {
        peer->deliver(bytes);
        core.framesNow.clear();  // the fake's record, not part of the client's cost
    }
    if (client->isClosed() || handed != state.iterations() * lines)
        state.SkipWithError("the client did not take every frame");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
}

BENCHMARK(BM_Base64DecodeLines)->Arg(120)->Arg(1200);
BENCHMARK(BM_NetClientFrameLines)->Arg(120)->Arg(1200);

}  // namespace
}  // namespace tamborix::testing

BENCHMARK_MAIN();
