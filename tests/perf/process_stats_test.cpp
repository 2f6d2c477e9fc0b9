#include "perf/process_stats.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace tamborix {
namespace {

namespace fs = std::filesystem;

// A fake /proc/self: one stat file per thread and a status file.
class FakeProc {
public:
    FakeProc() {
        char pattern[] = "/tmp/tamborix-proc-XXXXXX";
        root_ = mkdtemp(pattern);
        fs::create_directories(root_ / "task");
    }
    ~FakeProc() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void thread(int tid, unsigned utime, unsigned stime, const std::string& comm = "helper") {
        fs::create_directories(root_ / "task" / std::to_string(tid));
        std::ofstream(root_ / "task" / std::to_string(tid) / "stat")
            << tid << " (" << comm << ") S 1 1 1 0 -1 4194560 100 0 0 0 " << utime << ' '
            << stime << " 0 0 20 0 1 0 100 1000 10\n";
    }
    void endThread(int tid) { fs::remove_all(root_ / "task" / std::to_string(tid)); }
    void status(const std::string& text) { std::ofstream(root_ / "status") << text; }
    [[nodiscard]] std::string path() const { return root_.string(); }

private:
    fs::path root_;
};

struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    ProcessStats::Clock fn() {
        return [this] { return now; };
    }
};

TEST(ProcessStats, CpuPercent_ThreadsRanBetweenReadings_ReportsTimeOverWallTime) {
    FakeProc proc;
    FakeClock clock;
    const long hz = sysconf(_SC_CLK_TCK);
    proc.thread(10, 100, 50);
    proc.thread(11, 7, 0, "worker) odd (name");
    ProcessStats stats(proc.path(), clock.fn());
    // Over 2 s: thread 10 ran hz/2 ticks, thread 11 ran hz ticks -> 1.5 s of CPU in 2 s.
    proc.thread(10, 100 + hz / 2, 50);
    proc.thread(11, 7 + hz / 2, hz / 2);
    clock.now += std::chrono::seconds(2);
    EXPECT_NEAR(stats.cpuPercent(), 75.0, 1e-9);
}

TEST(ProcessStats, CpuPercent_NewAndEndedThreads_CountNewWholeAndDropEnded) {
    FakeProc proc;
    FakeClock clock;
    const long hz = sysconf(_SC_CLK_TCK);
    proc.thread(10, 500, 0);
    proc.thread(12, 900, 0);
    ProcessStats stats(proc.path(), clock.fn());
    proc.endThread(12);
    proc.thread(13, hz, 0);  // started after the first reading: one second of CPU
    clock.now += std::chrono::seconds(1);
    EXPECT_NEAR(stats.cpuPercent(), 100.0, 1e-9);
}

TEST(ProcessStats, CpuPercent_ReadingsTooClose_RepeatLastFigure) {
    FakeProc proc;
    FakeClock clock;
    const long hz = sysconf(_SC_CLK_TCK);
    proc.thread(10, 0, 0);
    ProcessStats stats(proc.path(), clock.fn());
    proc.thread(10, hz / 4, 0);
    clock.now += std::chrono::seconds(1);
    const double first = stats.cpuPercent();
    EXPECT_NEAR(first, 25.0, 1e-9);
    proc.thread(10, hz * 4, 0);
    clock.now += std::chrono::milliseconds(10);
    EXPECT_EQ(stats.cpuPercent(), first);
}

TEST(ProcessStats, CpuPercent_NoTaskFolder_ReportsZero) {
    FakeClock clock;
    ProcessStats stats("/nonexistent/tamborix", clock.fn());
    clock.now += std::chrono::seconds(1);
    EXPECT_EQ(stats.cpuPercent(), 0);
}

TEST(ProcessStats, MemoryMiB_AddsAnonymousResidentAndSwap) {
    FakeProc proc;
    proc.status("Name:\thelper\nVmRSS:\t  99999 kB\nRssAnon:\t    3072 kB\nRssFile:\t 5000 kB\n"
                "VmSwap:\t    1024 kB\n");
    ProcessStats stats(proc.path());
    ASSERT_TRUE(stats.memoryMiB().has_value());
    EXPECT_DOUBLE_EQ(*stats.memoryMiB(), 4.0);
}

TEST(ProcessStats, MemoryMiB_MissingFields_SwapOptionalAnonRequired) {
    FakeProc proc;
    proc.status("RssAnon:\t2048 kB\n");
    EXPECT_DOUBLE_EQ(ProcessStats(proc.path()).memoryMiB().value_or(-1), 2.0);
    proc.status("VmSwap:\t2048 kB\n");
    EXPECT_FALSE(ProcessStats(proc.path()).memoryMiB().has_value());
}

TEST(ProcessStats, LiveProcess_OtherThreadBusyWhileMainWaits_CountsThatThread) {
    ProcessStats stats;
    const auto start = std::chrono::steady_clock::now();
    std::mutex mutex;
    std::condition_variable changed;
    bool spun = false;
    bool stop = false;
    std::thread spinner([&] {
        const auto ownCpu = [] {
            timespec t{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
        };
        volatile std::uint64_t x = 0;
        while (ownCpu() < 0.3) x = x + 1;
        std::unique_lock lock(mutex);
        spun = true;
        changed.notify_all();
        // Stays alive: an ended thread leaves the figure.
        changed.wait(lock, [&] { return stop; });
    });
    {
        // The main thread blocks meanwhile, so nearly all of the process's time is the spinner's.
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return spun; });
    }
    const double cpu = stats.cpuPercent();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    spinner.join();
    // At least the spinner's 0.3 s over the wall time, less the kernel's clock-tick rounding.
    EXPECT_GE(cpu, 100.0 * (0.3 - 0.02) / wall) << "wall " << wall << " s";
    EXPECT_GT(stats.memoryMiB().value_or(0), 0.0);
}

}  // namespace
}  // namespace tamborix
