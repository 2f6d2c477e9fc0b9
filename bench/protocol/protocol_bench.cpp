// The channel's per-message and per-connection costs, each beside the bare library call it is
// built on, measured in the same run. A summary of the ratios is printed at the end.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/handshake.h"
#include "protocol/secure_session.h"
#include "protocol/wire.h"
#include "bench_support.h"

namespace tamborix {
namespace {

const Bytes sid{1, 2, 3, 4, 5, 6, 7, 8};
const SecureSession::Key keyA = [] {
    SecureSession::Key k;
    k.fill(0x11);
    return k;
}();
const SecureSession::Key keyB = [] {
    SecureSession::Key k;
    k.fill(0x22);
    return k;
}();

// Frames with increasing counters, so every open passes the replay check; the receiver starts
// over when the ring is used up.
constexpr std::size_t ringSize = 2048;

std::vector<Bytes> sealedRing(std::size_t plainLength) {
    SecureSession sender(sid, Bytes(32), keyA, keyB);
    std::vector<Bytes> frames;
    frames.reserve(ringSize);
    const Bytes plain(plainLength, 0x7B);
    for (std::size_t i = 0; i < ringSize; ++i) frames.push_back(sender.seal(plain));
    return frames;
}

void BM_AeadSealRaw(benchmark::State& state) {
    const Bytes plain(static_cast<std::size_t>(state.range(0)), 0x7B);
    Bytes out(plain.size() + SecureSession::overhead);
    std::uint64_t c = 0;
    for (auto _ : state) {
        const auto h = SecureSession::header(sid, c);
        const auto n = SecureSession::nonce(c++);
        std::copy(h.begin(), h.end(), out.begin());
        crypto_aead_chacha20poly1305_ietf_encrypt_detached(
            out.data() + 17, out.data() + 17 + plain.size(), nullptr, plain.data(), plain.size(),
            h.data(), h.size(), nullptr, n.data(), keyA.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_SessionSeal(benchmark::State& state) {
    const Bytes plain(static_cast<std::size_t>(state.range(0)), 0x7B);
    SecureSession session(sid, Bytes(32), keyA, keyB);
    for (auto _ : state) {
        Bytes frame = session.seal(plain);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_AeadOpenRaw(benchmark::State& state) {
    const auto frames = sealedRing(static_cast<std::size_t>(state.range(0)));
    Bytes plain(static_cast<std::size_t>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& f = frames[i];
        const std::size_t n = f.size() - SecureSession::overhead;
        const auto nonce = SecureSession::nonce(i);
        const int rc = crypto_aead_chacha20poly1305_ietf_decrypt_detached(
            plain.data(), nullptr, f.data() + 17, n, f.data() + 17 + n, f.data(), 17,
            nonce.data(), keyA.data());
        if (rc != 0) {
            // A baseline that fails its tag check does less work than a real open.
            state.SkipWithError("the raw AEAD open failed");
            return;
        }
        benchmark::DoNotOptimize(plain.data());
        if (++i == ringSize) i = 0;
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_SessionOpen(benchmark::State& state) {
    const auto frames = sealedRing(static_cast<std::size_t>(state.range(0)));
    auto session = std::make_unique<SecureSession>(sid, Bytes(32), keyB, keyA);
    std::size_t i = 0;
    for (auto _ : state) {
        Bytes plain = session->open(frames[i]);
        benchmark::DoNotOptimize(plain.data());
        if (++i == ringSize) {
            i = 0;
            session = std::make_unique<SecureSession>(sid, Bytes(32), keyB, keyA);
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// What accept cannot avoid: one ephemeral key generation and four Diffie-Hellman computations.
void BM_FiveScalarMults(benchmark::State& state) {
    const KeyPair server = KeyPair::generate();
    const KeyPair device = KeyPair::generate();
    const KeyPair phoneEph = KeyPair::generate();
    std::array<std::uint8_t, 32> priv{}, pub{}, shared{};
    randombytes_buf(priv.data(), priv.size());
    for (auto _ : state) {
        int rc = crypto_scalarmult_base(pub.data(), priv.data());
        rc |= crypto_scalarmult(shared.data(), priv.data(), phoneEph.publicKey().data());
        rc |= crypto_scalarmult(shared.data(), server.rawPrivate().data(),
                                phoneEph.publicKey().data());
        rc |= crypto_scalarmult(shared.data(), priv.data(), device.publicKey().data());
        rc |= crypto_scalarmult(shared.data(), server.rawPrivate().data(),
                                device.publicKey().data());
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(shared.data());
        benchmark::DoNotOptimize(pub.data());
    }
}

void BM_Accept(benchmark::State& state) {
    const KeyPair server = KeyPair::generate();
    const KeyPair device = KeyPair::generate();
    const PhoneHandshake phone(device, PhoneHandshake::Kind::hello, "bench");
    const nlohmann::json hello = phone.request();
    const auto& devicePub = device.publicKey();
    for (auto _ : state) {
        auto accepted = ServerHandshake::accept(server, hello, devicePub);
        benchmark::DoNotOptimize(accepted.session.get());
    }
}

// A TCP line carries one sealed frame as base64url text; Arg is the number of characters.
std::string frameLine(std::size_t chars) {
    Bytes bytes(chars * 3 / 4);
    randombytes_buf(bytes.data(), bytes.size());
    std::string text = Wire::b64url(bytes);
    if (text.size() != chars) std::abort();
    return text;
}

void BM_SodiumBase642Bin(benchmark::State& state) {
    const std::string text = frameLine(static_cast<std::size_t>(state.range(0)));
    Bytes out(text.size());
    for (auto _ : state) {
        std::size_t length = 0;
        const int rc = sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr,
                                         &length, nullptr,
                                         sodium_base64_VARIANT_URLSAFE_NO_PADDING);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The plainest decoder of unpadded base64url: one table look-up per character, no validation
// beyond the table, no allocation beyond the output. The floor for short lines.
struct PlainTable {
    std::array<std::int8_t, 256> value{};
    PlainTable() {
        value.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    }
    bool decode(std::string_view text, Bytes& out) const {
        out.clear();
        out.reserve(text.size() * 3 / 4);
        std::uint32_t acc = 0;
        int bits = 0;
        for (const char c : text) {
            const int v = value[static_cast<unsigned char>(c)];
            if (v < 0) return false;
            acc = (acc << 6) | static_cast<std::uint32_t>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<std::uint8_t>(acc >> bits));
            }
        }
        return true;
    }
};

void BM_PlainTableDecode(benchmark::State& state) {
    static const PlainTable table;
    const std::string text = frameLine(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Bytes out;
        if (!table.decode(text, out)) {
            state.SkipWithError("the plain decoder refused its input");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_B64d(benchmark::State& state) {
    const std::string text = frameLine(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Bytes out = Wire::b64d(text, Wire::frameLineLimit);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The encoder before the pair table: one look-up per character. The baseline of BM_B64std.
std::string fourLookupBase64(ByteView bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t full = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    std::string out;
    out.resize(full * 4 + (rest == 0 ? 0 : 4));
    char* o = out.data();
    const std::uint8_t* in = bytes.data();
    for (std::size_t i = 0; i < full; ++i, in += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        o[0] = alphabet[v >> 18];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = alphabet[(v >> 6) & 63];
        o[3] = alphabet[v & 63];
    }
    if (rest != 0) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0);
        *o++ = alphabet[v >> 18];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

// The encoder before the vector path: two characters per look-up of a 4,096-entry pair table,
// for every byte. The baseline of BM_B64std now.
std::string pairTableBase64(ByteView bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const auto pairs = [] {
        std::vector<std::array<char, 2>> t(4096);
        for (std::size_t v = 0; v < t.size(); ++v) t[v] = {alphabet[v >> 6], alphabet[v & 63]};
        return t;
    }();
    const std::size_t full = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    std::string out(full * 4 + (rest == 0 ? 0 : 4), '\0');
    char* o = out.data();
    const std::uint8_t* in = bytes.data();
    for (std::size_t i = 0; i < full; ++i, in += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        std::memcpy(o, pairs[v >> 12].data(), 2);
        std::memcpy(o + 2, pairs[v & 4095].data(), 2);
    }
    if (rest != 0) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0);
        *o++ = alphabet[v >> 18];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

// Arg: a JPEG's bytes (17 kB and 318 kB are the pictures of the streaming figures).
Bytes picture(std::size_t n) {
    Bytes bytes(n);
    randombytes_buf(bytes.data(), bytes.size());
    return bytes;
}

void BM_B64std(benchmark::State& state) {
    const Bytes bytes = picture(static_cast<std::size_t>(state.range(0)));
    if (Wire::b64std(bytes) != fourLookupBase64(bytes) || Wire::b64std(bytes) != pairTableBase64(bytes)) {
        state.SkipWithError("the encoders disagree");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(Wire::b64std(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_B64PairTable(benchmark::State& state) {
    const Bytes bytes = picture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(pairTableBase64(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A sealed chunk (2,833 bytes) as the line the connection writes: before, base64url text, copied
// into bytes and a line feed appended; now encoded straight into the line.
void BM_ChunkLineBefore(benchmark::State& state) {
    const Bytes bytes = picture(2833);
    for (auto _ : state) {
        Bytes line = toBytes(Wire::b64url(bytes));
        line.push_back('\n');
        benchmark::DoNotOptimize(line.data());
    }
}

void BM_ChunkLine(benchmark::State& state) {
    const Bytes bytes = picture(2833);
    for (auto _ : state) {
        Bytes line = Wire::b64urlLine(bytes);
        benchmark::DoNotOptimize(line.data());
    }
}

void BM_B64FourLookups(benchmark::State& state) {
    const Bytes bytes = picture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(fourLookupBase64(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_SodiumBin2Base64(benchmark::State& state) {
    const Bytes bytes = picture(static_cast<std::size_t>(state.range(0)));
    const std::size_t size = sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    for (auto _ : state) {
        std::string out(size, '\0');
        sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
        out.pop_back();  // its terminating NUL
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_B64FourLookups)->Arg(17000)->Arg(318000);
BENCHMARK(BM_B64PairTable)->Arg(17000)->Arg(318000);
BENCHMARK(BM_B64std)->Arg(17000)->Arg(318000);
BENCHMARK(BM_ChunkLineBefore);
BENCHMARK(BM_ChunkLine);
BENCHMARK(BM_SodiumBin2Base64)->Arg(17000)->Arg(318000);

BENCHMARK(BM_AeadSealRaw)->Arg(60)->Arg(4063);
BENCHMARK(BM_SessionSeal)->Arg(60)->Arg(4063);
BENCHMARK(BM_AeadOpenRaw)->Arg(60)->Arg(4063);
BENCHMARK(BM_SessionOpen)->Arg(60)->Arg(4063);
BENCHMARK(BM_FiveScalarMults)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Accept)->Unit(benchmark::kMicrosecond);
// 5464 characters is the longest valid line under the 5465 limit; 5462 is a 4096-byte frame.
BENCHMARK(BM_SodiumBase642Bin)->Arg(5464)->Arg(5462);
BENCHMARK(BM_B64d)->Arg(5464)->Arg(5462);
// Frame lines as phones mostly send them: 60 characters is a sealed ping or small move, 200 a
// batch of a few commands.
BENCHMARK(BM_PlainTableDecode)->Arg(60)->Arg(200);
BENCHMARK(BM_B64d)->Arg(60)->Arg(200);

// Keeps every run's CPU time per iteration (in nanoseconds; steadier than wall time on a shared
// machine) and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            times_[r.run_name.str()].push_back(r.GetAdjustedCPUTime() * nanosPer(r.time_unit));
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        struct Pair {
            const char* figure;
            const char* baseline;
            double target;  // 0: no target
        };
        const Pair pairs[] = {
            {"BM_SessionSeal/60", "BM_AeadSealRaw/60", 1.3},
            {"BM_SessionOpen/60", "BM_AeadOpenRaw/60", 1.3},
            {"BM_SessionSeal/4063", "BM_AeadSealRaw/4063", 0},
            {"BM_SessionOpen/4063", "BM_AeadOpenRaw/4063", 0},
            {"BM_Accept", "BM_FiveScalarMults", 1.2},
            {"BM_B64d/5464", "BM_SodiumBase642Bin/5464", 1.0},
            {"BM_B64d/5462", "BM_SodiumBase642Bin/5462", 1.0},
            {"BM_B64std/17000", "BM_B64PairTable/17000", 0},
            {"BM_B64std/318000", "BM_B64PairTable/318000", 0},
            {"BM_B64std/318000", "BM_SodiumBin2Base64/318000", 0},
            {"BM_ChunkLine", "BM_ChunkLineBefore", 0},
            {"BM_B64d/60", "BM_PlainTableDecode/60", 0},
            {"BM_B64d/200", "BM_PlainTableDecode/200", 0},
        };
        std::printf("\n%-22s %12s   %-26s %12s %8s %8s\n", "figure", "ns", "baseline", "ns",
                    "ratio", "target");
        for (const auto& p : pairs) {
            const double f = median(p.figure), b = median(p.baseline);
            if (f <= 0 || b <= 0) continue;
            const double ratio = f / b;
            std::printf("%-22s %12.1f   %-26s %12.1f %8.3f ", p.figure, f, p.baseline, b, ratio);
            if (p.target > 0) {
                std::printf("%7.2fx %s\n", p.target, ratio <= p.target ? "met" : "MISSED");
            } else {
                std::printf("%8s\n", "-");
            }
        }
    }

private:
    static double nanosPer(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kNanosecond: return 1;
            case benchmark::kMicrosecond: return 1e3;
            case benchmark::kMillisecond: return 1e6;
            case benchmark::kSecond: return 1e9;
        }
        return 1;
    }
    double median(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : bench::median(it->second);
    }
    std::map<std::string, std::vector<double>> times_;
};

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    // The baselines call libsodium directly; let it pick its fast implementations first, as the
    // library under test does.
    if (sodium_init() < 0) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    tamborix::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
