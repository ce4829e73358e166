// The synthesis core driven directly, with no module and no host: a voice
// state, a block's settings and buffers in, both outputs out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "SynthesisCore.h"

namespace {

using namespace ulvo;
using Samples = std::vector<float>;

constexpr double kSampleRate = 48000.0;
constexpr double kMaxFreqHz = 21000.0;

// The pins of one block, each held at one value, with the comb off.
struct Inputs {
    float fc = 0.5f;  // 440 Hz
    float fm1 = 1.0f;
    float n = 1.0f;
    float a = 0.5f;
    float detune = 0.0f;
    float wave = 1.0f;
    float combfreq = 0.0f;
    float combphase = 0.0f;
    float fund = 0.0f;
    int16_t cpmode = kCombOff;
    int16_t cfmode = 1;
    bool vector_kernel = false;
};

// A voice as a note start leaves it.
VoiceState NoteStart() {
    VoiceState voice;
    voice.gain = 1.0;
    voice.comb_freq_cos = 1.0;
    voice.base_freq = -20.0f;
    voice.last_fc = -20.0f;
    return voice;
}

struct Output {
    Samples left, right;
};

Output Render(const Inputs& in, int32_t count, VoiceState* voice) {
    auto held = [count](float value) { return Samples(count, value); };
    const Samples fc = held(in.fc), fm1 = held(in.fm1), a = held(in.a), gate = held(1.0f), detune = held(in.detune),
                  wave = held(in.wave), combfreq = held(in.combfreq), combphase = held(in.combphase),
                  fund = held(in.fund), rotate = held(0.0f);
    Output out{Samples(count, -7.0f), Samples(count, -7.0f)};
    const BlockBuffers buffers = {fc.data(),     fm1.data(),    a.data(),        gate.data(),
                                  detune.data(), wave.data(),   combfreq.data(), combphase.data(),
                                  fund.data(),   rotate.data(), out.left.data(), out.right.data()};
    const BlockSettings settings = {2.0 / kSampleRate, kMaxFreqHz,      0.0, RoundToCount(in.n), in.cpmode,
                                    in.cfmode,         in.vector_kernel};
    RenderBlock(*voice, settings, buffers, count);
    return out;
}

TEST(UlvoCore, OnePartialIsOneToneAtTheCarrierPlusTheSpacing) {
    // N 1 and fund 0: the output is the one partial w = -a e^(i pi beta)
    // turning the carrier, normalised by 1 + a: a tone at f0 (1 + fm1) Hz of
    // amplitude a / (1 + a), the left output its cosine, the right its sine.
    struct Case {
        float fm1, a;
        bool vector_kernel;
    } cases[] = {{0.5f, 0.5f, false}, {2.0f, 0.25f, true}, {1.0f, 0.8f, false}, {3.0f, 1.5f, true}};
    for (const Case& c : cases) {
        Inputs in;
        in.fm1 = c.fm1;
        in.a = c.a;
        in.vector_kernel = c.vector_kernel;
        VoiceState voice = NoteStart();
        const int32_t count = 300;
        const Output out = Render(in, count, &voice);
        const double hz = 440.0 * (1.0 + c.fm1);
        const double amplitude = c.a / (1.0 + c.a);
        for (int32_t j = 0; j < count; ++j) {
            const double angle = M_PI * hz * (2.0 / kSampleRate) * j;
            ASSERT_NEAR(out.left[j], -amplitude * std::cos(angle), 1e-5)
                << "fm1 " << c.fm1 << ", a " << c.a << ", sample " << j;
            ASSERT_NEAR(out.right[j], -amplitude * std::sin(angle), 1e-5)
                << "fm1 " << c.fm1 << ", a " << c.a << ", sample " << j;
        }
    }
}

TEST(UlvoCore, BandLimitDropsPartialsAboveTheCeiling) {
    // 440 Hz spaced by 440 Hz under a 21000 Hz ceiling: 46 partials fit, so
    // asking for 100 renders exactly what asking for 46 does, and 45 differs
    // (a near 1, so that the top partial shows in the samples).
    auto render = [](float n) {
        Inputs in;
        in.n = n;
        in.a = 0.98f;
        in.fund = 1.0f;
        VoiceState voice = NoteStart();
        return Render(in, 256, &voice).left;
    };
    const Samples limit = render(46.0f);
    EXPECT_EQ(render(100.0f), limit);
    EXPECT_EQ(render(1000.0f), limit);
    EXPECT_NE(render(45.0f), limit);
    // A carrier above the ceiling with no spacing: silence, phases at 0.
    Inputs high;
    high.fc = 1.1f;  // 28160 Hz
    high.fm1 = 0.0f;
    VoiceState voice = NoteStart();
    const Output silent = Render(high, 64, &voice);
    EXPECT_EQ(silent.left, Samples(64, 0.0f));
    EXPECT_EQ(silent.right, Samples(64, 0.0f));
    EXPECT_EQ(voice.carrier_phase, 0.0);
    EXPECT_EQ(voice.modulator_phase, 0.0);
}

TEST(UlvoCore, SeededSettingsGiveBoundedFiniteOutput) {
    // The normalisation keeps the sum at the scale of one partial: whatever
    // the settings, every sample is finite and small.
    std::mt19937 random(1234);
    auto uniform = [&random](double low, double high) {
        return static_cast<float>(std::uniform_real_distribution<double>(low, high)(random));
    };
    for (int trial = 0; trial < 60; ++trial) {
        Inputs in;
        in.fc = uniform(0.0, 1.0);
        in.fm1 = uniform(0.0, 3.0);
        in.detune = uniform(-50.0, 50.0);
        in.n = uniform(-2.0, 300.0);
        in.a = trial % 2 == 0 ? uniform(0.05, 0.95) : uniform(1.05, 3.0);
        in.fund = uniform(0.0, 2.0);
        in.wave = uniform(0.0, 1.0);
        in.combfreq = uniform(-1.0, 1.0);
        in.combphase = uniform(-1.0, 1.0);
        in.cpmode = static_cast<int16_t>(1 + trial % 4);
        in.cfmode = static_cast<int16_t>(1 + (trial / 4) % 3);
        in.vector_kernel = trial % 3 == 0;
        VoiceState voice = NoteStart();
        const Output out = Render(in, 200, &voice);
        for (int32_t j = 0; j < 200; ++j) {
            ASSERT_TRUE(std::isfinite(out.left[j]) && std::isfinite(out.right[j]))
                << "trial " << trial << ", sample " << j;
            ASSERT_LE(std::hypot(out.left[j], out.right[j]), 4.0)
                << "trial " << trial << ", sample " << j << ", fc " << in.fc << " fm1 " << in.fm1 << " N " << in.n
                << " a " << in.a << " fund " << in.fund << " cpmode " << in.cpmode << " cfmode " << in.cfmode;
        }
    }
}

}  // namespace
