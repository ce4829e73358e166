// A 16-voice patch through the test host, the way a musician pays for it:
// 16 ulvo clones (a chord, harmonic partials under the band limit) whose
// "a" follows one tessarn envelope each (LFO in "center mod", so a sustain
// keeps moving). Timed with every voice sounding, and again after the gates
// fell and every instance asked to sleep: the host then skips them all.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Module.h"
#include "PluginRig.h"

namespace {

constexpr int kVoices = 16;
constexpr int32_t kBlock = 1024;
constexpr float kSampleRate = 44100.0f;

// tessarn pins as the module declares them.
constexpr int32_t kEnvGate = 0, kEnvAttack = 1, kEnvHold = 2, kEnvDecay = 3, kEnvSustain = 4, kEnvRelease = 5,
                  kEnvLevel = 6, kEnvFullAttack = 10, kEnvLfoAmt = 12, kEnvLfoFreq = 13, kEnvLfoAlign = 15,
                  kEnvOut = 16, kEnvDbMode = 17;

struct Patch {
    Patch() : engine(Options()) {
        ulvo_library = benchrig::LoadOrDie(ULVO_SEP_PATH);
        tessarn_library = benchrig::LoadOrDie(TESSARN_SEP_PATH);
        std::string error;
        first_osc = engine.Place(*ulvo_library, kVoices, &error);
        // one envelope per voice, each placed on its own (not clones)
        first_env = engine.Place(*tessarn_library, 1, &error);
        for (int v = 1; v < kVoices; ++v) engine.Place(*tessarn_library, 1, &error);
        if (first_osc < 0 || first_env < 0) Fail(error);
        for (int v = 0; v < kVoices; ++v) {
            const int osc = first_osc + v, env = first_env + v;
            engine.SetInput(osc, ulvo::PIN_FC, 0.35f + 0.01f * static_cast<float>(v));
            engine.SetInput(osc, ulvo::PIN_FM1, 1.0f);
            engine.SetInput(osc, ulvo::PIN_N, 100.0f);
            engine.SetInput(osc, ulvo::PIN_GATE, 1.0f);
            engine.SetInput(osc, ulvo::PIN_SYNC, 1.0f);
            engine.SetInput(osc, ulvo::PIN_COMBFREQ, 0.3f);
            engine.SetInput(osc, ulvo::PIN_WAVE, 0.2f);
            engine.SetInput(osc, ulvo::PIN_FUND, 1.0f);
            engine.SetInputInt(osc, ulvo::PIN_CPMODE, 2);
            engine.SetInputInt(osc, ulvo::PIN_CFMODE, 2);
            engine.SetInputInt(osc, ulvo::PIN_POLY, kVoices);
            engine.SetInput(env, kEnvGate, 1.0f);
            engine.SetInput(env, kEnvAttack, 20.0f);
            engine.SetInput(env, kEnvHold, 50.0f);  // a hold of 0 would never end
            engine.SetInputInt(env, kEnvFullAttack, 0);
            engine.SetInput(env, kEnvDecay, 5.0f);
            engine.SetInput(env, kEnvSustain, 0.7f);
            engine.SetInput(env, kEnvRelease, 8.0f);
            engine.SetInput(env, kEnvLevel, 0.95f);
            engine.SetInput(env, kEnvLfoAmt, 0.3f);
            engine.SetInput(env, kEnvLfoFreq, 4.0f + 0.25f * static_cast<float>(v));
            engine.SetInputInt(env, kEnvLfoAlign, 3);
            engine.SetInputInt(env, kEnvDbMode, 0);
            if (!engine.Connect(env, kEnvOut, osc, ulvo::PIN_A, &error)) Fail(error);
        }
        if (!engine.Open(&error)) Fail(error);
        Run(44100);  // into the sustain
    }

    void Run(uint32_t samples) {
        std::string error;
        if (!engine.Run(samples, &error)) Fail(error);
    }

    void Release() {
        for (int v = 0; v < kVoices; ++v) {
            engine.SetInput(first_osc + v, ulvo::PIN_GATE, 0.0f, engine.Clock());
            engine.SetInput(first_env + v, kEnvGate, 0.0f, engine.Clock());
        }
        Run(44100);
    }

    int Sleeping() const {
        int asleep = 0;
        for (int k = 0; k < engine.InstanceCount(); ++k) asleep += engine.Sleeping(k) ? 1 : 0;
        return asleep;
    }

    static sephost::EngineOptions Options() {
        sephost::EngineOptions options;
        options.sample_rate = kSampleRate;
        options.block_size = kBlock;
        options.record_outputs = false;
        return options;
    }
    [[noreturn]] static void Fail(const std::string& error) {
        std::fprintf(stderr, "patch: %s\n", error.c_str());
        std::exit(1);
    }

    std::unique_ptr<sephost::Library> ulvo_library, tessarn_library;
    sephost::Engine engine;
    int first_osc = -1, first_env = -1;
};

void TimePatch(benchmark::State& state, Patch& patch, int expected_asleep) {
    if (patch.Sleeping() != expected_asleep) {
        state.SkipWithError(
            ("asleep: " + std::to_string(patch.Sleeping()) + " instances, expected " + std::to_string(expected_asleep))
                .c_str());
        return;
    }
    for (auto _ : state) patch.Run(kBlock);
    // seconds per sample of the whole patch (16 voices)
    benchrig::CountSamples(state, kBlock);
}

void BM_PatchSounding(benchmark::State& state) {
    Patch patch;
    TimePatch(state, patch, 0);
}
BENCHMARK(BM_PatchSounding)->Name("patch16/sounding");

void BM_PatchAsleep(benchmark::State& state) {
    Patch patch;
    patch.Release();
    TimePatch(state, patch, 2 * kVoices);
}
BENCHMARK(BM_PatchAsleep)->Name("patch16/released-asleep");

}  // namespace

BENCHMARK_MAIN();
