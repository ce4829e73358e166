#include "Scenarios.h"

#include <cmath>
#include <limits>
#include <utility>

namespace identity {

namespace {

using sephost::Engine;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Pin indexes as each module declares them.
namespace ulvo_pin {
constexpr int32_t kFc = 0, kFm1 = 1, kN = 2, kA = 3, kGate = 4, kDetune = 5, kSync = 6, kWave = 7, kCombFreq = 8,
                  kCombPhase = 9, kFund = 10, kCpMode = 11, kCfMode = 12, kRotate = 13, kPoly = 14, kIncr = 15;
}
namespace tessarn_pin {
constexpr int32_t kGate = 0, kAttack = 1, kHold = 2, kDecay = 3, kSustain = 4, kRelease = 5, kLevel = 6,
                  kAttackForm = 7, kDecayForm = 8, kReleaseForm = 9, kFullAttack = 10, kNoRelease = 11, kLfoAmt = 12,
                  kLfoFreq = 13, kLfoPhase = 14, kLfoAlign = 15, kDbMode = 17;
}

// `count` samples from `from` to `to`, evenly spaced.
std::vector<float> Ramp(float from, float to, int count) {
    std::vector<float> out;
    for (int k = 0; k < count; ++k) out.push_back(from + (to - from) * static_cast<float>(k) / (count - 1));
    return out;
}

// ulvo: 440 Hz, partials at the carrier spacing, a note started at clock 0.
void UlvoTone(Engine& e, int instance, float n, float a) {
    using namespace ulvo_pin;
    e.SetInput(instance, kFc, 0.5f);
    e.SetInput(instance, kFm1, 1.0f);
    e.SetInput(instance, kN, n);
    e.SetInput(instance, kA, a);
    e.SetInput(instance, kGate, 1.0f);
    e.SetInput(instance, kSync, 1.0f);
}

// tessarn: 50 ms attack, 100 ms hold, 200 ms decay to 0.6, 333 ms release,
// gate closed at clock 0.
void Envelope(Engine& e, float attack_form, float decay_form, float release_form, int32_t dbmode) {
    using namespace tessarn_pin;
    e.SetInput(0, kGate, 0.0f);
    e.SetInput(0, kAttack, 20.0f);
    e.SetInput(0, kHold, 10.0f);
    e.SetInput(0, kDecay, 5.0f);
    e.SetInput(0, kSustain, 0.6f);
    e.SetInput(0, kRelease, 3.0f);
    e.SetInput(0, kLevel, 0.9f);
    e.SetInput(0, kAttackForm, attack_form);
    e.SetInput(0, kDecayForm, decay_form);
    e.SetInput(0, kReleaseForm, release_form);
    e.SetInputInt(0, kDbMode, dbmode);
}

void UlvoScenarios(std::vector<Scenario>* out) {
    using namespace ulvo_pin;
    auto add = [out](std::string name, float rate, int32_t block, int voices, uint32_t samples,
                     std::function<void(Engine&)> drive) {
        out->push_back({"ulvo " + name, Plugin::kUlvo, rate, block, voices, samples, false, std::move(drive)});
    };
    // comb modes
    add("comb off", 44100.0f, 1024, 1, 20000, [](Engine& e) {
        UlvoTone(e, 0, 10.0f, 0.5f);
        e.SetInputInt(0, kCpMode, 1);
        e.SetInputInt(0, kCfMode, 1);
        e.SetInput(0, kCombFreq, 0.3f);
        e.SetInput(0, kCombPhase, 1.7f);
    });
    add("comb static", 48000.0f, 333, 1, 20000, [](Engine& e) {
        UlvoTone(e, 0, 10.0f, 0.8f);
        e.SetInputInt(0, kCpMode, 2);
        e.SetInputInt(0, kCfMode, 2);
        e.SetInput(0, kCombFreq, 0.3f);
        e.SetInput(0, kCombPhase, 0.1f);
    });
    add("comb dynamic", 44100.0f, 64, 1, 20000, [](Engine& e) {
        UlvoTone(e, 0, 20.0f, 0.7f);
        e.SetInputInt(0, kCpMode, 3);
        e.SetInputInt(0, kCfMode, 3);
        e.StreamInput(0, kCombFreq, Ramp(0.01f, 0.2f, 20000));
        e.SetInput(0, kCombPhase, -0.2f);
    });
    add("comb wah-wah", 48000.0f, 4096, 1, 30000, [](Engine& e) {
        UlvoTone(e, 0, 30.0f, 0.9f);
        e.SetInputInt(0, kCpMode, 4);
        e.SetInput(0, kCombFreq, 0.4f);
        e.StreamInput(0, kCombPhase, Ramp(0.0f, 3.0f, 30000));
        e.SetInput(0, kFund, 0.3f);
    });
    add("comb wah-wah, cfmode dynamic", 44100.0f, 777, 1, 20000, [](Engine& e) {
        UlvoTone(e, 0, 46.0f, -0.6f);
        e.SetInputInt(0, kCpMode, 4);
        e.SetInputInt(0, kCfMode, 3);
        e.SetInput(0, kCombFreq, 0.15f);
        e.SetInput(0, kFund, -0.5f);
    });
    // partial counts and ratios
    const struct {
        const char* name;
        float n, a;
    } series[] = {
        {"N 1", 1.0f, 0.5f},   {"N 10", 10.0f, 0.5f},   {"N 46", 46.0f, 0.9f},    {"N 1000", 1000.0f, 0.99f},
        {"N 2.5", 2.5f, 0.6f}, {"N 0.3", 0.3f, 0.6f},   {"a -0.7", 12.0f, -0.7f}, {"a 1.3", 12.0f, 1.3f},
        {"a 1", 12.0f, 1.0f},  {"a -1.8", 7.0f, -1.8f},
    };
    int k = 0;
    for (const auto& s : series) {
        const float rate = (k % 2 == 0) ? 44100.0f : 48000.0f;
        const int32_t block = (k % 3 == 0) ? 512 : (k % 3 == 1) ? 100 : 2048;
        add(s.name, rate, block, 1, 12000, [s](Engine& e) {
            UlvoTone(e, 0, s.n, s.a);
            e.SetInputInt(0, kCpMode, 2);
            e.SetInput(0, kCombFreq, 0.12f);
        });
        ++k;
    }
    add("N fractional sweep", 44100.0f, 1000, 1, 16000, [](Engine& e) {
        UlvoTone(e, 0, 1.0f, 0.7f);
        e.StreamInput(0, kN, Ramp(1.0f, 60.0f, 16000));
    });
    // crossfade, detune, pitch
    add("Wave crossfade", 48000.0f, 256, 1, 16000, [](Engine& e) {
        UlvoTone(e, 0, 8.0f, 0.7f);
        e.StreamInput(0, kWave, Ramp(-1.0f, 1.0f, 16000));
    });
    add("Wave 0.5, detune", 44100.0f, 1024, 1, 16000, [](Engine& e) {
        UlvoTone(e, 0, 8.0f, 0.7f);
        e.SetInput(0, kWave, 0.5f);
        e.SetInput(0, kDetune, 3.5f);
        e.SetInput(0, kFm1, 1.5f);
    });
    add("detune sweep", 48000.0f, 64, 1, 12000, [](Engine& e) {
        UlvoTone(e, 0, 5.0f, 0.5f);
        e.StreamInput(0, kDetune, Ramp(-200.0f, 200.0f, 12000));
    });
    add("fc sweep", 44100.0f, 1000, 1, 20000, [](Engine& e) {
        UlvoTone(e, 0, 6.0f, 0.6f);
        e.StreamInput(0, kFc, Ramp(-0.4f, 0.95f, 20000));
    });
    // rotate, sync, gate
    add("rotate and incr", 44100.0f, 500, 1, 16000, [](Engine& e) {
        UlvoTone(e, 0, 6.0f, 0.6f);
        e.SetInput(0, kIncr, 0.25f);
        e.StreamInput(0, kRotate, Ramp(0.0f, 2.0f, 16000));
        for (uint32_t at : {3001u, 6002u, 9003u, 12004u}) e.SetInput(0, kSync, 1.0f, at);
    });
    add("sync and gate inside blocks", 48000.0f, 1000, 1, 16000, [](Engine& e) {
        UlvoTone(e, 0, 6.0f, 0.6f);
        e.SetInput(0, kSync, 0.0f, 100);
        e.SetInput(0, kSync, 1.0f, 123);
        e.SetInput(0, kSync, 1.0f, 1500);
        e.SetInput(0, kSync, 1.0f, 1501);
        e.SetInput(0, kSync, 0.05f, 7777);  // below the threshold: no note
        e.SetInput(0, kGate, 0.0f, 9000);
        e.SetInput(0, kGate, 1.0f, 12000);
        e.SetInput(0, kSync, 1.0f, 12000);
    });
    add("polyphony with stealing", 44100.0f, 256, 4, 24000, [](Engine& e) {
        const float pitches[4] = {0.5f, 0.55f, 0.6f, 0.45f};
        for (int v = 0; v < 4; ++v) {
            UlvoTone(e, v, 6.0f, 0.6f);
            e.SetInput(v, kFc, pitches[v]);
            e.SetInputInt(v, kPoly, 2);
            e.SetInput(v, kIncr, 0.125f);
            e.SetInput(v, kSync, 0.0f);
        }
        e.SetInput(0, kSync, 1.0f, 10);
        e.SetInput(1, kSync, 1.0f, 2000);
        e.SetInput(2, kSync, 1.0f, 4001);  // steals voice 0
        e.SetInput(3, kSync, 1.0f, 6100);  // steals voice 1
        e.SetInput(0, kSync, 1.0f, 9000);  // steals voice 2
        e.SetInput(3, kGate, 0.0f, 15000);
    });
    // hostile values
    add("hostile pitch and series", 44100.0f, 128, 1, 8000, [](Engine& e) {
        UlvoTone(e, 0, 1e9f, kInf);
        e.SetInput(0, kFc, kNaN, 2000);
        e.SetInput(0, kFc, 100.0f, 4000);
        e.SetInput(0, kFc, -100.0f, 6000);
    });
    add("hostile comb and spacing", 48000.0f, 1000, 1, 8000, [](Engine& e) {
        UlvoTone(e, 0, -5.0f, -kInf);
        e.SetInput(0, kFm1, -1e30f);
        e.SetInput(0, kDetune, kNaN, 1000);
        e.SetInput(0, kWave, 1e30f);
        e.SetInputInt(0, kCpMode, 2);
        e.SetInput(0, kCombFreq, kInf);
        e.SetInput(0, kN, 12.0f, 3000);
        e.SetInput(0, kA, 0.5f, 3000);
        e.SetInput(0, kFm1, 1.0f, 5000);
    });
    add("hostile wah-wah and rotation", 44100.0f, 333, 1, 8000, [](Engine& e) {
        UlvoTone(e, 0, 10.0f, 0.5f);
        e.SetInputInt(0, kCpMode, 4);
        e.SetInput(0, kCombFreq, kNaN);
        e.SetInput(0, kFund, kInf);
        e.SetInput(0, kRotate, kNaN);
        e.SetInput(0, kIncr, 1e38f);
        e.SetInput(0, kSync, 1.0f, 4000);
        e.SetInput(0, kCombFreq, 1e20f, 5000);
    });
    add("hostile list values", 48000.0f, 64, 2, 6000, [](Engine& e) {
        for (int v = 0; v < 2; ++v) {
            UlvoTone(e, v, 10.0f, 0.5f);
            e.SetInputInt(v, kCpMode, 9);
            e.SetInputInt(v, kCfMode, 0);
            e.SetInputInt(v, kPoly, v == 0 ? 0 : 40);
        }
        e.SetInput(1, kSync, 1.0f, 3000);
    });
    // block sizes at the ends of the range
    add("block 1", 44100.0f, 1, 1, 3000, [](Engine& e) {
        UlvoTone(e, 0, 10.0f, 0.5f);
        e.SetInputInt(0, kCpMode, 3);
        e.SetInput(0, kCombFreq, 0.1f);
        e.SetInput(0, kSync, 1.0f, 1234);
    });
    add("block 8192", 48000.0f, 8192, 1, 40000, [](Engine& e) {
        UlvoTone(e, 0, 10.0f, 0.5f);
        e.SetInput(0, kSync, 1.0f, 10000);
        e.SetInput(0, kGate, 0.0f, 20000);
        e.SetInput(0, kGate, 1.0f, 30000);
        e.SetInput(0, kSync, 1.0f, 30001);
    });
}

void TessarnScenarios(std::vector<Scenario>* out) {
    using namespace tessarn_pin;
    auto add = [out](std::string name, float rate, int32_t block, uint32_t samples, bool long_run,
                     std::function<void(Engine&)> drive) {
        out->push_back({"tessarn " + name, Plugin::kTessarn, rate, block, 1, samples, long_run, std::move(drive)});
    };
    // stages and curves, both laws
    add("stages, curves, linear law", 44100.0f, 256, 50000, false, [](Engine& e) {
        Envelope(e, 0.5f, -0.3f, 0.8f, 0);
        e.SetInput(0, kGate, 1.0f, 100);
        e.SetInput(0, kGate, 0.0f, 30000);
    });
    add("stages, curves, exponential law", 48000.0f, 1000, 50000, false, [](Engine& e) {
        Envelope(e, -0.9f, 0.9f, -0.5f, 1);
        e.SetInput(0, kGate, 1.0f, 1);
        e.SetInput(0, kGate, 0.0f, 33333);
    });
    add("straight stages, hold until gate", 44100.0f, 4096, 40000, false, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 0);
        e.SetInput(0, kHold, 0.0f);
        e.SetInput(0, kGate, 1.0f, 5);
        e.SetInput(0, kGate, 0.0f, 20000);
        e.SetInput(0, kGate, 1.0f, 30000);
    });
    add("FullAttack on, short gate", 48000.0f, 128, 40000, false, [](Engine& e) {
        Envelope(e, 0.3f, 0.0f, 0.2f, 1);
        e.SetInputInt(0, kFullAttack, 1);
        e.SetInput(0, kAttack, 2.0f);
        e.SetInput(0, kHold, 4.0f);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kGate, 0.0f, 500);
    });
    add("FullAttack off, short gate", 48000.0f, 128, 40000, false, [](Engine& e) {
        Envelope(e, 0.3f, 0.0f, 0.2f, 1);
        e.SetInputInt(0, kFullAttack, 0);
        e.SetInput(0, kAttack, 2.0f);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kGate, 0.0f, 500);
    });
    add("NoRelease", 44100.0f, 600, 40000, false, [](Engine& e) {
        Envelope(e, 0.1f, 0.2f, 0.3f, 0);
        e.SetInputInt(0, kNoRelease, 1);
        e.SetInput(0, kGate, 1.0f, 50);
        e.SetInput(0, kGate, 0.0f, 2000);
        e.SetInput(0, kGate, 1.0f, 25000);
    });
    add("retrigger in every stage", 44100.0f, 512, 60000, false, [](Engine& e) {
        Envelope(e, 0.4f, -0.4f, 0.4f, 1);
        const std::pair<uint32_t, float> gates[] = {{100u, 1.0f},   {900u, 0.0f},   {950u, 1.0f},   {5000u, 0.0f},
                                                    {5003u, 1.0f},  {9000u, 0.0f},  {9100u, 1.0f},  {20000u, 0.0f},
                                                    {21000u, 0.0f}, {21100u, 1.0f}, {40000u, 0.0f}, {41234u, 1.0f}};
        for (const auto& [at, level] : gates) e.SetInput(0, kGate, level, at);
        e.SetInput(0, kSustain, 0.3f, 15000);
    });
    add("sustain streamed", 48000.0f, 300, 30000, false, [](Engine& e) {
        Envelope(e, 0.0f, 0.5f, 0.0f, 0);
        e.SetInput(0, kGate, 1.0f, 1);
        e.StreamInput(0, kSustain, Ramp(0.9f, 0.1f, 25000), 2000);
        e.SetInput(0, kGate, 0.0f, 28000);
    });
    // the LFO over long runs: every moving align mode at several rates
    const float lfo_rates[] = {0.37f, 6.72f, 1234.5f};
    const int32_t blocks[] = {64, 512, 4096, 8192, 1000, 333};
    int k = 0;
    for (int32_t align = 1; align <= 4; ++align) {
        for (float hz : lfo_rates) {
            const float rate = (k % 2 == 0) ? 44100.0f : 48000.0f;
            const int32_t block = blocks[k % 6];
            const float amount = (k % 3 == 2) ? 1.0f : 0.5f;
            const int32_t dbmode = k % 2;
            add("LFO align " + std::to_string(align) + " at " + std::to_string(hz) + " Hz", rate, block,
                (1u << 20) + 17, true, [align, hz, amount, dbmode](Engine& e) {
                    Envelope(e, 0.2f, -0.2f, 0.2f, dbmode);
                    e.SetInput(0, kLfoAmt, amount);
                    e.SetInput(0, kLfoFreq, hz);
                    e.SetInput(0, kLfoPhase, 0.0f);
                    e.SetInputInt(0, kLfoAlign, static_cast<int32_t>(align));
                    e.SetInput(0, kGate, 1.0f, 1000);
                    e.SetInput(0, kLfoPhase, 0.25f, 1u << 19);  // turns the running LFO
                    e.SetInput(0, kGate, 0.0f, 600000);
                    e.SetInput(0, kGate, 1.0f, 800001);  // restarts the LFO
                    e.SetInput(0, kLfoPhase, 0.6f, 900000);
                });
            ++k;
        }
    }
    // Rate and offset read once per call: a new angle for sine and cosine in
    // every call, thousands of arguments over a run.
    add("LFO rate sweep", 44100.0f, 64, 1u << 20, true, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 0);
        e.SetInput(0, kLfoAmt, 0.5f);
        e.StreamInput(0, kLfoFreq, Ramp(0.05f, 2000.0f, 1 << 20));
        e.SetInputInt(0, kLfoAlign, 1);
        e.SetInput(0, kGate, 1.0f, 10);
    });
    add("LFO phase sweep", 48000.0f, 100, 1u << 20, true, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 1);
        e.SetInput(0, kLfoAmt, 0.7f);
        e.SetInput(0, kLfoFreq, 6.72f);
        e.StreamInput(0, kLfoPhase, Ramp(0.0f, 40.0f, 1 << 20));
        e.SetInputInt(0, kLfoAlign, 3);
        e.SetInput(0, kGate, 1.0f, 10);
    });
    add("LFO off with an amount", 44100.0f, 1024, 1u << 20, true, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 1);
        e.SetInput(0, kLfoAmt, 0.7f);
        e.SetInputInt(0, kLfoAlign, 0);
        e.SetInput(0, kGate, 1.0f, 10);
    });
    add("LFO amount 0 then on", 48000.0f, 700, 30000, false, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 0);
        e.SetInput(0, kLfoAmt, 0.0f);
        e.SetInput(0, kLfoFreq, 3.3f);
        e.SetInputInt(0, kLfoAlign, 3);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kLfoAmt, 0.8f, 10000);
        e.SetInput(0, kLfoAmt, 0.0f, 15000);
        e.SetInput(0, kLfoAmt, 0.4f, 20000);
    });
    add("LFO block 1", 44100.0f, 1, 5000, false, [](Engine& e) {
        Envelope(e, 0.3f, 0.3f, 0.3f, 1);
        e.SetInput(0, kLfoAmt, 0.5f);
        e.SetInput(0, kLfoFreq, 6.72f);
        e.SetInputInt(0, kLfoAlign, 1);
        e.SetInput(0, kGate, 1.0f, 3);
        e.SetInput(0, kGate, 0.0f, 3000);
    });
    // hostile values
    add("hostile LFO rates", 44100.0f, 1000, 40000, false, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 0);
        e.SetInput(0, kLfoAmt, 0.5f);
        e.SetInput(0, kLfoFreq, 1e30f);
        e.SetInputInt(0, kLfoAlign, 1);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kLfoFreq, kNaN, 10000);
        e.SetInput(0, kLfoFreq, 6.72f, 15000);
        e.SetInput(0, kLfoFreq, -kInf, 20000);
        e.SetInput(0, kLfoFreq, 3e38f, 25000);
        e.SetInput(0, kLfoFreq, 1e-30f, 30000);
    });
    add("hostile LFO phase and amount", 48000.0f, 512, 30000, false, [](Engine& e) {
        Envelope(e, 0.0f, 0.0f, 0.0f, 1);
        e.SetInput(0, kLfoAmt, kInf);
        e.SetInput(0, kLfoFreq, 2.0f);
        e.SetInput(0, kLfoPhase, 1e20f);
        e.SetInputInt(0, kLfoAlign, 4);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kLfoAmt, 0.5f, 10000);
        e.SetInput(0, kLfoPhase, kNaN, 15000);
        e.SetInput(0, kLfoPhase, -3e38f, 20000);
        e.SetInputInt(0, kLfoAlign, 7, 25000);
    });
    add("hostile stages and level", 44100.0f, 256, 30000, false, [](Engine& e) {
        Envelope(e, 1e6f, -1e6f, kNaN, 5);
        e.SetInput(0, kAttack, kNaN);
        e.SetInput(0, kSustain, -kInf);
        e.SetInput(0, kLevel, 1e38f);
        e.SetInput(0, kGate, 1.0f, 10);
        e.SetInput(0, kGate, kNaN, 5000);
        e.SetInput(0, kAttack, 1e30f, 10000);
        e.SetInput(0, kGate, 1.0f, 10001);
        e.SetInput(0, kRelease, -5.0f, 15000);
        e.SetInput(0, kGate, 0.0f, 20000);
        e.SetInputInt(0, kDbMode, 1, 25000);
        e.SetInput(0, kSustain, 2.5f, 25000);
    });
}

}  // namespace

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> all;
    UlvoScenarios(&all);
    TessarnScenarios(&all);
    return all;
}

}  // namespace identity
