#include "tools/remote_bench.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>

#include "tools/remote_session.h"

namespace tamborix::remote {

namespace {

using Clock = std::chrono::steady_clock;

class SourcePool {
public:
    explicit SourcePool(const std::string& base) {
        if (base.empty()) return;
        in_addr a{};
        if (::inet_pton(AF_INET, base.c_str(), &a) != 1) throw std::runtime_error("bad --from " + base);
        next_ = ntohl(a.s_addr);
        enabled_ = true;
    }
    std::string take() {
        if (!enabled_) return {};
        in_addr a{};
        a.s_addr = htonl(next_++);
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &a, text, sizeof text);
        return text;
    }

private:
    bool enabled_ = false;
    std::uint32_t next_ = 0;
};

std::unique_ptr<RemoteSession> open(const Address& address, const KeyPair& device,
                                    const BenchOptions& options, SourcePool& pool) {
    SessionOptions so;
    so.from = pool.take();
    so.name = "tamborix-remote bench";
    auto s = std::make_unique<RemoteSession>(address, device, PhoneHandshake::Kind::hello,
                                             options.expectedServer.empty() ? nullptr : &options.expectedServer, so);
    // The ready frame comes first; context and displays may follow at any time and are ignored.
    const auto ready = s->receive(std::chrono::seconds(10));
    if (!ready || ready->value("t", "") != "ready") throw std::runtime_error("no ready frame");
    return s;
}

// Waits for a message of type `type`, skipping everything else.
void awaitType(RemoteSession& s, const std::string& type, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) throw std::runtime_error("no \"" + type + "\" reply in time");
        const auto m = s.receive(left);
        if (m && m->value("t", "") == type) return;
    }
}

struct MoveResult {
    double seconds = 0;
    long long frames = 0;
};

// Writes every frame as fast as the socket takes them, then one "stats_get": its reply comes
// only after the helper has handled every earlier frame of this connection.
void pumpMoves(RemoteSession& s, int frames, Clock::time_point& done) {
    std::string chunk;
    const nlohmann::json move = {{"t", "move"}, {"dx", 1}, {"dy", 0}};
    for (int i = 0; i < frames; ++i) {
        chunk += s.sealLine(move);
        chunk += '\n';
        if (chunk.size() >= 60000) {
            s.socket().write(chunk);
            chunk.clear();
        }
    }
    chunk += s.sealLine(nlohmann::json{{"t", "stats_get"}});
    chunk += '\n';
    s.socket().write(chunk);
    awaitType(s, "stats", std::chrono::seconds(120));
    done = Clock::now();
}

nlohmann::json moveFigure(const Address& address, const KeyPair& device, const BenchOptions& options,
                          SourcePool& pool, int connections, int perConnection) {
    // Connections of the previous figure may still be closing on the helper's side, and it serves
    // at most 16 at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::unique_ptr<RemoteSession>> sessions;
    for (int i = 0; i < connections; ++i) sessions.push_back(open(address, device, options, pool));
    // Let the ready-time pushes arrive before the clock starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<Clock::time_point> done(static_cast<std::size_t>(connections));
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(connections));
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < connections; ++i) {
        threads.emplace_back([&, i] {
            try {
                pumpMoves(*sessions[static_cast<std::size_t>(i)], perConnection, done[static_cast<std::size_t>(i)]);
            } catch (...) {
                errors[static_cast<std::size_t>(i)] = std::current_exception();
            }
        });
    }
    for (auto& t : threads) t.join();
    for (auto& e : errors) {
        if (e) std::rethrow_exception(e);
    }
    const auto end = *std::max_element(done.begin(), done.end());
    const double secs = std::chrono::duration<double>(end - start).count();
    const long long total = static_cast<long long>(connections) * perConnection;
    return {{"test", "move"},
            {"connections", connections},
            {"frames", total},
            {"dxSum", total},
            {"seconds", secs},
            {"framesPerSecond", secs > 0 ? static_cast<double>(total) / secs : 0.0}};
}

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// A line as long as a sealed ping's (45 frame bytes in base64url).
const std::string echoLine(60, 'A');

double echoOnce(LineSocket& echo) {
    std::string back;
    const auto t0 = Clock::now();
    echo.writeLine(echoLine);
    if (echo.readLine(back, std::chrono::seconds(10)) != LineSocket::ReadStatus::line)
        throw std::runtime_error("the echo server did not answer");
    return micros(Clock::now() - t0);
}

double pingOnce(RemoteSession& s) {
    const auto t0 = Clock::now();
    s.send(nlohmann::json{{"t", "ping"}});
    awaitType(s, "pong", std::chrono::seconds(10));
    return micros(Clock::now() - t0);
}

void drain(RemoteSession& s) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    while (s.receive(std::chrono::milliseconds(0))) {
    }
}

nlohmann::json pingFigure(const Address& address, const KeyPair& device, const BenchOptions& options,
                          SourcePool& pool) {
    auto s = open(address, device, options, pool);
    drain(*s);
    std::unique_ptr<LineSocket> echo;
    if (options.echo) echo = std::make_unique<LineSocket>(*options.echo);
    std::vector<double> ping, raw, diff;
    for (int i = 0; i < options.pings; ++i) {
        const double p = pingOnce(*s);
        ping.push_back(p);
        if (echo) {
            const double e = echoOnce(*echo);
            raw.push_back(e);
            diff.push_back(p - e);
        }
    }
    nlohmann::json out = {{"test", "ping"},
                          {"n", options.pings},
                          {"p50Us", percentile(ping, 50)},
                          {"p99Us", percentile(ping, 99)}};
    if (echo) {
        out["echoP50Us"] = percentile(raw, 50);
        out["echoP99Us"] = percentile(raw, 99);
        out["diffP50Us"] = percentile(diff, 50);
        out["diffP90Us"] = percentile(diff, 90);
        out["diffP99Us"] = percentile(diff, 99);
    }
    return out;
}

// Pings one connection while a second thread opens connections back to back (each a full
// handshake and ready frame), then the same number of pings with nothing else going on.
nlohmann::json stallFigure(const Address& address, const KeyPair& device, const BenchOptions& options,
                           SourcePool& pool) {
    auto s = open(address, device, options, pool);
    drain(*s);
    std::vector<std::string> sources;
    for (int i = 0; i < 4 * options.stallPings + 16; ++i) sources.push_back(pool.take());
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0};
    std::atomic<int> noReady{0};
    std::exception_ptr error;
    std::thread burst([&] {
        try {
            for (std::size_t i = 0; !stop.load() && i < sources.size(); ++i) {
                SessionOptions so;
                so.from = sources[i];
                so.name = "tamborix-remote bench";
                RemoteSession other(address, device, PhoneHandshake::Kind::hello,
                                    options.expectedServer.empty() ? nullptr : &options.expectedServer, so);
                // A connection whose ready frame does not come within 2 s is counted and left.
                const auto ready = other.receive(std::chrono::seconds(2));
                if (!ready || ready->value("t", "") != "ready") {
                    if (++noReady > 10) throw std::runtime_error("no ready frame");
                    continue;
                }
                ++opened;
            }
        } catch (...) {
            error = std::current_exception();
        }
    });
    while (opened.load() < 2 && !error) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<double> during, quiet;
    const auto t0 = Clock::now();
    const int before = opened.load();
    std::exception_ptr pingError;
    int lost = 0;
    try {
        for (int i = 0; i < options.stallPings && !error; ++i) {
            // A pong that does not come within 2 s is counted, not waited for; the next ping's
            // wait may then end on it.
            const auto t = Clock::now();
            s->send(nlohmann::json{{"t", "ping"}});
            try {
                awaitType(*s, "pong", std::chrono::seconds(2));
                during.push_back(micros(Clock::now() - t));
            } catch (const std::runtime_error&) {
                ++lost;
                if (lost > 10) throw;
            }
        }
    } catch (...) {
        pingError = std::current_exception();
    }
    const int handshakes = opened.load() - before;
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    burst.join();
    if (pingError) std::rethrow_exception(pingError);
    if (error) std::rethrow_exception(error);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    drain(*s);
    for (int i = 0; i < options.stallPings; ++i) quiet.push_back(pingOnce(*s));
    return {{"test", "ping during handshakes"},
            {"n", options.stallPings},
            {"handshakesPerSecond", seconds > 0 ? handshakes / seconds : 0.0},
            {"pongsLate", lost},
            {"readyFramesLate", noReady.load()},
            {"burstP50Us", percentile(during, 50)},
            {"burstP99Us", percentile(during, 99)},
            {"quietP50Us", percentile(quiet, 50)},
            {"quietP99Us", percentile(quiet, 99)}};
}

// One phone moving the pointer at a steady rate: one sealed "move" every 1/rate s.
nlohmann::json pacedFigure(const Address& address, const KeyPair& device, const BenchOptions& options,
                           SourcePool& pool) {
    auto s = open(address, device, options, pool);
    drain(*s);
    const nlohmann::json move = {{"t", "move"}, {"dx", 1}, {"dy", 0}};
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options.pacedRate));
    std::vector<double> probes;
    const auto t0 = Clock::now();
    for (int i = 0; i < options.pacedMoves; ++i) {
        std::this_thread::sleep_until(t0 + i * period);
        s->socket().writeLine(s->sealLine(move));
        if (options.pacedProbe > 0 && i % options.pacedProbe == 0) probes.push_back(pingOnce(*s));
    }
    s->send(nlohmann::json{{"t", "stats_get"}});
    awaitType(*s, "stats", std::chrono::seconds(30));
    nlohmann::json figure = {{"test", "paced move"},
                             {"frames", options.pacedMoves},
                             {"dxSum", options.pacedMoves},
                             {"perSecond", options.pacedRate},
                             {"seconds", std::chrono::duration<double>(Clock::now() - t0).count()}};
    if (!probes.empty()) {
        figure["probes"] = probes.size();
        figure["probeP50Us"] = percentile(probes, 50);
        figure["probeP99Us"] = percentile(probes, 99);
        figure["probeMaxUs"] = *std::max_element(probes.begin(), probes.end());
    }
    return figure;
}

}  // namespace

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::vector<nlohmann::json> runBench(const Address& address, const KeyPair& device,
                                     const BenchOptions& options) {
    SourcePool pool(options.fromBase);
    std::vector<nlohmann::json> out;

    if (options.handshakes > 0) {
        std::vector<double> handshakeMs;
        for (int i = 0; i < options.handshakes; ++i) {
            const auto t0 = Clock::now();
            auto s = open(address, device, options, pool);
            handshakeMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        out.push_back({{"test", "handshake"},
                       {"n", options.handshakes},
                       {"p50Ms", percentile(handshakeMs, 50)},
                       {"p99Ms", percentile(handshakeMs, 99)}});
    }
    if (options.pings > 0) out.push_back(pingFigure(address, device, options, pool));
    if (options.stallPings > 0) out.push_back(stallFigure(address, device, options, pool));
    if (options.pacedMoves > 0) out.push_back(pacedFigure(address, device, options, pool));
    if (options.moves > 0) {
        out.push_back(moveFigure(address, device, options, pool, 1, options.moves));
        if (options.connections > 1) {
            const int per = options.movesPerConnection > 0 ? options.movesPerConnection
                                                           : std::max(1, options.moves / options.connections);
            out.push_back(moveFigure(address, device, options, pool, options.connections, per));
        }
    }
    return out;
}

}  // namespace tamborix::remote
