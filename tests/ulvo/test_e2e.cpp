// The built ulvo.sep loaded and run by the test host engine, as the host
// application runs it: clones numbered by the shared voice list, a stolen
// voice fading out and going to sleep, gate-off wind-down and wake-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../../host/SepHost.h"
#include "Module.h"
#include "SEFloatGuard.h"

namespace {

using sephost::Engine;
using sephost::EngineOptions;
using sephost::Library;

std::unique_ptr<Library> LoadUlvo() {
    std::string error;
    std::unique_ptr<Library> library = Library::Load(ULVO_SEP_PATH, &error);
    EXPECT_NE(library, nullptr) << ULVO_SEP_PATH << ": " << error;
    return library;
}

// The instance's module object, read only, through the class layout: the
// object lives in the loaded library, whose type information is its own, so
// this is a layout read rather than a checked downcast.
const ulvo::Module* ModuleOf(const Engine& engine, int instance) {
    return reinterpret_cast<const ulvo::Module*>(engine.Object(instance));
}

// A plain tone on every clone: 440 Hz, three partials, gate up.
void Tone(Engine& engine, int first, int clones) {
    for (int k = first; k < first + clones; ++k) {
        engine.SetInput(k, ulvo::PIN_FC, 0.5f);
        engine.SetInput(k, ulvo::PIN_FM1, 1.0f);
        engine.SetInput(k, ulvo::PIN_N, 3.0f);
        engine.SetInput(k, ulvo::PIN_A, 0.5f);
        engine.SetInput(k, ulvo::PIN_GATE, 1.0f);
    }
}

TEST(UlvoEndToEnd, ClonesGetConsecutiveVoiceIndexesWhoeverOpensFirst) {
    const std::unique_ptr<Library> library = LoadUlvo();
    ASSERT_NE(library, nullptr);
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3}, {2, 0, 3, 1}, {3, 2, 1, 0}, {1, 3, 0, 2}};
    for (const std::vector<int>& order : orders) {
        Engine engine;
        std::string error;
        const int first = engine.Place(*library, 4, &error);
        ASSERT_GE(first, 0) << error;
        std::vector<int> instances;
        for (int k : order) instances.push_back(first + k);
        ASSERT_TRUE(engine.Open(&error, instances)) << error;
        const ulvo::UlvoVoiceList* list = ModuleOf(engine, first)->m_voices;
        ASSERT_NE(list, nullptr);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(ModuleOf(engine, first + k)->m_voices, list) << "clone " << k << ", first opened " << order[0];
            EXPECT_EQ(ModuleOf(engine, first + k)->m_voice_index, k) << "clone " << k << ", first opened " << order[0];
        }
        engine.Close();
    }
}

TEST(UlvoEndToEnd, StolenVoiceFadesOutThenSleeps) {
    const std::unique_ptr<Library> library = LoadUlvo();
    ASSERT_NE(library, nullptr);
    EngineOptions options;
    options.block_size = 64;  // the stolen flag is read once per block
    Engine engine(options);
    std::string error;
    const int first = engine.Place(*library, 3, &error);
    ASSERT_GE(first, 0) << error;
    Tone(engine, first, 3);
    for (int k = 0; k < 3; ++k) engine.SetInputInt(first + k, ulvo::PIN_POLY, 2);
    ASSERT_TRUE(engine.Open(&error)) << error;

    // notes on voices 0, 1, 2: the third steals voice 0
    constexpr uint32_t kSteal = 300;
    engine.SetInput(first + 0, ulvo::PIN_SYNC, 1.0f, 100);
    engine.SetInput(first + 1, ulvo::PIN_SYNC, 1.0f, 200);
    engine.SetInput(first + 2, ulvo::PIN_SYNC, 1.0f, kSteal);
    ASSERT_TRUE(engine.Run(6000, &error)) << error;
    EXPECT_TRUE(engine.Breaches().empty()) << engine.Breaches().front();

    const std::vector<float>& stolen = engine.Output(first, ulvo::PIN_OUTPUTL);
    ASSERT_GE(stolen.size(), 6000u);
    int last_sound = -1;
    for (int i = 0; i < 6000; ++i)
        if (stolen[i] != 0.0f) last_sound = i;
    // 1/20 s at 44100 Hz is 2205 samples, from the first block after the steal
    EXPECT_GE(last_sound, static_cast<int>(kSteal) + 2195);
    EXPECT_LE(last_sound, static_cast<int>(kSteal) + 2205 + 64 + 2);

    // the fade is gradual: the peak in a window halfway down is about half
    auto peak = [&stolen](int from, int to) {
        float p = 0.0f;
        for (int i = from; i < to; ++i) p = std::max(p, std::fabs(stolen[i]));
        return p;
    };
    const float before = peak(static_cast<int>(kSteal) - 150, static_cast<int>(kSteal));
    const float halfway = peak(static_cast<int>(kSteal) + 1100, static_cast<int>(kSteal) + 1250);
    EXPECT_GT(before, 0.1f);
    EXPECT_NEAR(halfway / before, 0.5f, 0.1f);

    EXPECT_TRUE(engine.Sleeping(first)) << "the stolen voice asks to sleep once silent";
    EXPECT_FALSE(engine.Sleeping(first + 1));
    EXPECT_FALSE(engine.Sleeping(first + 2));
    const std::vector<float>& kept = engine.Output(first + 1, ulvo::PIN_OUTPUTL);
    EXPECT_NE(*std::max_element(kept.begin() + 5000, kept.begin() + 6000), 0.0f);
}

TEST(UlvoEndToEnd, GateOffWindsDownSleepsAndWakes) {
    const std::unique_ptr<Library> library = LoadUlvo();
    ASSERT_NE(library, nullptr);
    EngineOptions options;
    options.record_callbacks = true;
    Engine engine(options);
    std::string error;
    const int voice = engine.Place(*library, 1, &error);
    ASSERT_GE(voice, 0) << error;
    Tone(engine, voice, 1);
    ASSERT_TRUE(engine.Open(&error)) << error;
    ASSERT_TRUE(engine.Run(2000, &error)) << error;
    EXPECT_EQ(engine.PinStatus(voice, ulvo::PIN_OUTPUTL), ST_STREAMING);
    EXPECT_FALSE(engine.Sleeping(voice));

    constexpr uint32_t kGateOff = 2000;
    engine.ClearCallbacks();
    engine.SetInput(voice, ulvo::PIN_GATE, 0.0f, kGateOff);
    // Status changes of another pin cut the host's calls into pieces of 100
    // samples, so the countdown is seen to that grain; with the gate down
    // they do not wake the module.
    for (uint32_t at = kGateOff + 100; at < kGateOff + 3000; at += 100)
        engine.SendStatus(voice, ulvo::PIN_DETUNE, ST_CHANGED_ONCE, at);
    ASSERT_TRUE(engine.Run(5000, &error)) << error;

    std::vector<int32_t> static_pins;
    uint32_t first_sleep = 0;
    bool slept = false;
    for (const sephost::CallbackRecord& c : engine.Callbacks()) {
        if (c.instance != voice) continue;
        if (c.opcode == SE_CB_PIN_STATUS && c.value == ST_CHANGED_ONCE) {
            static_pins.push_back(c.index);
            EXPECT_EQ(c.ptr, kGateOff) << "stamped with the gate-off clock";
        }
        if (c.opcode == SE_CB_SLEEP && !slept) {
            slept = true;
            first_sleep = c.clock;
        }
    }
    EXPECT_EQ(static_pins, std::vector<int32_t>({ulvo::PIN_OUTPUTL, ulvo::PIN_OUTPUTR}));
    ASSERT_TRUE(slept);
    // The countdown calls after the gate-off call process one block size
    // (1024) of samples, and the call that completes it asks to sleep.
    int32_t counted = 0;
    int32_t counted_before_last = 0;
    for (const Engine::ProcessCall& call : engine.ProcessCalls(voice)) {
        if (call.clock <= kGateOff || call.clock > first_sleep) continue;
        counted_before_last = counted;
        counted += call.count;
    }
    EXPECT_GE(counted, 1024) << "asked to sleep at clock " << first_sleep;
    EXPECT_LT(counted_before_last, 1024) << "asked to sleep only at clock " << first_sleep;
    EXPECT_TRUE(engine.Sleeping(voice));
    const std::vector<float>& out = engine.Output(voice, ulvo::PIN_OUTPUTL);
    for (uint32_t i = kGateOff; i < kGateOff + 1024; ++i) ASSERT_EQ(out[i], 0.0f) << i;

    // a status change with the gate up wakes it
    constexpr uint32_t kWake = 7500;
    engine.SetInput(voice, ulvo::PIN_GATE, 1.0f, kWake);
    ASSERT_TRUE(engine.Run(1000, &error)) << error;
    EXPECT_FALSE(engine.Sleeping(voice));
    EXPECT_EQ(engine.PinStatus(voice, ulvo::PIN_OUTPUTL), ST_STREAMING);
    EXPECT_EQ(engine.PinStatus(voice, ulvo::PIN_OUTPUTR), ST_STREAMING);
    float loudest = 0.0f;
    for (uint32_t i = kWake; i < kWake + 1000; ++i) loudest = std::max(loudest, std::fabs(out[i]));
    EXPECT_GT(loudest, 0.1f);
    EXPECT_TRUE(engine.Breaches().empty()) << engine.Breaches().front();
}

// Runs one voice for a second with the given inputs (a tone, then a note
// start at sample 10) and returns both outputs.
std::vector<std::vector<float>> RunVoice(float sample_rate, const std::vector<std::pair<int32_t, float>>& inputs) {
    std::unique_ptr<Library> library = LoadUlvo();
    EngineOptions options;
    options.sample_rate = sample_rate;
    options.block_size = 512;
    Engine engine(options);
    std::string error;
    EXPECT_EQ(engine.Place(*library, 1, &error), 0) << error;
    Tone(engine, 0, 1);
    for (const auto& input : inputs) engine.SetInput(0, input.first, input.second);
    engine.SetInput(0, ulvo::PIN_SYNC, 1.0f, 10);
    EXPECT_TRUE(engine.Open(&error)) << error;
    EXPECT_TRUE(engine.Run(44100, &error)) << error;
    return {engine.Output(0, ulvo::PIN_OUTPUTL), engine.Output(0, ulvo::PIN_OUTPUTR)};
}

// A pitch far below hearing once left subnormal samples on "outputr" for
// almost the whole run; every sample is now zero or normal, and finite.
TEST(UlvoEndToEnd, FarOutPitchGivesFiniteNormalSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<int32_t, float>> cases[] = {
        {{ulvo::PIN_FC, -13.0f}},
        {{ulvo::PIN_FC, -14.0f}},
        {{ulvo::PIN_FC, -14.0f}, {ulvo::PIN_N, 40.0f}, {ulvo::PIN_A, 0.9f}},
        {{ulvo::PIN_FC, -12.4f}, {ulvo::PIN_CPMODE, 4.0f}},
        {{ulvo::PIN_FC, inf}, {ulvo::PIN_FM1, nan}},
        {{ulvo::PIN_FUND, -1.0f}, {ulvo::PIN_N, 0.0f}},  // the normalization's pole
    };
    for (const auto& inputs : cases) {
        const std::vector<std::vector<float>> outputs = RunVoice(44100.0f, inputs);
        for (size_t side = 0; side < outputs.size(); ++side) {
            ASSERT_EQ(outputs[side].size(), 44100u);
            size_t bad = 0;
            for (size_t j = 0; j < outputs[side].size(); ++j) {
                const float x = outputs[side][j];
                const bool ok = std::isfinite(x) && std::fabs(x) <= kSEOutputCeiling &&
                                (x == 0.0f || std::fabs(x) >= std::numeric_limits<float>::min());
                if (!ok && bad++ == 0) {
                    ADD_FAILURE() << "pin " << inputs[0].first << " = " << inputs[0].second << ", side " << side
                                  << ", sample " << j << " is " << x;
                }
            }
            EXPECT_EQ(bad, 0u) << "first input " << inputs[0].first << " = " << inputs[0].second << ", side " << side;
        }
    }
}

}  // namespace
