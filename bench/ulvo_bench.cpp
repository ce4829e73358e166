// What one ulvo voice costs per sample, through the record's process
// function as the host calls it: against the number of partials, with the
// band limit active (harmonic spacing) and not (a small spacing), in every
// comb mode and with both kernel variants; the two kernels alone; the same
// sound summed term by term; and powers that run through subnormal numbers.
// With SEP_BASELINE_PLUGINS set (scripts/bench.sh does it), the plug-in
// built from the code before the two-sample synthesis runs the same cases.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Kernels.h"
#include "Module.h"
#include "PluginRig.h"
#include "TermByTerm.h"

namespace {

constexpr int32_t kBlock = 1024;
constexpr float kSampleRate = 44100.0f;

struct Tone {
    float fc, fm1, a, combfreq, combphase, wave, fund;
};
// 440 Hz, partials at its multiples: at most 46 fit below 21 kHz.
constexpr Tone kHarmonic = {0.5f, 1.0f, 0.9f, 0.2f, 0.1f, 0.3f, 1.0f};
// 110 Hz with partials 0.11 Hz apart: 100000 of them stay below 21 kHz.
constexpr Tone kSmallSpacing = {0.3f, 0.001f, 0.999f, 0.2f, 0.1f, 0.3f, 1.0f};

struct Case {
    Tone tone;
    float partials;
    int16_t cpmode;
    int16_t cfmode;
    bool vector_kernel;
};

std::unique_ptr<benchrig::PluginRig> MakeVoice(const sephost::Library& library, const Case& c) {
    auto rig = std::make_unique<benchrig::PluginRig>(library, 1, kSampleRate, kBlock);
    rig->Set(0, ulvo::PIN_FC, c.tone.fc);
    rig->Set(0, ulvo::PIN_FM1, c.tone.fm1);
    rig->Set(0, ulvo::PIN_N, c.partials);
    rig->Set(0, ulvo::PIN_A, c.tone.a);
    rig->Set(0, ulvo::PIN_GATE, 1.0f);
    rig->Set(0, ulvo::PIN_COMBFREQ, c.tone.combfreq);
    rig->Set(0, ulvo::PIN_COMBPHASE, c.tone.combphase);
    rig->Set(0, ulvo::PIN_WAVE, c.tone.wave);
    rig->Set(0, ulvo::PIN_FUND, c.tone.fund);
    rig->SetInt(0, ulvo::PIN_CPMODE, c.cpmode);
    rig->SetInt(0, ulvo::PIN_CFMODE, c.cfmode);
    rig->SetInt(0, ulvo::PIN_POLY, 8);
    // The variant follows the processor; the module's field picks it.
    reinterpret_cast<ulvo::Module*>(rig->Object(0))->m_has_sse = c.vector_kernel;
    rig->Start();
    return rig;
}

void RegisterVoice(const std::string& name, std::shared_ptr<sephost::Library> library, const Case& c) {
    benchmark::RegisterBenchmark(name.c_str(), [library, c](benchmark::State& state) {
        std::unique_ptr<benchrig::PluginRig> rig = MakeVoice(*library, c);
        rig->Time(state);
    });
}

void RegisterVoices(const std::string& build, std::shared_ptr<sephost::Library> library, bool all_counts) {
    const std::vector<float> counts =
        all_counts ? std::vector<float>{0, 1, 10, 46, 1000, 100000} : std::vector<float>{46, 1000};
    for (float partials : counts) {
        for (int spacing = 0; spacing < 2; ++spacing) {
            for (int16_t cpmode = 1; cpmode <= 4; ++cpmode) {
                for (bool vector_kernel : {true, false}) {
                    const Case c = {spacing == 0 ? kHarmonic : kSmallSpacing, partials, cpmode, 3, vector_kernel};
                    const std::string name = "ulvo/" + build + "/N" + std::to_string(static_cast<int>(partials)) +
                                             (spacing == 0 ? "/harmonic" : "/small") + "/cp" + std::to_string(cpmode) +
                                             (vector_kernel ? "/vector" : "/scalar");
                    RegisterVoice(name, library, c);
                }
            }
        }
    }
}

// Powers of a ratio of 0.5 reach 2^-1024 at the eleventh squaring, a
// subnormal number; a ratio of 0.9995 keeps them normal. Same count, same mode.
void RegisterSubnormal(const std::string& build, std::shared_ptr<sephost::Library> library) {
    for (float ratio : {0.9995f, 0.5f}) {
        Tone tone = kSmallSpacing;
        tone.a = ratio;
        const Case c = {tone, 1500.0f, 3, 3, true};
        RegisterVoice("ulvo/" + build + (ratio < 0.9f ? "/subnormal" : "/normal") + "/a" +
                          std::to_string(ratio).substr(0, 6) + "/N1500/cp3/vector",
                      library, c);
    }
}

// The same sound, cpmode and cfmode "off", summed partial by partial.
termbyterm::Settings TermByTermSettings(const Tone& tone, int32_t partials) {
    const double base = 440.0 * std::exp2(10.0 * static_cast<double>(tone.fc) - 5.0);
    const double two_over_sr = 2.0 / kSampleRate;
    return {
        base * two_over_sr, base * tone.fm1 * two_over_sr, partials, tone.a, tone.combfreq, tone.combphase, tone.fund,
        tone.wave};
}

void BM_TermByTerm(benchmark::State& state) {
    const termbyterm::Settings settings = TermByTermSettings(kSmallSpacing, static_cast<int32_t>(state.range(0)));
    termbyterm::Voice voice;
    std::vector<float> left(kBlock), right(kBlock);
    for (auto _ : state) {
        termbyterm::RenderBlock(settings, &voice, left.data(), right.data(), kBlock);
        benchmark::ClobberMemory();
    }
    benchrig::CountSamples(state, kBlock);
}
BENCHMARK(BM_TermByTerm)->Name("termbyterm/N")->Arg(10)->Arg(46)->Arg(1000);

// The reference must sound like the module, or its timing says nothing.
bool TermByTermMatches(const sephost::Library& library) {
    bool ok = true;
    for (int32_t partials : {10, 46, 1000}) {
        const Case c = {kSmallSpacing, static_cast<float>(partials), 1, 1, true};
        std::unique_ptr<benchrig::PluginRig> rig = MakeVoice(library, c);  // renders the first block
        const std::vector<float>& module_left = rig->Buffer(0, ulvo::PIN_OUTPUTL);
        const std::vector<float>& module_right = rig->Buffer(0, ulvo::PIN_OUTPUTR);
        termbyterm::Voice voice;
        std::vector<float> left(kBlock), right(kBlock);
        termbyterm::RenderBlock(TermByTermSettings(kSmallSpacing, partials), &voice, left.data(), right.data(), kBlock);
        double worst = 0.0;
        for (int32_t i = 0; i < kBlock; ++i) {
            worst = std::fmax(worst, std::fabs(left[i] - module_left[i]));
            worst = std::fmax(worst, std::fabs(right[i] - module_right[i]));
        }
        if (!(worst < 1.0e-3)) {
            std::fprintf(stderr, "term-by-term reference differs from ulvo by %g at N = %d\n", worst, partials);
            ok = false;
        }
    }
    return ok;
}

// The kernels alone, on phases that change every call.
void BM_SinCosPi4(benchmark::State& state) {
    const bool vector_kernel = state.range(0) != 0;
    double phases[ulvo::kKernelLanes] = {-0.9, -0.3, 0.2, 0.7};
    double sines[ulvo::kKernelLanes], cosines[ulvo::kKernelLanes];
    for (auto _ : state) {
        ulvo::SinCosPi4(vector_kernel, phases, sines, cosines);
        benchmark::DoNotOptimize(sines);
        benchmark::DoNotOptimize(cosines);
        for (double& phase : phases) phase = phase > 0.99 ? -0.99 : phase + 0.001;
    }
}
BENCHMARK(BM_SinCosPi4)->Name("kernel/SinCosPi4/vector")->Arg(1);
BENCHMARK(BM_SinCosPi4)->Name("kernel/SinCosPi4/scalar")->Arg(0);

void BM_ComplexPow2(benchmark::State& state) {
    const int32_t exponent = static_cast<int32_t>(state.range(0));
    double z1_re = -0.8, z1_im = 0.3, z2_re = 0.6, z2_im = 0.8;
    double p1_re, p1_im, p2_re, p2_im;
    for (auto _ : state) {
        ulvo::ComplexPow2(exponent, z1_re, z1_im, z2_re, z2_im, &p1_re, &p1_im, &p2_re, &p2_im);
        benchmark::DoNotOptimize(p1_re);
        benchmark::DoNotOptimize(p2_im);
        benchmark::DoNotOptimize(z1_re);
    }
}
BENCHMARK(BM_ComplexPow2)->Name("kernel/ComplexPow2/m")->Arg(11)->Arg(47)->Arg(1001)->Arg(100001);

}  // namespace

int main(int argc, char** argv) {
    auto current = std::shared_ptr<sephost::Library>(benchrig::LoadOrDie(ULVO_SEP_PATH));
    if (!TermByTermMatches(*current)) return 1;
    RegisterVoices("current", current, true);
    RegisterSubnormal("current", current);
    const std::string baseline_dir = benchrig::BaselineDir();
    if (!baseline_dir.empty()) {
        auto baseline = std::shared_ptr<sephost::Library>(benchrig::LoadOrDie(baseline_dir + "/ulvo.sep"));
        RegisterVoices("before", baseline, true);
        RegisterSubnormal("before", baseline);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
