// The host's event queue: a module that queues n events at one clock costs
// the host n log n (a heap), not n squared; the time per event should grow
// only slowly from 1,000 to 1,000,000 events. And a driven input: the cost
// per sample of a run should not grow with the number of values the host
// has already driven into it (a long score's gates).
#include <benchmark/benchmark.h>

#include "EventQueue.h"
#include "SepHost.h"

namespace {

void QueueAndDeliverAtOneClock(benchmark::State& state) {
    const int64_t events = state.range(0);
    for (auto _ : state) {
        sephost::EventQueue queue;
        HostEvent event{};
        event.time_stamp = 4096;
        for (int64_t k = 0; k < events; ++k) {
            event.value_a = static_cast<int32_t>(k);
            queue.Push(event);
        }
        int64_t delivered = 0;
        while (!queue.Empty()) delivered += queue.Pop().event.value_a >= 0 ? 1 : 0;
        benchmark::DoNotOptimize(delivered);
    }
    state.SetItemsProcessed(state.iterations() * events);
}
BENCHMARK(QueueAndDeliverAtOneClock)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// An envelope whose gate the host toggles every 64 samples: the second
// half of the run is timed after `changes` values have passed.
void DrivenGateAfterManyChanges(benchmark::State& state) {
    const int64_t changes = state.range(0);
    constexpr uint32_t kEvery = 64, kTimed = 64 * 1024;
    std::string error;
    auto library = sephost::Library::Load(TESSARN_SEP_PATH, &error);
    if (library == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        sephost::EngineOptions options;
        options.block_size = 256;
        options.record_outputs = false;
        options.record_process_calls = false;
        sephost::Engine engine(options);
        engine.Place(*library, 1, &error);
        engine.Open(&error);
        const uint32_t total = static_cast<uint32_t>(changes) * kEvery + kTimed;
        for (uint32_t at = 0; at < total; at += kEvery) engine.SetInput(0, 0, (at / kEvery) % 2 ? 1.0f : 0.0f, at);
        engine.Run(static_cast<uint32_t>(changes) * kEvery, &error);
        state.ResumeTiming();
        engine.Run(kTimed, &error);
    }
    state.SetItemsProcessed(state.iterations() * kTimed);
}
BENCHMARK(DrivenGateAfterManyChanges)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
