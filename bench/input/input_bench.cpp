// Cost of one relative move through the injector, and of one smoother arrival with its ticks,
// each with the number of heap allocations it makes (counted by replacing global operator new).

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "core/input/input_injector.h"
#include "core/input/smoother.h"
#include "testing/fake_display_source.h"
#include "testing/recording_input_sink.h"

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
    TickLoop loop;
    testing::FakeDisplaySource displays{
        testing::FakeDisplaySource::withBounds({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}),
        Point{960, 540}};
    testing::RecordingInputSink sink;
    InputInjector injector{loop, sink, displays, false};
    Rig() { sink.reserve(4096); }
    void drain() {
        if (sink.posted().size() > 4000) sink.clear();
    }
};

void BM_InjectorMove(benchmark::State& state) {
    Rig rig;
    rig.injector.setOnMove([](Point p) { benchmark::DoNotOptimize(p); });
    rig.injector.move(1, 1);  // warm the display buffer
    double sign = 1;
    const auto before = allocations.load();
    for (auto _ : state) {
        rig.injector.move(3 * sign, -2 * sign);
        sign = -sign;
        rig.loop.advance(std::chrono::milliseconds(1));
        rig.drain();
    }
    state.counters["allocs/move"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_InjectorMove);

// One arrival every state.range(0) milliseconds, spread over its ticks until the smoother goes
// idle: 16 ms (a 60 Hz phone, two ticks) and 50 ms (a slow link, six ticks).
void BM_SmootherAddAndTicks(benchmark::State& state) {
    Rig rig;
    Smoother smoother(rig.loop, rig.injector);
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
BENCHMARK(BM_SmootherAddAndTicks)->Arg(16)->Arg(50);

}  // namespace
}  // namespace tamborix

BENCHMARK_MAIN();
