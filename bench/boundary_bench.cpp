// What the boundary hygiene costs, and what it saves: one process call of
// each module run four ways (the bare member; under the flush modes only;
// followed by the explicit output pass only; through the record's forwarder,
// which does both), with normal settings and with settings that produce
// subnormal numbers, at a short and a long block.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "../tests/support/MockHost.h"
#include "SEFloatGuard.h"
#include "tessarn/Module.h"
#include "ulvo/Module.h"

namespace {

enum Path { kBare = 0, kFlushModesOnly = 1, kGuardOnly = 2, kForwarder = 3 };

template <class Rig>
void RunPath(Rig& rig, int path, int32_t count) {
    switch (path) {
    case kBare:
        rig.Member(count);
        break;
    case kFlushModesOnly: {
        const SEFloatModeScope flush_modes;
        rig.Member(count);
        break;
    }
    case kGuardOnly:
        rig.Member(count);
        for (float* out : rig.Outputs()) SEGuardSamples(out, count);
        break;
    default: {
        HostRecord* record = rig.module.GetHostRecord();
        record->process_function(record->object, 0, count);
        rig.host.calls.clear();
        break;
    }
    }
}

constexpr int32_t kCapacity = 1024;

struct Envelope {
    enum Setting { kCurvedAttack = 0, kSubnormalSustain = 1, kSteepForm = 2 };
    explicit Envelope(int setting) {
        using namespace tessarn;
        host.pin_count = PIN_COUNT;
        module.SetSampleRate(44100.0f);
        module.SetBlockSize(kCapacity);
        module.Open();
        for (auto& b : buffers) b.assign(kCapacity, 0.0f);
        buffers[PIN_GATE].assign(kCapacity, 1.0f);
        buffers[PIN_LEVEL].assign(kCapacity, 1.0f);
        if (setting == kSubnormalSustain) {
            // Sustain -36 under the exponential law: about -1e-43 per sample.
            buffers[PIN_HOLD].assign(kCapacity, 1.0e4f);
            buffers[PIN_DECAY].assign(kCapacity, 1.0e4f);
            buffers[PIN_SUSTAIN].assign(kCapacity, -36.0f);
        } else {
            // A very slow attack; form 4 makes most of its samples tiny.
            buffers[PIN_ATTACK].assign(kCapacity, 1.0e-4f);
            buffers[PIN_ATTACK_FORM].assign(kCapacity, setting == kSteepForm ? 4.0f : 0.4f);
        }
        float** bound[] = {&module.m_gate,       &module.m_attack,       &module.m_hold,    &module.m_decay,
                           &module.m_sustain,    &module.m_release,      &module.m_level,   &module.m_attack_form,
                           &module.m_decay_form, &module.m_release_form, &module.m_lfo_amt, &module.m_lfo_freq,
                           &module.m_lfo_phase,  &module.m_signal_out};
        for (int k = 0; k < 14; ++k) *bound[k] = buffers[k < 13 ? k : PIN_SIGNAL_OUT].data();
        module.m_dbmode = 1;
        // A streaming sustain keeps the module from arming its sleep.
        module.m_streaming_inputs = 1u << PIN_SUSTAIN;
        for (int k = 0; k < 8; ++k) Member(kCapacity);  // into the stage measured
    }
    void Member(int32_t count) {
        module.ProcessNormal(0, count);
        host.calls.clear();
    }
    std::array<float*, 1> Outputs() { return {buffers[tessarn::PIN_SIGNAL_OUT].data()}; }
    MockHost host;
    tessarn::Module module{MockHost::Callback(), nullptr};
    std::array<std::vector<float>, tessarn::PIN_COUNT> buffers;
};

struct Voice {
    explicit Voice(bool subnormal) {
        using namespace ulvo;
        host.pin_count = PIN_COUNT;
        host.clones = {module.GetHostRecord()};
        module.SetBlockSize(kCapacity);
        module.Open();
        for (auto& b : buffers) b.assign(kCapacity, 0.0f);
        // "fc" -14: a carrier far below hearing, whose phase and sine run
        // in the subnormal range.
        buffers[PIN_FC].assign(kCapacity, subnormal ? -14.0f : 0.3f);
        buffers[PIN_FM1].assign(kCapacity, 0.01f);
        buffers[PIN_N].assign(kCapacity, 30.0f);
        buffers[PIN_A].assign(kCapacity, 0.9f);
        buffers[PIN_GATE].assign(kCapacity, 1.0f);
        float** bound[] = {
            &module.m_fc,      &module.m_fm1,     &module.m_n,      &module.m_a,        &module.m_gate,
            &module.m_detune,  &module.m_sync,    &module.m_wave,   &module.m_combfreq, &module.m_combphase,
            &module.m_fund,    nullptr,           nullptr,          &module.m_rotate,   nullptr,
            &module.m_incr_in, &module.m_outputl, &module.m_outputr};
        for (int k = 0; k < PIN_COUNT; ++k)
            if (bound[k] != nullptr) *bound[k] = buffers[k].data();
        module.m_cpmode = 1;
        module.m_cfmode = 1;
        module.m_poly = 8;
        for (int k = 0; k < 8; ++k) Member(kCapacity);
    }
    void Member(int32_t count) {
        module.Process(0, count);
        host.calls.clear();
    }
    std::array<float*, 2> Outputs() { return {buffers[ulvo::PIN_OUTPUTL].data(), buffers[ulvo::PIN_OUTPUTR].data()}; }
    MockHost host;
    ulvo::Module module{MockHost::Callback(), nullptr};
    std::array<std::vector<float>, ulvo::PIN_COUNT> buffers;
};

// path, setting, block
void BM_TessarnCall(benchmark::State& state) {
    Envelope envelope(static_cast<int>(state.range(1)));
    const int32_t count = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        RunPath(envelope, static_cast<int>(state.range(0)), count);
        benchmark::DoNotOptimize(envelope.buffers[tessarn::PIN_SIGNAL_OUT].data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_TessarnCall)->ArgsProduct({{kBare, kFlushModesOnly, kGuardOnly, kForwarder}, {0, 1, 2}, {16, 256}});

// path, subnormal, block
void BM_UlvoCall(benchmark::State& state) {
    Voice voice(state.range(1) != 0);
    const int32_t count = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        RunPath(voice, static_cast<int>(state.range(0)), count);
        benchmark::DoNotOptimize(voice.buffers[ulvo::PIN_OUTPUTR].data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_UlvoCall)->ArgsProduct({{kBare, kFlushModesOnly, kGuardOnly, kForwarder}, {0, 1}, {16, 256}});

}  // namespace

BENCHMARK_MAIN();
