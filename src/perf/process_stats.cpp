#include "perf/process_stats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tamborix {

namespace {

// Readings closer together than this would mostly measure the 10 ms granularity of the tick
// counters, so they repeat the last figure instead.
constexpr auto minInterval = std::chrono::milliseconds(250);

// utime + stime of one /proc/<pid>/task/<tid>/stat line. The command name in parentheses may
// hold spaces and parentheses itself, so fields are counted from the last ')'.
std::optional<std::uint64_t> ticksOfStatLine(const std::string& line) {
    const auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream in(line.substr(close + 1));
    // After ')' come: state(3) ppid pgrp session tty_nr tpgid flags minflt cminflt majflt
    // cmajflt utime(14) stime(15).
    std::string field;
    for (int i = 3; i <= 13; ++i)
        if (!(in >> field)) return std::nullopt;
    std::uint64_t utime = 0, stime = 0;
    if (!(in >> utime >> stime)) return std::nullopt;
    return utime + stime;
}

std::optional<double> statusKiB(const std::string& text, std::string_view key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() ||
            line[key.size()] != ':')
            continue;
        std::istringstream value(line.substr(key.size() + 1));
        double kib = 0;
        if (value >> kib) return kib;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

ProcessStats::ProcessStats(std::string procSelf, Clock clock)
    : procSelf_(std::move(procSelf)),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      ticksPerSecond_(sysconf(_SC_CLK_TCK)) {
    if (ticksPerSecond_ <= 0) ticksPerSecond_ = 100;
    lastAt_ = clock_();
    if (auto ticks = threadTicks()) lastTicks_ = std::move(*ticks);
}

std::optional<std::map<std::int64_t, std::uint64_t>> ProcessStats::threadTicks() const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(fs::path(procSelf_) / "task", ec);
    if (ec) return std::nullopt;
    std::map<std::int64_t, std::uint64_t> result;
    for (const auto& entry : it) {
        const auto name = entry.path().filename().string();
        std::int64_t tid = 0;
        try {
            std::size_t used = 0;
            tid = std::stoll(name, &used);
            if (used != name.size()) continue;
        } catch (const std::exception&) {
            continue;
        }
        // A thread may end between listing and reading; it then simply does not count.
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        if (auto ticks = ticksOfStatLine(line)) result[tid] = *ticks;
    }
    return result;
}

double ProcessStats::cpuPercent() {
    const auto now = clock_();
    if (now - lastAt_ < minInterval) return lastPercent_;
    auto ticks = threadTicks();
    if (!ticks) return 0;
    std::uint64_t ran = 0;
    for (const auto& [tid, total] : *ticks) {
        // A thread not seen at the previous reading started since then: all its time counts.
        const auto before = lastTicks_.find(tid);
        const std::uint64_t base =
            before == lastTicks_.end() || before->second > total ? 0 : before->second;
        ran += total - base;
    }
    const double wall = std::chrono::duration<double>(now - lastAt_).count();
    lastPercent_ = wall > 0 ? static_cast<double>(ran) / ticksPerSecond_ / wall * 100.0 : 0;
    lastAt_ = now;
    lastTicks_ = std::move(*ticks);
    return lastPercent_;
}

std::optional<double> ProcessStats::memoryMiB() const {
    std::ifstream in(std::filesystem::path(procSelf_) / "status");
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    const auto text = buffer.str();
    const auto anon = statusKiB(text, "RssAnon");
    if (!anon) return std::nullopt;
    const auto swap = statusKiB(text, "VmSwap").value_or(0);
    return (*anon + swap) / 1024.0;
}

}  // namespace tamborix
