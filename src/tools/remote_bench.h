#pragma once
// Load figures of a helper, measured from the phone's side over real connections.

#include <cstdint>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "protocol/key_pair.h"
#include "tools/remote_address.h"

namespace tamborix::remote {

struct BenchOptions {
    int handshakes = 10;
    int pings = 2000;
    int moves = 100000;  // frames through one connection
    int connections = 16;
    int movesPerConnection = 0;  // 0 = moves / connections
    // Each connection comes from its own 127.0.0.x address from here on (the helper limits
    // handshakes per address); empty = no binding (at most 19 connections in a minute).
    std::string fromBase = "127.0.0.2";
    Bytes expectedServer;
    // A line echo server: each ping is then paired with one raw echo of the same line length,
    // measured alternately on the same thread, and the per-pair differences are reported.
    std::optional<Address> echo;
    // Pings of one connection while another thread opens connections back to back, then as many
    // without; 0 = not measured.
    int stallPings = 0;
    // Moves through one connection at `pacedRate` per second, then one "stats_get"; 0 = not
    // measured.
    int pacedMoves = 0;
    int pacedRate = 120;
    // A ping timed after every this many paced moves, in the same period (0 = none): how long a
    // command waits while the helper is busy with other work.
    int pacedProbe = 0;
};

// One JSON object per figure (handshake, ping, move through one connection, move through many,
// and those asked for by the options). A figure whose count is 0 is left out.
[[nodiscard]] std::vector<nlohmann::json> runBench(const Address& address, const KeyPair& device,
                                                   const BenchOptions& options);

[[nodiscard]] double percentile(std::vector<double> values, double p);

}  // namespace tamborix::remote
