// The real helper over its Bluetooth path beside the same helper over TCP, in one run: a private
// system bus carries the stand-in bluetoothd (tamborix-fake-bluez), whose simulated phones bridge
// tamborix-remote's lines to characteristic writes (in fragments of the phone's link, at most 16
// unanswered at a time) and bring notifications back from the AcquireNotify sockets. For each path
// (TCP; a phone with a 185-byte link; one with the 23-byte minimum) and round:
// - ping round trips, one at a time;
// - "move" frames through one connection as fast as the path takes them;
// - one phone moving at a steady rate (60 Hz): the helper's own CPU time per move, and beside it
//   the stand-in bluetoothd's, which on a real computer is bluetoothd's and the radio's share.
// The paths are measured interleaved, so each BLE figure has its TCP baseline from the same run.

#include <sys/types.h>

#include <chrono>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "e2e/fake_bluez_run.h"
#include "e2e/helper_fixture.h"
#include "bench_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using tamborix::bench::median;
using tamborix::bench::sample;
using tamborix::testing::FakeBluezRun;
using tamborix::testing::HelperRun;

struct Options {
    int rounds = 3;
    int pings = 2000;
    int moves = 20000;
    int paced = 600;
    int rate = 60;
};

struct Path {
    std::string name;
    std::string address;  // what tamborix-remote connects to
    std::string phone;    // the simulated phone's Bluetooth address; empty for TCP
};

std::vector<json> remoteBench(HelperRun& run, FakeBluezRun& ble, const Path& path, std::vector<std::string> args) {
    args.insert(args.begin(), {"bench", path.address});
    auto remote = run.startRemote(args);
    const auto rc = remote->wait(300s);
    if (!rc || *rc != 0) throw std::runtime_error(path.name + ": remote bench failed:\n" + remote->transcript());
    // The phone's next app connection must not meet the previous one still leaving.
    if (!path.phone.empty() && !ble.waitLeft(path.phone))
        throw std::runtime_error(path.name + ": the phone did not leave:\n" + ble.bluez().transcript());
    std::vector<json> out;
    for (const auto& l : remote->lines()) out.push_back(json::parse(l));
    return out;
}

json figure(const std::vector<json>& figures, const std::string& test) {
    for (const auto& f : figures)
        if (f["test"] == test) return f;
    throw std::runtime_error("no figure " + test);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const tamborix::bench::Args args(argc, argv);
    std::vector<std::string> fakeArgs;
    // The baseline of AcquireWrite: the stand-in bluetoothd writes through WriteValue only.
    if (args.has("--write-value")) fakeArgs.push_back("--write-value");
    o.rounds = args.number("--rounds", o.rounds);
    o.pings = args.number("--pings", o.pings);
    o.moves = args.number("--moves", o.moves);
    o.paced = args.number("--paced", o.paced);
    o.rate = args.number("--rate", o.rate);
    std::vector<json> report;
    try {
        FakeBluezRun ble(TAMBORIX_FAKE_BLUEZ_BIN, fakeArgs);
        HelperRun run(true, {}, {}, ble.busAddress());
        if (!ble.bluez().waitForPrefix("registered Velmorand", 15s))
            throw std::runtime_error("the helper did not register:\n" + ble.bluez().transcript());
        if (!run.helper().waitForPrefix("Bluetooth \u2014 On", 15s))
            throw std::runtime_error("Bluetooth did not come on:\n" + run.helper().transcript());

        std::vector<Path> paths = {{"TCP", run.address(), ""},
                                   {"BLE, 185-byte link", ble.phone("AA:BB:CC:00:00:B9", 185), "AA:BB:CC:00:00:B9"},
                                   {"BLE, 23-byte link", ble.phone("AA:BB:CC:00:00:17", 23), "AA:BB:CC:00:00:17"}};
        for (const auto& p : paths) {
            if (p.address.empty()) throw std::runtime_error("no phone for " + p.name);
            const auto paired = run.pair("y", "bench " + p.name, p.address);
            if (paired.exitCode != 0) throw std::runtime_error(p.name + ": pairing failed: " + paired.err);
            if (!p.phone.empty() && !ble.waitLeft(p.phone)) throw std::runtime_error(p.name + ": no leave");
        }

        const pid_t helper = run.helper().pid();
        const pid_t bluez = ble.bluez().pid();
        std::map<std::string, std::vector<double>> pingP50, pingP99, movesPerSecond, helperUs, bluezUs;
        const auto zero = std::string("0");
        for (int r = 0; r < o.rounds; ++r) {
            for (const auto& p : paths) {
                const auto ping = figure(remoteBench(run, ble, p, {"--handshakes", zero, "--pings", std::to_string(o.pings),
                                                                   "--moves", zero}),
                                         "ping");
                pingP50[p.name].push_back(ping["p50Us"]);
                pingP99[p.name].push_back(ping["p99Us"]);

                const auto move = figure(remoteBench(run, ble, p, {"--handshakes", zero, "--pings", zero, "--moves",
                                                                   std::to_string(o.moves), "--conns", "1"}),
                                         "move");
                movesPerSecond[p.name].push_back(move["framesPerSecond"]);

                const auto h0 = sample(helper);
                const auto b0 = sample(bluez);
                (void)remoteBench(run, ble, p, {"--handshakes", zero, "--pings", zero, "--moves", zero, "--paced",
                                                std::to_string(o.paced), "--rate", std::to_string(o.rate)});
                const auto h1 = sample(helper);
                const auto b1 = sample(bluez);
                helperUs[p.name].push_back(1e6 * (h1.cpuSeconds - h0.cpuSeconds) / o.paced);
                bluezUs[p.name].push_back(1e6 * (b1.cpuSeconds - b0.cpuSeconds) / o.paced);
            }
        }
        for (const auto& p : paths) {
            json f = {{"test", p.name},
                      {"rounds", o.rounds},
                      {"pings", o.pings},
                      {"pingP50Us", median(pingP50[p.name])},
                      {"pingP99Us", median(pingP99[p.name])},
                      {"moves", o.moves},
                      {"movesPerSecond", median(movesPerSecond[p.name])},
                      {"movesPerSecondPerRound", movesPerSecond[p.name]},
                      {"pacedMoves", o.paced},
                      {"rateHz", o.rate},
                      {"helperCpuUsPerMove", median(helperUs[p.name])},
                      {"helperCpuPercentOfOneCore", median(helperUs[p.name]) * o.rate / 1e4},
                      {"helperCpuUsPerMovePerRound", helperUs[p.name]}};
            if (!p.phone.empty()) f["fakeBluezCpuUsPerMove"] = median(bluezUs[p.name]);
            report.push_back(f);
        }
        const std::vector<json> perPath = report;
        const auto& tcp = perPath.front();
        for (std::size_t i = 1; i < perPath.size(); ++i) {
            const auto& f = perPath[i];
            report.push_back({{"test", f["test"].get<std::string>() + " over TCP"},
                              {"pingP50", f["pingP50Us"].get<double>() / tcp["pingP50Us"].get<double>()},
                              {"movesPerSecond", f["movesPerSecond"].get<double>() / tcp["movesPerSecond"].get<double>()},
                              {"helperCpuPerMove",
                               f["helperCpuUsPerMove"].get<double>() / tcp["helperCpuUsPerMove"].get<double>()}});
        }
        report.push_back({{"test", "helper memory at the end"}, {"memMiB", sample(helper).memMiB}});
    } catch (const std::exception& e) {
        for (const auto& r : report) std::cout << r.dump() << "\n";
        std::cerr << "ble bench failed: " << e.what() << "\n";
        return 1;
    }
    for (const auto& r : report) std::cout << r.dump() << "\n";
    return 0;
}
