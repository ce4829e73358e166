// The stage machine at the module's own interface: the sample-rate-8 worked
// example (every step exact), the end rule of the curved stages, and the
// transitions that a wrong branch would break.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "EnvelopeMath.h"
#include "Rig.h"

namespace {

using namespace tessarn;
using tessarn_test::Rig;
using Samples = std::vector<float>;

// Rate 8, so every phase step of the worked example is exact.
struct Stages : ::testing::Test {
    Stages() {
        rig.Set(PIN_ATTACK, 2.0f);
        rig.Set(PIN_HOLD, 4.0f);
        rig.Set(PIN_DECAY, 2.0f);
        rig.Set(PIN_SUSTAIN, 0.5f);
        rig.Set(PIN_RELEASE, 2.0f);
    }
    Rig rig;
    Module& m = rig.module;
};

TEST_F(Stages, WorkedExample) {
    rig.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(rig.Run(12), (Samples{0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(m.m_envelope.stage, STAGE_SUSTAIN);
    EXPECT_EQ(m.m_envelope.stage_phase, 1.0f);
    EXPECT_EQ(m.m_envelope.release_level, 0.5f);
    EXPECT_TRUE(m.m_envelope.gate_held);

    rig.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(rig.Run(8), (Samples{0.375f, 0.25f, 0.125f, 0.0f, 0, 0, 0, 0}));
    EXPECT_EQ(m.m_envelope.stage, STAGE_IDLE);
    EXPECT_EQ(m.m_envelope.stage_phase, 0.0f);
    EXPECT_EQ(m.m_envelope.release_level, 0.5f);
    EXPECT_FALSE(m.m_envelope.gate_held);
}

TEST_F(Stages, CurvedStageEndsAfterLastValueNotAboveOne) {
    // Attack form 0.5 (k = 5): the attack's values follow the curve; the
    // hold takes over on the first sample whose curve value passed 1.
    rig.Set(PIN_ATTACK_FORM, 0.5f);
    rig.Set(PIN_HOLD, 0.0f);
    rig.Set(PIN_GATE, 1.0f);
    Samples out = rig.Run(6);
    EXPECT_EQ(out, (Samples{float(ShapeCurve(0.25f, 5.0f)), float(ShapeCurve(0.5f, 5.0f)),
                            float(ShapeCurve(0.75f, 5.0f)), 1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(m.m_envelope.stage, STAGE_HOLD);

    // Decay and release read their own form pins (k = -5 and k = 10).
    Rig formed;
    formed.Set(PIN_ATTACK, 2.0f);
    formed.Set(PIN_HOLD, 4.0f);
    formed.Set(PIN_DECAY, 2.0f);
    formed.Set(PIN_SUSTAIN, 0.5f);
    formed.Set(PIN_RELEASE, 2.0f);
    formed.Set(PIN_DECAY_FORM, -0.5f);
    formed.Set(PIN_RELEASE_FORM, 1.0f);
    formed.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(formed.Run(10),
              (Samples{0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 0.845703125f, 0.7109375f, 0.595703125f, 0.5f, 0.5f}));
    formed.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(formed.Run(5), (Samples{0.46484375f, 0.453125f, 0.39453125f, 0.0f, 0.0f}));

    // A step past 1 on the stage's first sample: the decay writes nothing
    // and the sustain level is already on that sample.
    Rig fast;
    fast.Set(PIN_ATTACK, 0.0f);
    fast.Set(PIN_HOLD, 8.0f);
    fast.Set(PIN_DECAY, 16.0f);
    fast.Set(PIN_SUSTAIN, 0.25f);
    fast.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(fast.Run(3), (Samples{0.25f, 0.25f, 0.25f}));
    EXPECT_EQ(fast.module.m_envelope.stage, STAGE_SUSTAIN);
}

TEST_F(Stages, ZeroTimes) {
    // "Attack" 0: the first sample is already the hold's 1.0.
    rig.Set(PIN_ATTACK, 0.0f);
    rig.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(rig.Run(3), (Samples{1.0f, 0.875f, 0.75f}));

    // "Decay" 0: the sample where the hold ends is the sustain level.
    Rig decay0;
    decay0.Set(PIN_HOLD, 4.0f);
    decay0.Set(PIN_SUSTAIN, 0.5f);
    decay0.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(decay0.Run(3), (Samples{1.0f, 0.5f, 0.5f}));

    // "Release" 0: the release holds its start level, across calls.
    decay0.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(decay0.Run(4), (Samples{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(decay0.Run(2), (Samples{0.5f, 0.5f}));
    EXPECT_EQ(decay0.module.m_envelope.stage, STAGE_RELEASE);
}

TEST_F(Stages, HoldZeroWithAndWithoutFullAttack) {
    rig.Set(PIN_HOLD, 0.0f);
    rig.Set(PIN_GATE, 1.0f);
    m.m_full_attack = 1;
    EXPECT_EQ(rig.Run(6), (Samples{0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 1.0f}));
    rig.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(rig.Run(3), (Samples{1.0f, 1.0f, 1.0f}));  // the gate-off is ignored
    rig.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(rig.Run(2), (Samples{0.25f, 0.5f}));  // only a gate-on moves it on

    Rig off;
    off.Set(PIN_ATTACK, 0.0f);
    off.Set(PIN_RELEASE, 2.0f);
    off.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(off.Run(3), (Samples{1.0f, 1.0f, 1.0f}));
    off.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(off.Run(3), (Samples{0.75f, 0.5f, 0.25f}));  // release from 1.0
}

TEST_F(Stages, GateFallsDuringAttack) {
    rig.Set(PIN_ATTACK_FORM, 0.5f);
    rig.Set(PIN_GATE, 1.0f);
    rig.Run(2);  // attack phase 0.5
    rig.Set(PIN_GATE, 0.0f);
    const float from = float(ShapeCurve(0.5f, 5.0f));  // 0.421875
    EXPECT_EQ(rig.Run(2), (Samples{0.75f * from, 0.5f * from}));
    EXPECT_EQ(m.m_envelope.release_level, from);

    // With "FullAttack" on the attack and hold run to their end; the hold
    // then sees the gate is no longer held and releases from 1.0.
    Rig full;
    full.module.m_full_attack = 1;
    full.Set(PIN_ATTACK, 4.0f);
    full.Set(PIN_HOLD, 4.0f);
    full.Set(PIN_RELEASE, 4.0f);
    full.Set(PIN_GATE, 1.0f);
    full.Run(1);
    full.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(full.Run(4), (Samples{1.0f, 1.0f, 0.5f, 0.0f}));
}

TEST_F(Stages, RetriggerRestartsAttackAndLfo) {
    rig.Set(PIN_GATE, 1.0f);
    rig.Run(12);
    rig.Set(PIN_GATE, 0.0f);
    rig.Run(2);  // release at 0.25
    m.m_lfo.sine = 0.6;
    m.m_lfo.cosine = 0.8;
    m.m_lfo.applied_offset = 1.5f;
    rig.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(rig.Run(2), (Samples{0.25f, 0.5f}));
    EXPECT_EQ(m.m_lfo.sine, 0.0);
    EXPECT_EQ(m.m_lfo.cosine, 1.0);
    EXPECT_EQ(m.m_lfo.applied_offset, 0.0f);

    // A gate-on during the attack restarts the attack but not the LFO.
    m.m_lfo.sine = 0.6;
    m.m_lfo.cosine = 0.8;
    m.m_full_attack = 1;  // the fall inside the call is ignored
    rig.Stream(PIN_GATE, {1.0f, 0.0f, 1.0f, 1.0f});
    EXPECT_EQ(rig.Run(4), (Samples{0.75f, 1.0f, 0.25f, 0.5f}));
    EXPECT_EQ(m.m_lfo.sine, 0.6);
}

TEST_F(Stages, NoReleaseStaysInSustain) {
    m.m_no_release = 1;
    rig.Set(PIN_GATE, 1.0f);
    rig.Run(12);
    rig.Set(PIN_GATE, 0.0f);
    EXPECT_EQ(rig.Run(3), (Samples{0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(m.m_envelope.stage, STAGE_SUSTAIN);
    rig.Set(PIN_GATE, 1.0f);
    EXPECT_EQ(rig.Run(2), (Samples{0.25f, 0.5f}));
}

TEST_F(Stages, GateStepAtCallStartVersusInsideCall) {
    rig.Set(PIN_GATE, 1.0f);
    rig.Run(12);
    rig.Set(PIN_GATE, std::nanf(""));  // a NaN compares as equal: no edge
    EXPECT_EQ(rig.Run(1), (Samples{0.5f}));
    rig.Set(PIN_GATE, 0.5f);  // both above the threshold, but a change at the call's start
    EXPECT_EQ(rig.Run(2), (Samples{0.375f, 0.25f}));

    Rig inside;
    inside.Set(PIN_ATTACK, 2.0f);
    inside.Set(PIN_HOLD, 4.0f);
    inside.Set(PIN_DECAY, 2.0f);
    inside.Set(PIN_SUSTAIN, 0.5f);
    inside.Set(PIN_RELEASE, 2.0f);
    inside.Set(PIN_GATE, 1.0f);
    inside.Run(12);
    inside.Stream(PIN_GATE, {1.0f, 0.5f, 0.5f});
    EXPECT_EQ(inside.Run(3), (Samples{0.5f, 0.5f, 0.5f}));  // no edge inside the call
    EXPECT_EQ(inside.Run(2), (Samples{0.375f, 0.25f}));     // 0.5 against 1.0 at the next start
}

TEST_F(Stages, StreamingSustainThenGateOff) {
    rig.Set(PIN_GATE, 1.0f);
    rig.Run(5);  // attack and hold done, decay next
    rig.Status(PIN_SUSTAIN, ST_STREAMING);
    rig.Stream(PIN_SUSTAIN, {0.5f, 0.0f, 1.0f});
    // 1 - (1 - S) v with v = 0.25, 0.5, 0.75
    EXPECT_EQ(rig.Run(3), (Samples{0.875f, 0.5f, 1.0f}));
    EXPECT_EQ(m.m_envelope.release_level, 1.0f);
    rig.Set(PIN_GATE, 0.0f);
    rig.Set(PIN_SUSTAIN, 0.2f);
    EXPECT_EQ(rig.Run(2), (Samples{0.75f, 0.5f}));  // from the last decay output
}

}  // namespace
