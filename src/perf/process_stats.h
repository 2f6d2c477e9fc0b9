#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tamborix {

// CPU and memory of this process, read from /proc. The CPU figure is the time the process's
// threads ran since the previous reading over the wall time between the readings, so the object
// keeps the previous reading.
class ProcessStats {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `procSelf` and `clock` are seams for tests; the defaults read the live process.
    explicit ProcessStats(std::string procSelf = "/proc/self", Clock clock = {});

    // Percent of one core, summed over threads (may exceed 100). The first reading covers the
    // time since the object was created.
    [[nodiscard]] double cpuPercent();
    // RssAnon + VmSwap in MiB; nullopt when /proc cannot be read.
    [[nodiscard]] std::optional<double> memoryMiB() const;

private:
    // Thread id -> CPU time in clock ticks, or nullopt when the task folder cannot be listed.
    [[nodiscard]] std::optional<std::map<std::int64_t, std::uint64_t>> threadTicks() const;

    std::string procSelf_;
    Clock clock_;
    long ticksPerSecond_;
    std::chrono::steady_clock::time_point lastAt_;
    std::map<std::int64_t, std::uint64_t> lastTicks_;
    double lastPercent_ = 0;
};

}  // namespace tamborix
