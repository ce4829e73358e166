// Cost of the oscillator per block: the closed-form series should cost the
// same for 1 partial as for 1000, in every comb mode and kernel variant.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Module.h"
#include "UlvoVoiceList.h"

namespace {

constexpr int32_t kBlock = 1024;

// No host: the module is constructed without a callback and its buffers are
// bound directly; the synthesis needs nothing else.
struct Voice {
    explicit Voice(float partials, int16_t cpmode, bool vector) : module(nullptr, nullptr) {
        module.Open();
        for (auto& b : buffers) b.assign(kBlock, 0.0f);
        buffers[ulvo::PIN_FC].assign(kBlock, 0.3f);
        buffers[ulvo::PIN_FM1].assign(kBlock, 0.01f);
        buffers[ulvo::PIN_N].assign(kBlock, partials);
        buffers[ulvo::PIN_A].assign(kBlock, 0.95f);
        buffers[ulvo::PIN_GATE].assign(kBlock, 1.0f);
        buffers[ulvo::PIN_COMBFREQ].assign(kBlock, 0.2f);
        buffers[ulvo::PIN_WAVE].assign(kBlock, 0.3f);
        module.m_fc = buffers[ulvo::PIN_FC].data();
        module.m_fm1 = buffers[ulvo::PIN_FM1].data();
        module.m_n = buffers[ulvo::PIN_N].data();
        module.m_a = buffers[ulvo::PIN_A].data();
        module.m_gate = buffers[ulvo::PIN_GATE].data();
        module.m_detune = buffers[ulvo::PIN_DETUNE].data();
        module.m_sync = buffers[ulvo::PIN_SYNC].data();
        module.m_wave = buffers[ulvo::PIN_WAVE].data();
        module.m_combfreq = buffers[ulvo::PIN_COMBFREQ].data();
        module.m_combphase = buffers[ulvo::PIN_COMBPHASE].data();
        module.m_fund = buffers[ulvo::PIN_FUND].data();
        module.m_rotate = buffers[ulvo::PIN_ROTATE].data();
        module.m_incr_in = buffers[ulvo::PIN_INCR].data();
        module.m_outputl = buffers[ulvo::PIN_OUTPUTL].data();
        module.m_outputr = buffers[ulvo::PIN_OUTPUTR].data();
        module.m_cpmode = cpmode;
        module.m_cfmode = 3;
        module.m_has_sse = vector;
    }
    ulvo::Module module;
    std::vector<float> buffers[ulvo::PIN_COUNT];
};

void BM_UlvoBlock(benchmark::State& state) {
    Voice voice(static_cast<float>(state.range(0)), static_cast<int16_t>(state.range(1)), state.range(2) != 0);
    for (auto _ : state) {
        voice.module.GenerateBlock(0, kBlock);
        benchmark::DoNotOptimize(voice.buffers[ulvo::PIN_OUTPUTL][kBlock - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// partials, cpmode, vector kernel
BENCHMARK(BM_UlvoBlock)->ArgsProduct({{1, 30, 1000}, {1, 3, 4}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
