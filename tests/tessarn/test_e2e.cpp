// The built tessarn.sep in the test host engine: the envelope and the sleep
// protocol as a host sees them, through the binary boundary only.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../../se_sdk2/SEFloatGuard.h"
#include "SepHost.h"

namespace {

// Pin indexes as declared by the module.
constexpr int32_t kGate = 0, kAttack = 1, kHold = 2, kDecay = 3, kSustain = 4, kRelease = 5, kAttackForm = 7,
                  kFullAttack = 10, kLfoAmt = 12, kLfoFreq = 13, kLfoAlign = 15, kSignalOut = 16, kDbMode = 17;

using Samples = std::vector<float>;

struct Patch {
    explicit Patch(sephost::EngineOptions options) : engine(options) {
        std::string error;
        library = sephost::Library::Load(TESSARN_SEP_PATH, &error);
        EXPECT_NE(library, nullptr) << error;
        if (library != nullptr) {
            EXPECT_EQ(engine.Place(*library, 1, &error), 0) << error;
        }
    }
    void Open() {
        std::string error;
        ASSERT_TRUE(engine.Open(&error)) << error;
    }
    void Run(uint32_t samples) {
        std::string error;
        ASSERT_TRUE(engine.Run(samples, &error)) << error;
        EXPECT_TRUE(engine.Breaches().empty()) << engine.Breaches().front();
    }
    std::vector<sephost::CallbackRecord> Calls(int32_t opcode) const {
        std::vector<sephost::CallbackRecord> out;
        for (const auto& c : engine.Callbacks())
            if (c.opcode == opcode) out.push_back(c);
        return out;
    }
    Samples Out(size_t from, size_t n) const {
        const Samples& out = engine.Output(0, kSignalOut);
        return Samples(out.begin() + from, out.begin() + from + n);
    }
    std::unique_ptr<sephost::Library> library;
    sephost::Engine engine;
};

sephost::EngineOptions Options(float sample_rate, int32_t block_size, bool announce) {
    sephost::EngineOptions options;
    options.sample_rate = sample_rate;
    options.block_size = block_size;
    options.announce_initial_status = announce;
    options.record_callbacks = true;
    return options;
}

// Rate 8 with exact steps, linear law, "FullAttack" off.
void SetWorkedExample(sephost::Engine& engine) {
    engine.SetInput(0, kAttack, 2.0f);
    engine.SetInput(0, kHold, 4.0f);
    engine.SetInput(0, kDecay, 2.0f);
    engine.SetInput(0, kSustain, 0.5f);
    engine.SetInput(0, kRelease, 2.0f);
    engine.SetInputInt(0, kFullAttack, 0);
    engine.SetInputInt(0, kDbMode, 0);
}

TEST(EndToEnd, WorkedExampleThroughTheHost) {
    Patch patch(Options(8.0f, 64, true));
    SetWorkedExample(patch.engine);
    patch.engine.SetInput(0, kGate, 1.0f);
    patch.engine.SetInput(0, kGate, 0.0f, 12);
    patch.Open();
    patch.Run(20);
    EXPECT_EQ(patch.Out(0, 20), (Samples{0.25f, 0.5f, 0.75f,  1.0f,  1.0f,   0.875f, 0.75f, 0.625f, 0.5f, 0.5f,
                                         0.5f,  0.5f, 0.375f, 0.25f, 0.125f, 0.0f,   0,     0,      0,    0}));
    // The declared default "1" of "dbmode" is the exponential law.
    Patch law(Options(8.0f, 64, true));
    SetWorkedExample(law.engine);
    law.engine.SetInputInt(0, kDbMode, 1);
    law.Open();
    law.Run(12);
    EXPECT_EQ(law.Out(8, 4), Samples(4, 0.125f));  // sustain 0.5 -> 0.125
}

TEST(EndToEnd, IdleArmsSilentlyThenSleepsAfterOneBlock) {
    Patch patch(Options(44100.0f, 16, false));
    patch.engine.SetInput(0, kGate, 0.0f);
    patch.Open();
    patch.engine.ClearCallbacks();
    patch.Run(16);
    EXPECT_TRUE(patch.Calls(SE_CB_PIN_STATUS).empty());
    EXPECT_EQ(patch.Calls(SE_CB_PROCESS_CHANGED).size(), 1u);  // the count-down
    EXPECT_TRUE(patch.Calls(SE_CB_SLEEP).empty());
    patch.Run(16);
    ASSERT_EQ(patch.Calls(SE_CB_SLEEP).size(), 1u);
    EXPECT_EQ(patch.Calls(SE_CB_SLEEP)[0].clock, 16u);
    EXPECT_TRUE(patch.engine.Sleeping(0));
    patch.Run(64);
    EXPECT_EQ(patch.engine.ProcessCalls(0).size(), 2u);
    EXPECT_TRUE(patch.Calls(SE_CB_PIN_STATUS).empty());
}

TEST(EndToEnd, LfoAlignDecidesWhetherIdleSleeps) {
    for (int32_t align = 1; align <= 4; ++align) {
        Patch patch(Options(44100.0f, 16, true));
        patch.engine.SetInput(0, kGate, 0.0f);
        patch.engine.SetInput(0, kLfoAmt, 0.5f);
        patch.engine.SetInputInt(0, kLfoAlign, align);
        patch.Open();
        patch.Run(128);
        EXPECT_EQ(patch.engine.Sleeping(0), align != 1) << "align " << align;
    }
}

TEST(EndToEnd, StreamingSustainKeepsTheSustainAwake) {
    for (bool streaming : {false, true}) {
        Patch patch(Options(8.0f, 16, true));
        SetWorkedExample(patch.engine);
        if (streaming) {
            patch.engine.StreamInput(0, kSustain, {0.5f});
        } else {
            patch.engine.SetInput(0, kSustain, 0.5f);
        }
        patch.Open();
        patch.Run(64);
        EXPECT_EQ(patch.engine.Sleeping(0), !streaming) << "streaming " << streaming;
        EXPECT_EQ(patch.Out(9, 3), Samples(3, 0.5f));
    }
}

TEST(EndToEnd, WakeWhileArmedReinstallsNormalAndReportsStreaming) {
    Patch patch(Options(8.0f, 16, false));
    SetWorkedExample(patch.engine);
    patch.engine.SetInput(0, kGate, 0.0f);
    patch.engine.SetInput(0, kGate, 1.0f, 40);
    patch.Open();
    patch.Run(32);
    ASSERT_TRUE(patch.engine.Sleeping(0));
    patch.engine.ClearCallbacks();
    patch.Run(16);
    EXPECT_FALSE(patch.engine.Sleeping(0));
    const auto status = patch.Calls(SE_CB_PIN_STATUS);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status[0].index, kSignalOut);
    EXPECT_EQ(status[0].value, ST_STREAMING);
    EXPECT_EQ(status[0].ptr, 40u);
    ASSERT_FALSE(patch.Calls(SE_CB_PROCESS_CHANGED).empty());
    EXPECT_EQ(patch.Calls(SE_CB_PROCESS_CHANGED)[0].clock, 40u);
    EXPECT_EQ(patch.engine.ProcessCalls(0).back().clock, 40u);
    EXPECT_EQ(patch.Out(40, 4), (Samples{0.25f, 0.5f, 0.75f, 1.0f}));
}

TEST(EndToEnd, ResumeDuringDecayAndSustain) {
    Patch decay(Options(8.0f, 64, true));
    SetWorkedExample(decay.engine);
    decay.Open();
    decay.Run(6);  // first decay sample written
    decay.engine.Dispatch(0, SE_OP_RESUME, 0, 0, nullptr, 0.0f);
    decay.Run(4);
    EXPECT_EQ(decay.Out(6, 4), Samples(4, 0.0f));  // idle, and the held gate makes no edge

    Patch sustain(Options(8.0f, 64, true));
    SetWorkedExample(sustain.engine);
    sustain.Open();
    sustain.Run(12);
    sustain.engine.Dispatch(0, SE_OP_RESUME, 0, 0, nullptr, 0.0f);
    sustain.Run(4);
    EXPECT_EQ(sustain.Out(12, 4), Samples(4, 0.5f));
}

// Settings that once gave NaN, infinity or subnormal samples: every output
// sample is now finite, inside the ceiling and normal (or zero).
TEST(EndToEnd, FarOutSettingsGiveFiniteNormalSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Setting {
        int32_t pin;
        float value;
    };
    struct Case {
        const char* what;
        float sample_rate;
        std::vector<Setting> settings;
        float last_sample;  // what the run settles on
    };
    const Case cases[] = {
        {"Attack NaN", 44100.0f, {{kAttack, nan}}, 1.0f},  // skipped: straight to a hold without end
        {"LfoFreq infinite, LfoAmt 0.5", 44100.0f, {{kLfoFreq, inf}, {kLfoAmt, 0.5f}}, -1.0f},
        {"Sustain 33, Hold and Decay 100",
         44100.0f,
         {{kSustain, 33.0f}, {kHold, 100.0f}, {kDecay, 100.0f}},
         kSEOutputCeiling},
        {"Sustain -36, Hold and Decay 100", 44100.0f, {{kSustain, -36.0f}, {kHold, 100.0f}, {kDecay, 100.0f}}, 0.0f},
        {"AttackForm 4", 44100.0f, {{kAttackForm, 4.0f}, {kAttack, 10.0f}}, 1.0f},
    };
    for (const Case& c : cases) {
        Patch patch(Options(c.sample_rate, 1024, true));
        for (const Setting& s : c.settings) patch.engine.SetInput(0, s.pin, s.value);
        patch.Open();
        patch.Run(44100);
        const Samples& out = patch.engine.Output(0, kSignalOut);
        ASSERT_EQ(out.size(), 44100u) << c.what;
        size_t bad = 0;
        for (size_t j = 0; j < out.size(); ++j) {
            const float x = out[j];
            const bool ok = std::isfinite(x) && std::fabs(x) <= kSEOutputCeiling &&
                            (x == 0.0f || std::fabs(x) >= std::numeric_limits<float>::min());
            if (!ok && bad++ == 0) {
                ADD_FAILURE() << c.what << ": sample " << j << " is " << x;
            }
        }
        EXPECT_EQ(bad, 0u) << c.what;
        if (c.last_sample >= 0.0f) {
            EXPECT_EQ(out.back(), c.last_sample) << c.what;
        }
    }
}

}  // namespace
