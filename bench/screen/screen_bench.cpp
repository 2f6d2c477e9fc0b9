// Cost of one streamed frame on the helper's side (base64, chunk messages, JSON, sealing and the
// loop's bookkeeping) for pictures of typical JPEG sizes, beside the bare base64 and sealing of
// the same bytes measured in the same run. The capture itself is a fake that answers at once.
// Not the main thread's whole share of a frame in the helper: the send of the chunks, the loop
// passes woken to send the next ones and the pointer's position are left out (stream_bench
// measures the real helper).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/screen/screen_streamer.h"
#include "protocol/secure_session.h"
#include "protocol/wire.h"
#include "testing/fake_display_source.h"
#include "testing/fake_screen_capture.h"
#include "testing/manual_loop.h"

namespace tamborix {
namespace {

SecureSession::Key key(std::uint8_t v) {
    SecureSession::Key k{};
    k.fill(v);
    return k;
}

void BM_StreamedFrame(benchmark::State& state) {
    testing::ManualLoop loop;
    testing::FakeDisplaySource displays(testing::FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}),
                                        Point{960, 540});
    testing::FakeScreenCapture capture(loop);
    capture.pictureSize = static_cast<std::size_t>(state.range(0));
    auto conn = std::make_shared<HelperConn>();
    conn->session = std::make_unique<SecureSession>(Bytes(8, 1), Bytes(32, 2), key(3), key(4));
    std::size_t bytesOut = 0;
    conn->push = [&](const Bytes& frame) { bytesOut += frame.size(); };

    ScreenStreamer streamer(loop, displays, capture, conn);
    streamer.start(ScreenStreamer::Mode::fit, 0, false);
    loop.advance(0.0);
    for (auto _ : state) {
        streamer.ack(streamer.nextID());
        loop.advance(0.125);  // exactly one frame per pace interval once acknowledged
    }
    benchmark::DoNotOptimize(bytesOut);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.counters["frames"] = static_cast<double>(streamer.nextID());
}
BENCHMARK(BM_StreamedFrame)->Arg(20'000)->Arg(80'000)->Arg(250'000);

// Baseline: base64 of the picture and one seal per 2800 characters, nothing else.
void BM_BareBase64AndSeal(benchmark::State& state) {
    SecureSession session(Bytes(8, 1), Bytes(32, 2), key(3), key(4));
    const Bytes picture(static_cast<std::size_t>(state.range(0)), 0x5C);
    std::size_t bytesOut = 0;
    for (auto _ : state) {
        const std::string text = Wire::b64std(picture);
        for (std::size_t i = 0; i < text.size(); i += ScreenStreamer::chunkChars) {
            const std::string_view piece = std::string_view(text).substr(i, ScreenStreamer::chunkChars);
            bytesOut += session.seal(ByteView(reinterpret_cast<const std::uint8_t*>(piece.data()),
                                              piece.size()))
                            .size();
        }
    }
    benchmark::DoNotOptimize(bytesOut);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BareBase64AndSeal)->Arg(20'000)->Arg(80'000)->Arg(250'000);

}  // namespace
}  // namespace tamborix

BENCHMARK_MAIN();
