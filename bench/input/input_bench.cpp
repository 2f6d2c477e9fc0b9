// Cost of one relative move through the injector, and of one smoother arrival with its ticks, on
// both paths a build takes (a sink that posts, and dry run's log), each with the number of heap
// allocations it makes (counted by replacing global operator new). The baseline, run in the same
// program: the bare sink call that a move ends in. The ratios are printed at the end.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include <cstdlib>
#include <functional>
#include <new>

#include "core/input/input_injector.h"
#include "core/input/smoother.h"
#include "core/recording/recording_input.h"
#include "testing/fake_display_source.h"
#include "testing/recording_input_sink.h"
#include "bench_support.h"

namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

// GCC sees malloc behind operator new and free behind operator delete and calls them mismatched;
// here they are the very pair being replaced.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace tamborix {
namespace {

// A main loop with one repeating timer that the benchmark fires by hand, so that what is counted
// is the smoother's own work and not a scheduler's.
class TickLoop final : public MainLoop {
public:
    [[nodiscard]] MonoTime now() const override { return now_; }
    [[nodiscard]] WallTime wallNow() const override { return WallTime{}; }
    void post(std::function<void()> job) override { job(); }
    [[nodiscard]] Timer singleShot(Duration, std::function<void()>, TimerOptions) override {
        return nullptr;
    }
    [[nodiscard]] Timer repeating(Duration, std::function<void()> fn, TimerOptions) override {
        fn_ = std::move(fn);
        return std::make_unique<Handle>(this);
    }

    void advance(Duration d) { now_ += d; }
    // Fires the timer if one is scheduled; returns whether it did.
    bool fire() {
        if (!fn_) return false;
        // A local copy, since the callback may cancel its own timer; small callables copy in place.
        auto fn = fn_;
        fn();
        return true;
    }

private:
    class Handle final : public TimerHandle {
    public:
        explicit Handle(TickLoop* loop) : loop_(loop) {}
        ~Handle() override { loop_->fn_ = nullptr; }

    private:
        TickLoop* loop_;
    };

    MonoTime now_ = MonoTime{} + std::chrono::hours(1);
    std::function<void()> fn_;
};

struct Rig {
    explicit Rig(bool dryRun = false)
        : input(dryRun ? static_cast<InputActions&>(recorder) : injector) { sink.reserve(4096); }
    TickLoop loop;
    testing::FakeDisplaySource displays{
        testing::FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}),
        Point{960, 540}};
    testing::RecordingInputSink sink;
    ActionJournal journal;
    InputInjector injector{loop, sink, displays};
    RecordingInput recorder{loop, journal};
    InputActions& input;
    void drain() {
        if (sink.posted().size() > 4000) sink.clear();
    }
};

// The baseline: what a posted move ends in, one call of the sink with a relative motion event.
void BM_SinkMouse(benchmark::State& state) {
    Rig rig;
    InputSink& sink = rig.sink;
    MouseEvent event;
    event.at = Point{960, 540};
    std::int64_t sign = 1;
    for (auto _ : state) {
        event.deltaX = 3 * sign;
        event.deltaY = -2 * sign;
        sign = -sign;
        sink.mouse(event);
        rig.drain();
    }
}
BENCHMARK(BM_SinkMouse);

// Arg 0: a sink that posts; 1: dry run, which writes a log line instead.
void BM_InjectorMove(benchmark::State& state) {
    Rig rig(state.range(0) == 1);
    rig.injector.setOnMove([](Point p) { benchmark::DoNotOptimize(p); });
    rig.input.move(1, 1);  // warm the display buffer
    double sign = 1;
    const auto before = allocations.load();
    for (auto _ : state) {
        rig.input.move(3 * sign, -2 * sign);
        sign = -sign;
        rig.loop.advance(std::chrono::milliseconds(1));
        rig.drain();
    }
    state.counters["allocs/move"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_InjectorMove)->Arg(0)->Arg(1);

// One arrival every state.range(0) milliseconds, spread over its ticks until the smoother goes
// idle: 16 ms (a 60 Hz phone, two ticks) and 50 ms (a slow link, six ticks).
// Second arg as above: 0 posts, 1 dry run.
void BM_SmootherAddAndTicks(benchmark::State& state) {
    Rig rig(state.range(1) == 1);
    Smoother smoother(rig.loop, rig.input);
    const auto spacing = std::chrono::milliseconds(state.range(0));
    std::uint64_t ticks = 0;
    std::uint64_t tickAllocs = 0;
    const auto before = allocations.load();
    for (auto _ : state) {
        rig.loop.advance(spacing);
        smoother.add(6, -4);
        while (smoother.spreading()) {
            const auto a = allocations.load();
            rig.loop.fire();
            tickAllocs += allocations.load() - a;
            ++ticks;
        }
        rig.drain();
    }
    state.counters["allocs/add"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
    state.counters["ticks/add"] =
        benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kAvgIterations);
    state.counters["allocs/tick"] =
        ticks ? static_cast<double>(tickAllocs) / static_cast<double>(ticks) : 0.0;
}
BENCHMARK(BM_SmootherAddAndTicks)->Args({16, 0})->Args({50, 0})->Args({16, 1})->Args({50, 1});

// Prints each figure's median CPU time beside the baseline's, from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            times_[r.run_name.str()].push_back(r.GetAdjustedCPUTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double base = median("BM_SinkMouse");
        std::printf("\n%-34s %10s %10s %8s\n", "figure (ns)", "figure", "sink call", "ratio");
        for (const auto& [name, v] : times_) {
            if (name == "BM_SinkMouse" || base <= 0) continue;
            std::printf("%-34s %10.1f %10.1f %8.2f\n", name.c_str(), median(name), base, median(name) / base);
        }
    }

private:
    double median(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : bench::median(it->second);
    }
    std::map<std::string, std::vector<double>> times_;
};

}  // namespace
}  // namespace tamborix

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    tamborix::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
