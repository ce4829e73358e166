// The host's event queue: a module that queues n events at one clock costs
// the host n log n (a heap), not n squared; the time per event should grow
// only slowly from 1,000 to 1,000,000 events.
#include <benchmark/benchmark.h>

#include "EventQueue.h"

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

}  // namespace

BENCHMARK_MAIN();
