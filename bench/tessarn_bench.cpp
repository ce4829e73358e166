// Cost of the envelope per block: an idle envelope should cost next to
// nothing, a curved stage one power of two per sample, the LFO one rotation.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "../tests/support/MockHost.h"
#include "Module.h"

namespace {

using namespace tessarn;

constexpr int32_t kBlock = 256;

// The scripted host answers the pin and clock requests; the clock stays put,
// so every call reads the first sample of its buffers.
struct Envelope {
    Envelope() {
        host.pin_count = PIN_COUNT;
        module.SetSampleRate(44100.0f);
        module.SetBlockSize(kBlock);
        module.Open();
        float** bound[] = {&module.m_gate,       &module.m_attack,       &module.m_hold,    &module.m_decay,
                           &module.m_sustain,    &module.m_release,      &module.m_level,   &module.m_attack_form,
                           &module.m_decay_form, &module.m_release_form, &module.m_lfo_amt, &module.m_lfo_freq,
                           &module.m_lfo_phase,  &module.m_signal_out};
        const int32_t pins[] = {PIN_GATE,    PIN_ATTACK,   PIN_HOLD,        PIN_DECAY,      PIN_SUSTAIN,
                                PIN_RELEASE, PIN_LEVEL,    PIN_ATTACK_FORM, PIN_DECAY_FORM, PIN_RELEASE_FORM,
                                PIN_LFO_AMT, PIN_LFO_FREQ, PIN_LFO_PHASE,   PIN_SIGNAL_OUT};
        for (int k = 0; k < 14; ++k) {
            buffers[pins[k]].assign(kBlock, 0.0f);
            *bound[k] = buffers[pins[k]].data();
        }
        Fill(PIN_LEVEL, 1.0f);
        module.m_dbmode = 1;
        module.m_lfo_align = 1;
    }
    void Fill(int32_t pin, float value) { buffers[pin].assign(kBlock, value); }
    void Bind() {
        // assign() may have moved a buffer.
        module.m_gate = buffers[PIN_GATE].data();
        module.m_attack = buffers[PIN_ATTACK].data();
        module.m_sustain = buffers[PIN_SUSTAIN].data();
        module.m_level = buffers[PIN_LEVEL].data();
        module.m_attack_form = buffers[PIN_ATTACK_FORM].data();
        module.m_lfo_amt = buffers[PIN_LFO_AMT].data();
        module.m_lfo_freq = buffers[PIN_LFO_FREQ].data();
    }
    void Process() {
        HostRecord* record = module.GetHostRecord();
        record->process_function(record->object, 0, kBlock);
    }
    MockHost host;
    Module module{MockHost::Callback(), nullptr};
    std::array<std::vector<float>, PIN_COUNT> buffers;
};

void BM_Idle(benchmark::State& state) {
    Envelope envelope;
    envelope.Bind();
    for (auto _ : state) {
        envelope.Process();
        envelope.host.calls.clear();
        benchmark::DoNotOptimize(envelope.buffers[PIN_SIGNAL_OUT].data());
    }
}
BENCHMARK(BM_Idle);

// A very slow curved attack: every sample of every block is attack.
void BM_CurvedAttack(benchmark::State& state) {
    Envelope envelope;
    envelope.Fill(PIN_GATE, 1.0f);
    envelope.Fill(PIN_ATTACK, 1.0e-4f);
    envelope.Fill(PIN_ATTACK_FORM, 0.4f);
    envelope.Bind();
    for (auto _ : state) {
        envelope.Process();
        envelope.host.calls.clear();
        benchmark::DoNotOptimize(envelope.buffers[PIN_SIGNAL_OUT].data());
    }
}
BENCHMARK(BM_CurvedAttack);

// Sustain modulated by the LFO (kept awake by the amount).
void BM_SustainWithLfo(benchmark::State& state) {
    Envelope envelope;
    envelope.Fill(PIN_GATE, 1.0f);
    envelope.Fill(PIN_SUSTAIN, 0.6f);
    envelope.Fill(PIN_LFO_AMT, 0.5f);
    envelope.Fill(PIN_LFO_FREQ, 5.0f);
    envelope.module.m_lfo_align = 3;
    envelope.Bind();
    for (auto _ : state) {
        envelope.Process();
        envelope.host.calls.clear();
        benchmark::DoNotOptimize(envelope.buffers[PIN_SIGNAL_OUT].data());
    }
}
BENCHMARK(BM_SustainWithLfo);

}  // namespace

BENCHMARK_MAIN();
