// The envelope and LFO cores driven directly, with no module and no host:
// plain state, settings and buffers in, samples out.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Envelope.h"
#include "Lfo.h"

namespace {

using namespace tessarn;
using Samples = std::vector<float>;

// Records where the core says the output moves ('M') and rests ('R').
struct MotionLog final : OutputMotion {
    void Moves(int32_t offset) override { log += "M" + std::to_string(offset) + " "; }
    void Rests(int32_t offset) override { log += "R" + std::to_string(offset) + " "; }
    std::string log;
};

// One envelope core with form 0 (straight curves) and power-of-two steps, so
// that every value below is exact: attack over 4 samples, hold 2, decay 4
// down to sustain 0.5, release over 4.
struct EnvelopeCore {
    EnvelopeCore() {
        settings.attack_step = 0.25f;
        settings.hold_step = 0.5f;
        settings.decay_step = 0.25f;
        settings.sustain_level = 0.5f;
        settings.release_step = 0.25f;
    }
    // One call of `count` samples with the gate held at `gate`.
    Samples Run(float gate, int32_t count) {
        const Samples gates(count, gate), sustain(count + 1, settings.sustain_level), forms(count + 1, 0.0f);
        Samples out(count, -7.0f);
        const EnvelopeBuffers buffers = {gates.data(), sustain.data(), forms.data(),
                                         forms.data(), forms.data(),   out.data()};
        RunEnvelope(&state, &lfo, settings, buffers, count, &motion);
        return out;
    }
    EnvelopeState state;
    LfoState lfo;
    EnvelopeSettings settings;
    MotionLog motion;
};

struct GateCall {
    float gate;
    int32_t count;
};

TEST(EnvelopeCoreTest, StagesFromGateCalls) {
    const Samples rise = {0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.5f};
    struct Case {
        const char* name;
        int16_t full_attack;
        int16_t no_release;
        std::vector<GateCall> calls;
        Samples expected;  // the calls' outputs, one after the other
        int32_t final_stage;
    } cases[] = {
        // Attack reaches 1 at its fourth sample, hold, decay, sustain holds.
        {"attack hold decay sustain", 0, 0, {{1.0f, 12}}, rise, STAGE_SUSTAIN},
        // The release falls from the sustain level to 0, then idle writes 0.
        {"release to zero",
         0,
         0,
         {{1.0f, 12}, {0.0f, 6}},
         [&] {
             Samples s = rise;
             for (float v : {0.375f, 0.25f, 0.125f, 0.0f, 0.0f, 0.0f}) s.push_back(v);
             return s;
         }(),
         STAGE_IDLE},
        {"NoRelease keeps the sustain",
         0,
         1,
         {{1.0f, 12}, {0.0f, 4}},
         [&] {
             Samples s = rise;
             s.insert(s.end(), 4, 0.5f);
             return s;
         }(),
         STAGE_SUSTAIN},
        // A fall during the attack: released from the attack's level...
        {"fall in attack",
         0,
         0,
         {{1.0f, 2}, {0.0f, 6}},
         {0.25f, 0.5f, 0.375f, 0.25f, 0.125f, 0.0f, 0.0f, 0.0f},
         STAGE_IDLE},
        // ... or, with FullAttack, the attack and hold run to their end and
        // the hold, the gate no longer held, releases from 1.
        {"FullAttack runs on",
         1,
         0,
         {{1.0f, 2}, {0.0f, 6}},
         {0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 0.75f, 0.5f, 0.25f},
         STAGE_RELEASE},
    };
    for (const Case& c : cases) {
        EnvelopeCore core;
        core.settings.full_attack = c.full_attack;
        core.settings.no_release = c.no_release;
        Samples out;
        for (const GateCall& call : c.calls) {
            const Samples part = core.Run(call.gate, call.count);
            out.insert(out.end(), part.begin(), part.end());
        }
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(core.state.stage, c.final_stage) << c.name;
    }
}

TEST(EnvelopeCoreTest, LinearAttackPeaksInItsTime) {
    // An attack of n samples (step 1 / n) climbs by 1 / n per sample and the
    // endless hold (step 0) takes over at 1.0 once the phase passes 1.
    for (int32_t samples : {4, 10, 64, 441}) {
        EnvelopeCore core;
        core.settings.attack_step = 1.0f / static_cast<float>(samples);
        core.settings.hold_step = 0.0f;
        const Samples out = core.Run(1.0f, samples + 20);
        for (int32_t j = 0; j + 1 < samples; ++j)
            ASSERT_NEAR(out[j], (j + 1.0) / samples, 1e-5) << "attack of " << samples << ", sample " << j;
        EXPECT_NEAR(out[samples - 1], 1.0, 1e-5) << "attack of " << samples;
        for (int32_t j = samples; j < samples + 20; ++j)
            ASSERT_EQ(out[j], 1.0f) << "attack of " << samples << ", sample " << j;
        EXPECT_EQ(core.state.stage, STAGE_HOLD);
    }
}

TEST(EnvelopeCoreTest, OutputMovesAtTheAttackAndRestsAtTheSustain) {
    EnvelopeCore core;
    core.Run(1.0f, 12);
    // The gate-on enters idle with no samples (rest at 0), the attack wakes
    // at 0, the sustain begins at sample 9.
    EXPECT_EQ(core.motion.log, "R0 M0 R9 ");
    // An LFO that moves the sustain keeps it awake.
    EnvelopeCore moving;
    moving.settings.lfo_moves_sustain = true;
    moving.Run(1.0f, 12);
    EXPECT_EQ(moving.motion.log, "R0 M0 ");
}

TEST(LfoCoreTest, PeriodAndPhaseOffset) {
    // Full depth over an idle envelope: 0.5 (1 + sin(offset + omega (j + 1))).
    struct Case {
        int32_t period;  // samples
        float offset;    // radians
    } cases[] = {{16, 0.0f}, {16, 1.5707964f}, {100, 0.0f}, {37, -2.0f}};
    for (const Case& c : cases) {
        const float omega = kTwoPi / static_cast<float>(c.period);
        LfoState lfo;
        int32_t sample = 0;
        // Three periods in calls of 7 samples: phasor and offset carry over.
        while (sample < 3 * c.period) {
            Samples out(7, 0.0f);
            LfoNormalOrBottom(&lfo, omega, 1.0f, c.offset, 1, 7, out.data());
            for (float value : out) {
                ++sample;
                const double expected = 0.5 * (1.0 + std::sin(double(c.offset) + double(omega) * sample));
                ASSERT_NEAR(value, expected, 1e-6)
                    << "period " << c.period << ", offset " << c.offset << ", sample " << sample;
            }
        }
        // The phasor left for the next call stands at the last sample's angle.
        const double angle = double(c.offset) + double(omega) * sample;
        EXPECT_NEAR(lfo.sine, std::sin(angle), 1e-6) << "period " << c.period;
        EXPECT_NEAR(lfo.cosine, std::cos(angle), 1e-6) << "period " << c.period;
    }
}

TEST(LfoCoreTest, GateOnRestartsTheLfoOutsideTheAttack) {
    EnvelopeCore core;
    core.Run(1.0f, 12);  // sustain
    core.lfo = {0.6, 0.8, 1.0f};
    core.Run(0.0f, 1);  // release
    EXPECT_EQ(core.lfo.sine, 0.6);
    core.Run(1.0f, 1);  // gate-on from the release
    EXPECT_EQ(core.lfo.sine, 0.0);
    EXPECT_EQ(core.lfo.cosine, 1.0);
    EXPECT_EQ(core.lfo.applied_offset, 0.0f);
    // With FullAttack the fall leaves the attack running, and the next
    // gate-on, inside the attack, restarts it but not the LFO.
    core.settings.full_attack = 1;
    core.lfo = {0.6, 0.8, 1.0f};
    core.Run(0.0f, 1);
    EXPECT_EQ(core.state.stage, STAGE_ATTACK);
    core.Run(1.0f, 1);
    EXPECT_EQ(core.lfo.sine, 0.6);
}

}  // namespace
