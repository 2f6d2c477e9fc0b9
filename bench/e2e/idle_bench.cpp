// What an idle helper costs, beside another build in the same run: the console helper and the
// tray application on one private Xvfb (openbox, trayer as the tray, so the tray application
// shows nothing but its icon), no phone connected. Per build, mode and round: wake-ups per second
// (times any of its threads was put on a core, from schedstat, over --seconds), "mem" (RssAnon +
// VmSwap) and the shared libraries mapped. Every helper of a round runs at the same time, so the
// load they see is the same.
//
//   idle_bench [--rounds 3] [--seconds 60] [--baseline-helper PATH]

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "e2e/helper_fixture.h"
#include "bench_support.h"
#include "support/child_process.h"
#include "support/x_server.h"

namespace {

using namespace std::chrono_literals;
using tamborix::bench::loadAverage;
using nlohmann::json;
using tamborix::bench::median;
using tamborix::testing::ChildProcess;
using tamborix::testing::HelperRun;
using tamborix::testing::XServer;

// How often each thread of `pid` was put on a core so far (the third field of its schedstat).
std::map<std::string, double> timesRun(pid_t pid) {
    std::map<std::string, double> perThread;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double run = 0;
        double wait = 0;
        double slices = 0;
        if (in >> run >> wait >> slices) perThread[task.path().filename().string()] = slices;
    }
    return perThread;
}

// Wake-ups between two readings: a thread that ended in between takes its count with it, so only
// threads seen at the end count (from zero if they started in between).
double wakeupsBetween(const std::map<std::string, double>& before, const std::map<std::string, double>& after) {
    double total = 0;
    for (const auto& [tid, slices] : after) {
        const auto it = before.find(tid);
        total += slices - (it == before.end() ? 0 : it->second);
    }
    return total;
}

std::size_t librariesMapped(pid_t pid) {
    std::set<std::string> libs;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) libs.insert(line.substr(slash));
    }
    return libs.size();
}

struct Figures {
    std::vector<double> wakeups;
    std::vector<double> memMiB;
    std::vector<double> libraries;
};

}  // namespace

int main(int argc, char** argv) {
    const tamborix::bench::Args args(argc, argv);
    const int rounds = args.number("--rounds", 3);
    const int seconds = args.number("--seconds", 60);
    const std::string baseline = args.text("--baseline-helper");
    std::vector<std::pair<std::string, std::string>> builds;
    if (!baseline.empty()) builds.emplace_back("baseline build", baseline);
    builds.emplace_back("this build", HelperRun::helperBinary());

    std::vector<json> report;
    try {
        XServer server({.width = 1280, .height = 800, .windowManager = true});
        ChildProcess tray("/usr/bin/trayer",
                          {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "96",
                           "--height", "32", "--SetDockType", "true", "--expand", "false"},
                          {"DISPLAY=" + server.display(), "PATH=/usr/bin:/bin",
                           "DBUS_SESSION_BUS_ADDRESS=disabled:"},
                          false);
        std::this_thread::sleep_for(1s);
        // Each build's tray application keeps its settings here, so its first start (which opens
        // the status window) is made once before the rounds.
        std::vector<std::filesystem::path> configs;
        for (std::size_t b = 0; b < builds.size(); ++b) {
            configs.push_back(server.dir() / ("config-" + std::to_string(b)));
            std::filesystem::create_directories(configs.back());
            HelperRun first(true, false, {"DISPLAY=" + server.display(), "XDG_CONFIG_HOME=" + configs.back().string()},
                            false, {}, builds[b].second);
            std::this_thread::sleep_for(2s);
        }
        std::map<std::string, Figures> figures;
        std::vector<double> loads;
        for (int r = 0; r < rounds; ++r) {
            std::vector<std::pair<std::string, std::unique_ptr<HelperRun>>> runs;
            for (std::size_t b = 0; b < builds.size(); ++b) {
                for (const bool console : {true, false}) {
                    std::vector<std::string> env = {"DISPLAY=" + server.display()};
                    if (!console) env.push_back("XDG_CONFIG_HOME=" + configs[b].string());
                    runs.emplace_back(builds[b].first + (console ? ", console" : ", tray application"),
                                      std::make_unique<HelperRun>(true, false, env, console,
                                                                  std::filesystem::path{}, builds[b].second));
                }
            }
            std::this_thread::sleep_for(3s);  // start-up settles
            std::vector<std::map<std::string, double>> before;
            for (auto& [name, run] : runs) before.push_back(timesRun(run->helper().pid()));
            const auto start = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            loads.push_back(loadAverage());
            for (std::size_t i = 0; i < runs.size(); ++i) {
                const pid_t pid = runs[i].second->helper().pid();
                auto& f = figures[runs[i].first];
                f.wakeups.push_back(wakeupsBetween(before[i], timesRun(pid)) / wall);
                f.memMiB.push_back(tamborix::bench::sample(pid).memMiB);
                f.libraries.push_back(static_cast<double>(librariesMapped(pid)));
            }
        }
        for (const auto& [name, f] : figures) {
            const auto [minW, maxW] = std::minmax_element(f.wakeups.begin(), f.wakeups.end());
            const auto [minM, maxM] = std::minmax_element(f.memMiB.begin(), f.memMiB.end());
            report.push_back({{"test", "idle, " + name},
                              {"seconds", seconds},
                              {"rounds", rounds},
                              {"wakeupsPerSecond", {{"min", *minW}, {"median", median(f.wakeups)}, {"max", *maxW}}},
                              {"memMiB", {{"min", *minM}, {"median", median(f.memMiB)}, {"max", *maxM}}},
                              {"librariesMedian", median(f.libraries)},
                              {"wakeupsPerRound", f.wakeups}});
        }
        report.push_back({{"test", "load average (1 min) at the end of each round"}, {"values", loads}});
    } catch (const std::exception& e) {
        for (const auto& r : report) std::cout << r.dump() << "\n";
        std::cerr << "idle bench failed: " << e.what() << "\n";
        return 1;
    }
    for (const auto& r : report) std::cout << r.dump() << "\n";
    return 0;
}
