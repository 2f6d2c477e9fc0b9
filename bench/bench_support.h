#pragma once
// What the benchmarks share: what a process costs, read from /proc; the statistics of repeated
// rounds; and the "--name value" options of a benchmark's command line.

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamborix::bench {

struct ProcSample {
    double cpuSeconds = 0;
    double memMiB = 0;  // RssAnon + VmSwap
};

// CPU time of every thread of `pid` in nanoseconds (schedstat), finer than the clock ticks of stat.
inline double cpuSecondsPrecise(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns) total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

// One thread's schedstat: time run, time spent runnable but waiting for a core, times it ran.
struct ThreadSchedule {
    double runNs = 0;
    double waitNs = 0;
    double slices = 0;
};

inline ThreadSchedule threadSchedule(pid_t pid, pid_t tid) {
    ThreadSchedule s;
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat");
    in >> s.runNs >> s.waitNs >> s.slices;
    return s;
}

// The mean wait for a core each time the thread was made to run between two readings.
inline double meanWaitUs(const ThreadSchedule& before, const ThreadSchedule& after) {
    const double slices = after.slices - before.slices;
    return slices > 0 ? (after.waitNs - before.waitNs) / slices / 1000.0 : 0;
}

inline ProcSample sample(pid_t pid) {
    ProcSample s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close != std::string::npos) {
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        s.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    if (const double precise = cpuSecondsPrecise(pid); precise > 0) s.cpuSeconds = precise;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        long kb = 0;
        if (std::sscanf(line.c_str(), "RssAnon: %ld kB", &kb) == 1 || std::sscanf(line.c_str(), "VmSwap: %ld kB", &kb) == 1) {
            s.memMiB += static_cast<double>(kb) / 1024.0;
        }
    }
    return s;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The value below which a share `q` of the values lie (the lower one where it falls between two).
inline double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

inline double stddev(const std::vector<double>& v) {
    if (v.size() < 2) return 0;
    double mean = 0;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    double sq = 0;
    for (double x : v) sq += (x - mean) * (x - mean);
    return std::sqrt(sq / static_cast<double>(v.size() - 1));
}

// The one-minute load average, which every figure states beside it.
inline double loadAverage() {
    double one = -1;
    std::ifstream("/proc/loadavg") >> one;
    return one;
}

// The options of a command line: "--name value", or "--name" alone where no value follows.
class Args {
public:
    Args(int argc, char** argv) {
        for (int i = 1; i < argc; ++i) {
            const std::string name = argv[i];
            if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
                values_[name] = argv[++i];
            } else {
                values_[name];
            }
        }
    }
    [[nodiscard]] bool has(const std::string& name) const { return values_.contains(name); }
    // A number that does not read as one stops the benchmark rather than measure something else.
    [[nodiscard]] int number(const std::string& name, int fallback) const {
        const auto it = values_.find(name);
        return it == values_.end() || it->second.empty() ? fallback : std::stoi(it->second);
    }
    [[nodiscard]] std::string text(const std::string& name, std::string fallback = {}) const {
        const auto it = values_.find(name);
        return it == values_.end() || it->second.empty() ? fallback : it->second;
    }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace tamborix::bench
