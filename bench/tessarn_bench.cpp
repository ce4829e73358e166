// What one tessarn envelope costs per sample, through the record's process
// function as the host calls it, in each stage, LFO mode and output law, and
// the plain loops it is measured against in the same run. Every case is one
// a host keeps calling (the module has not asked to sleep), and every case
// does the same work at each call: the gate input is a block-long pattern
// that restarts the timed stage at the block's second sample, so no phase
// can freeze however long the run.
// With SEP_BASELINE_PLUGINS set, the plug-in built from the code before the
// reworked loops runs the same cases.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "PluginRig.h"

namespace {

constexpr int32_t kBlock = 1024;
constexpr float kSampleRate = 44100.0f;

// Pin indexes as the module declares them.
constexpr int32_t kGate = 0, kAttack = 1, kHold = 2, kDecay = 3, kSustain = 4, kRelease = 5, kLevel = 6,
                  kAttackForm = 7, kDecayForm = 8, kReleaseForm = 9, kFullAttack = 10, kNoRelease = 11, kLfoAmt = 12,
                  kLfoFreq = 13, kLfoAlign = 15, kDbMode = 17;

// A rate that takes the stage's phase to about 0.93 over one block.
constexpr float kStageRate = 40.0f;

enum class Stage { kAttack, kHold, kDecay, kSustain, kRelease, kIdleStreaming, kIdleLfo };

struct Case {
    Stage stage;
    float form;     // curve form of the timed stage
    int32_t align;  // LfoAlign
    float lfo_amount;
    int32_t law;  // dbmode
};

// Gate low at the block's first sample and high after it: each call starts
// with a falling edge and rises again at sample 1. Or the reverse.
std::vector<float> GatePattern(bool rise_at_one) {
    std::vector<float> gate(kBlock, rise_at_one ? 1.0f : 0.0f);
    gate[0] = rise_at_one ? 0.0f : 1.0f;
    return gate;
}

// A decay needs the gate held since the call's start: 1 at the first sample
// (above the 0.5 the last call ended on, so a gate-on), a dip at the second,
// 0.5 from the third. The stages before the decay pass in no time.
std::vector<float> DecayGatePattern() {
    std::vector<float> gate(kBlock, 0.5f);
    gate[0] = 1.0f;
    gate[1] = 0.0f;
    return gate;
}

void SetUp(benchrig::PluginRig& rig, const Case& c) {
    rig.Set(0, kLevel, 0.9f);
    rig.SetInt(0, kNoRelease, 0);
    rig.SetInt(0, kDbMode, c.law);
    rig.SetInt(0, kFullAttack, 0);
    rig.Set(0, kSustain, 0.6f);
    rig.Set(0, kLfoAmt, c.lfo_amount);
    rig.Set(0, kLfoFreq, 5.0f);
    rig.SetInt(0, kLfoAlign, c.align);
    // Stages not timed pass in one sample. (A curved stage writes to the end
    // of its range even after it ended, so the stages before the timed one
    // are given ranges of one sample, or skipped.)
    rig.Set(0, kAttack, 1.0e6f);
    rig.Set(0, kHold, 1.0e6f);
    rig.Set(0, kDecay, 1.0e6f);
    rig.Set(0, kRelease, 1.0e6f);
    switch (c.stage) {
    case Stage::kAttack:
        rig.Set(0, kAttack, kStageRate);
        rig.Set(0, kAttackForm, c.form);
        rig.Stream(0, kGate, GatePattern(true));
        break;
    case Stage::kHold:
        // An attack of 0 is skipped, so the hold starts at once.
        rig.Set(0, kAttack, 0.0f);
        rig.Set(0, kHold, kStageRate);
        rig.Stream(0, kGate, GatePattern(true));
        break;
    case Stage::kDecay:
        rig.Set(0, kAttack, 0.0f);
        rig.Set(0, kDecay, kStageRate);
        rig.Set(0, kDecayForm, c.form);
        rig.Stream(0, kGate, DecayGatePattern());
        break;
    case Stage::kSustain:
        // A streaming gate keeps the module called; it sustains throughout.
        rig.Set(0, kAttack, 0.0f);
        rig.Set(0, kHold, 1.0e6f);
        rig.Set(0, kDecay, 0.0f);
        rig.Stream(0, kGate, std::vector<float>(kBlock, 1.0f));
        break;
    case Stage::kRelease:
        rig.Set(0, kRelease, kStageRate);
        rig.Set(0, kReleaseForm, c.form);
        rig.Stream(0, kGate, GatePattern(false));
        break;
    case Stage::kIdleStreaming:
        // Gate low, LFO off, but an input streams: a host keeps calling.
        rig.Set(0, kGate, 0.0f);
        rig.Stream(0, kSustain, std::vector<float>(kBlock, 0.6f));
        break;
    case Stage::kIdleLfo:
        rig.Set(0, kGate, 0.0f);
        break;
    }
}

void Register(const std::string& build, std::shared_ptr<sephost::Library> library, const std::string& name,
              const Case& c) {
    benchmark::RegisterBenchmark(("tessarn/" + build + "/" + name).c_str(), [library, c](benchmark::State& state) {
        benchrig::PluginRig rig(*library, 1, kSampleRate, kBlock);
        SetUp(rig, c);
        rig.Start();
        rig.Time(state);
    });
}

void RegisterAll(const std::string& build, std::shared_ptr<sephost::Library> library) {
    const char* law_name[] = {"linear", "exponential"};
    for (int32_t law : {0, 1}) {
        const std::string suffix = std::string("/") + law_name[law];
        for (float form : {0.0f, 0.4f, -0.4f}) {
            const std::string f = form == 0.0f ? "/form0" : form > 0.0f ? "/form+0.4" : "/form-0.4";
            Register(build, library, "attack" + f + suffix, {Stage::kAttack, form, 0, 0.0f, law});
            Register(build, library, "decay" + f + suffix, {Stage::kDecay, form, 0, 0.0f, law});
            Register(build, library, "release" + f + suffix, {Stage::kRelease, form, 0, 0.0f, law});
        }
        Register(build, library, "hold" + suffix, {Stage::kHold, 0.0f, 0, 0.0f, law});
        Register(build, library, "sustain" + suffix, {Stage::kSustain, 0.0f, 0, 0.0f, law});
        const char* align_name[] = {"off", "normal", "bottom", "center", "top"};
        for (int32_t align = 0; align <= 4; ++align)
            Register(build, library, std::string("sustain/lfo-") + align_name[align] + suffix,
                     {Stage::kSustain, 0.0f, align, 0.5f, law});
        Register(build, library, "idle/input-streaming" + suffix, {Stage::kIdleStreaming, 0.0f, 0, 0.0f, law});
        Register(build, library, "idle/lfo-normal" + suffix, {Stage::kIdleLfo, 0.0f, 1, 0.5f, law});
    }
}

// Plain loops over a block of floats, the yardsticks of the targets.
void PerSample(benchmark::State& state) { benchrig::CountSamples(state, kBlock); }

void BM_PlainFill(benchmark::State& state) {
    std::vector<float> out(kBlock);
    float value = 0.25f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        for (int32_t i = 0; i < kBlock; ++i) out[i] = value;
        benchmark::ClobberMemory();
    }
    PerSample(state);
}
BENCHMARK(BM_PlainFill)->Name("plain/fill");

void BM_PlainRamp(benchmark::State& state) {
    std::vector<float> out(kBlock);
    float phase = 0.0f;
    for (auto _ : state) {
        float step = 1.0e-3f;
        benchmark::DoNotOptimize(step);
        for (int32_t i = 0; i < kBlock; ++i) {
            phase += step;
            out[i] = phase;
        }
        phase = 0.0f;
        benchmark::ClobberMemory();
    }
    PerSample(state);
}
BENCHMARK(BM_PlainRamp)->Name("plain/linear-ramp");

// y += (target - y) * k per sample, in double, stored as float.
void BM_PlainOnePole(benchmark::State& state) {
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        double y = 0.0, target = 1.0, k = 0.002;
        benchmark::DoNotOptimize(k);
        for (int32_t i = 0; i < kBlock; ++i) {
            y += (target - y) * k;
            out[i] = static_cast<float>(y);
        }
        benchmark::ClobberMemory();
    }
    PerSample(state);
}
BENCHMARK(BM_PlainOnePole)->Name("plain/one-pole-exponential");

}  // namespace

int main(int argc, char** argv) {
    auto current = std::shared_ptr<sephost::Library>(benchrig::LoadOrDie(TESSARN_SEP_PATH));
    RegisterAll("current", current);
    const std::string baseline_dir = benchrig::BaselineDir();
    if (!baseline_dir.empty())
        RegisterAll("before", std::shared_ptr<sephost::Library>(benchrig::LoadOrDie(baseline_dir + "/tessarn.sep")));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
