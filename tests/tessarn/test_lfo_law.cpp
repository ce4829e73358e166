// LFO shapes and output laws, against std::sin and hand-worked values.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Lfo.h"
#include "Rig.h"

namespace {

using namespace tessarn;
using tessarn_test::Rig;
using Samples = std::vector<float>;

constexpr double kLfoTolerance = 1e-6;

// An idle envelope (gate 0) with an LFO at full depth.
struct Lfo : ::testing::Test {
    Lfo() {
        rig.Set(PIN_LFO_AMT, 1.0f);
        rig.Set(PIN_LFO_FREQ, 2.0f);  // a quarter of the rate: omega = pi / 2
        rig.Set(PIN_LFO_PHASE, 0.0f);
    }
    Rig rig;
    Module& m = rig.module;
};

TEST_F(Lfo, QuarterRateFromRestart) {
    const Samples out = rig.Run(6);
    const double expected[] = {1, 0.5, 0, 0.5, 1, 0.5};
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(out[j], expected[j], kLfoTolerance) << "sample " << j;
}

TEST_F(Lfo, FollowsTheSineAcrossCalls) {
    Rig fast(48000.0f, 64);
    fast.Set(PIN_LFO_AMT, 1.0f);
    fast.Set(PIN_LFO_FREQ, 440.3f);
    fast.Set(PIN_LFO_PHASE, 0.0f);
    const double omega = kTwoPi * (1.0f / 48000.0f) * 440.3f;
    int sample = 0;
    for (int call = 0; call < 200; ++call) {
        const Samples out = fast.Run(37);
        for (float v : out) {
            ++sample;
            ASSERT_NEAR(v, 0.5 * (1.0 + std::sin(omega * sample)), kLfoTolerance) << "sample " << sample;
        }
    }
}

TEST_F(Lfo, AmountZeroAndOffLeaveBufferAndPhasor) {
    rig.Set(PIN_GATE, 1.0f);
    rig.Set(PIN_ATTACK, 0.0f);  // hold at 1.0
    rig.Run(1);
    for (int16_t align : {int16_t(1), int16_t(0)}) {
        m.m_lfo_align = align;
        rig.Set(PIN_LFO_AMT, align == 0 ? 1.0f : 0.0f);
        m.m_lfo.sine = 0.6;
        m.m_lfo.cosine = 0.8;
        EXPECT_EQ(rig.Run(3), (Samples{1.0f, 1.0f, 1.0f})) << "align " << align;
        EXPECT_EQ(m.m_lfo.sine, 0.6) << "align " << align;
        EXPECT_EQ(m.m_lfo.cosine, 0.8) << "align " << align;
    }
    // A non-zero amount resumes from where the phasor stood.
    m.m_lfo_align = 1;
    rig.Set(PIN_LFO_AMT, 1.0f);
    const double theta = std::atan2(0.6, 0.8);
    const Samples out = rig.Run(2);
    for (int j = 0; j < 2; ++j)
        EXPECT_NEAR(out[j], 0.5 * (1.0 + std::sin(theta + M_PI / 2 * (j + 1))), kLfoTolerance) << "sample " << j;
}

TEST_F(Lfo, PhaseOffsetTurnsThePhasor) {
    rig.Set(PIN_LFO_FREQ, 0.5f);  // omega = pi / 8
    rig.Set(PIN_LFO_PHASE, 0.25f);
    rig.Set(PIN_GATE, 1.0f);
    const double omega = M_PI / 8;
    Samples out = rig.Run(3);
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(out[j], 0.5 * (1.0 + std::sin(M_PI / 2 + omega * (j + 1))), kLfoTolerance) << "sample " << j;
    // 0.25 -> 0.5 while running: a quarter turn more from the next call on.
    rig.Set(PIN_LFO_PHASE, 0.5f);
    out = rig.Run(3);
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(out[j], 0.5 * (1.0 + std::sin(M_PI + omega * (j + 4))), kLfoTolerance) << "sample " << j;
}

TEST(LfoShapes, FormulasAgainstTheSine) {
    const Samples envelope = {0.0f, 0.25f, 0.6f, 1.0f, 1.3f};
    const float omega = 0.3f;
    struct Case {
        LfoShapeFn shape;
        int16_t align;
        double (*expected)(double x, double a, double d);
    } cases[] = {
        {&LfoNormalOrBottom, 1, [](double x, double a, double d) { return (1 - d) * x + 0.5 * d * (1 + a); }},
        {&LfoNormalOrBottom, 2, [](double x, double a, double d) { return x * (1 - d + 0.5 * d * (1 + a)); }},
        {&LfoCenter, 3, [](double x, double a, double d) { return (1 - d) * x + 0.5 * d * (1 + a * x); }},
        {&LfoTop, 4, [](double x, double a, double d) { return (1 - d) * x + d * (1 - 0.5 * x * (1 + a)); }},
    };
    for (const Case& c : cases) {
        for (float depth : {1.0f, 0.5f, 1.5f}) {
            LfoState lfo;
            Samples out = envelope;
            c.shape(&lfo, omega, depth, 0.0f, c.align, int32_t(out.size()), out.data());
            for (size_t j = 0; j < out.size(); ++j) {
                const double a = std::sin(double(omega) * (j + 1));
                EXPECT_NEAR(out[j], c.expected(envelope[j], a, depth), kLfoTolerance)
                    << "align " << c.align << ", depth " << depth << ", x " << envelope[j];
            }
        }
    }
    // Depth 1 in words: bottom is 0 where the envelope is 0, top is 1 there.
    Samples zeros(4, 0.0f);
    LfoState lfo;
    LfoTop(&lfo, omega, 1.0f, 0.0f, 4, 4, zeros.data());
    EXPECT_EQ(zeros, Samples(4, 1.0f));
}

TEST(OutputLaw, ExponentialAndLinear) {
    Samples out = {1.0f, 0.75f, 0.5f, 0.25f, 0.0f};
    ApplyOutputLaw(kDbModeExponential, 1.0f, 5, out.data());
    EXPECT_EQ(out, (Samples{1.0f, 0.375f, 0.125f, 0.03125f, 0.0f}));
    for (int32_t dbmode : {kDbModeLinear, 7, -1}) {
        Samples lin = {1.0f, 0.75f, -0.5f};
        ApplyOutputLaw(dbmode, 2.0f, 3, lin.data());
        EXPECT_EQ(lin, (Samples{2.0f, 1.5f, -1.0f})) << "dbmode " << dbmode;
    }
}

TEST(OutputLaw, ModuleUsesDbmodeAndTheFirstLevelSample) {
    Rig rig;
    rig.Set(PIN_GATE, 1.0f);
    rig.Set(PIN_DECAY, 0.0f);
    rig.Set(PIN_HOLD, 8.0f);
    rig.Set(PIN_SUSTAIN, 0.75f);
    rig.Stream(PIN_LEVEL, {2.0f, 5.0f, 9.0f});
    EXPECT_EQ(rig.Run(3), (Samples{1.5f, 1.5f, 1.5f}));  // linear at the level of the first sample
    rig.module.m_dbmode = 1;
    EXPECT_EQ(rig.Run(2), (Samples{9.0f * 0.375f, 9.0f * 0.375f}));
}

}  // namespace
