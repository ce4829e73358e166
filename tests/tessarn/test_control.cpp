// Control at the module's own interface: the sleep protocol's clocks and
// repeats, status masks, and that hostile pin values neither hang a call nor write outside
// it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Rig.h"
#include "SEAssert.h"

namespace {

using namespace tessarn;
using tessarn_test::Rig;
using Samples = std::vector<float>;

std::vector<MockHost::Call> StatusCalls(const Rig& rig) { return rig.host.CallsOf(SE_CB_PIN_STATUS); }

TEST(Sleep, IdleArmsSilentlyThenSleepsAfterOneBlock) {
    Rig rig(8.0f, 16);
    const int changes_after_open = rig.host.Count(SE_CB_PROCESS_CHANGED);
    rig.Run(4);
    EXPECT_TRUE(StatusCalls(rig).empty());
    EXPECT_EQ(rig.host.Count(SE_CB_PROCESS_CHANGED), changes_after_open + 1);
    EXPECT_TRUE(rig.module.m_sleep_armed);
    rig.Run(10);
    EXPECT_EQ(rig.host.Count(SE_CB_SLEEP), 0);
    rig.Run(6);  // 16 samples under the count-down
    EXPECT_EQ(rig.host.Count(SE_CB_SLEEP), 1);
    rig.Run(1);
    EXPECT_EQ(rig.host.Count(SE_CB_SLEEP), 2);
    EXPECT_TRUE(StatusCalls(rig).empty());
}

TEST(Sleep, SustainSleepsUnlessItsLevelStreams) {
    for (bool streaming : {false, true}) {
        Rig rig(8.0f, 4);
        rig.Set(PIN_ATTACK, 2.0f);
        rig.Set(PIN_HOLD, 4.0f);
        rig.Set(PIN_DECAY, 2.0f);
        rig.Set(PIN_SUSTAIN, 0.5f);
        rig.Set(PIN_GATE, 1.0f);
        if (streaming) rig.Status(PIN_SUSTAIN, ST_STREAMING);
        const uint32_t t0 = rig.clock;
        rig.Run(12);  // sustain from sample 9
        const auto status = StatusCalls(rig);
        ASSERT_EQ(status.size(), streaming ? 1u : 2u);
        EXPECT_EQ(status[0].value, ST_STREAMING);
        EXPECT_EQ(status[0].ptr, t0);  // the attack at the call's first sample
        if (!streaming) {
            EXPECT_EQ(status[1].value, ST_CHANGED_ONCE);
            EXPECT_EQ(status[1].ptr, t0 + 9);
        }
        EXPECT_EQ(rig.module.m_sleep_armed, !streaming);
        // The gate-off wakes the sustain at the call's first sample.
        rig.Set(PIN_GATE, 0.0f);
        const uint32_t t1 = rig.clock;
        rig.Run(2);
        EXPECT_FALSE(rig.module.m_sleep_armed);
        if (!streaming) {
            ASSERT_EQ(StatusCalls(rig).size(), 3u);
            EXPECT_EQ(StatusCalls(rig)[2].value, ST_STREAMING);
            EXPECT_EQ(StatusCalls(rig)[2].ptr, t1);
        }
    }
}

TEST(Sleep, StatusChangesSetTheMaskAndWake) {
    Rig rig(8.0f, 4);
    rig.Run(2);  // armed
    HostRecord* record = rig.module.GetHostRecord();
    const SEProcessFn countdown = record->process_function;
    rig.clock += 5;
    rig.Status(PIN_RELEASE, ST_STREAMING);
    EXPECT_EQ(rig.module.m_streaming_inputs, 1u << PIN_RELEASE);
    EXPECT_FALSE(rig.module.m_sleep_armed);
    EXPECT_NE(record->process_function, countdown);
    ASSERT_EQ(StatusCalls(rig).size(), 1u);
    EXPECT_EQ(StatusCalls(rig)[0].index, PIN_SIGNAL_OUT);
    EXPECT_EQ(StatusCalls(rig)[0].value, ST_STREAMING);
    EXPECT_EQ(StatusCalls(rig)[0].ptr, rig.clock);
    // A streaming input keeps the idle envelope from arming; its end lets it.
    rig.Run(8);
    EXPECT_FALSE(rig.module.m_sleep_armed);
    rig.Status(PIN_RELEASE, ST_CHANGED_ONCE);
    EXPECT_EQ(rig.module.m_streaming_inputs, 0u);
    rig.Run(1);
    EXPECT_TRUE(rig.module.m_sleep_armed);
    EXPECT_EQ(StatusCalls(rig).back().value, ST_CHANGED_ONCE);
}

TEST(HostileValues, EveryCallEndsAndStaysInsideItsSamples) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {nan, inf, -inf, 3.0e38f, -3.0e38f, 1.0e-30f, 0.0f, 1.0f, 7.5f};
    const int16_t choices[] = {-32768, -1, 0, 1, 2, 3, 4, 5, 32767};
    constexpr float kGuard = -12345.0f;
    unsigned seed = 1;
    auto next = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
    Rig rig(44100.0f, 16);
    for (int call = 0; call < 3000; ++call) {
        for (int32_t pin :
             {PIN_GATE, PIN_ATTACK, PIN_HOLD, PIN_DECAY, PIN_SUSTAIN, PIN_RELEASE, PIN_LEVEL, PIN_ATTACK_FORM,
              PIN_DECAY_FORM, PIN_RELEASE_FORM, PIN_LFO_AMT, PIN_LFO_FREQ, PIN_LFO_PHASE}) {
            if (next() % 3 == 0) rig.Stream(pin, {values[next() % 9], values[next() % 9], values[next() % 9]});
        }
        rig.module.m_full_attack = choices[next() % 9];
        rig.module.m_no_release = choices[next() % 9];
        rig.module.m_lfo_align = choices[next() % 9];
        rig.module.m_dbmode = int32_t(next() % 5) - 2;
        if (next() % 7 == 0) rig.Status(int32_t(next() % 16), int32_t(next() % 3));
        std::vector<float>& out = rig.buffers[PIN_SIGNAL_OUT];
        out.assign(out.size(), kGuard);
        const int32_t n = 1 + int32_t(next() % 40);
        rig.Run(n);
        for (int32_t j = 0; j < Rig::kCapacity; ++j) {
            if (j >= Rig::kStart && j < Rig::kStart + n) continue;
            ASSERT_EQ(out[j], kGuard) << "call " << call << " wrote sample " << j;
        }
    }
}

TEST(HostileValues, LfoRecoversFromNonFiniteRateAndPhase) {
    Rig rig;
    rig.Set(PIN_LFO_AMT, 1.0f);
    rig.Set(PIN_LFO_PHASE, 0.0f);
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        for (int32_t pin : {PIN_LFO_FREQ, PIN_LFO_PHASE}) {
            rig.Set(PIN_LFO_FREQ, 2.0f);
            rig.Set(PIN_LFO_PHASE, 0.0f);
            rig.Set(pin, bad);
            rig.Run(2);
            rig.Set(pin, pin == PIN_LFO_FREQ ? 2.0f : 0.0f);
            // From angle 0 again: the quarter-rate sequence.
            const Samples out = rig.Run(3);
            const double expected[] = {1, 0.5, 0};
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(out[j], expected[j], 1e-6) << "pin " << pin << " = " << bad << ", sample " << j;
        }
    }
}

}  // namespace

namespace {

using namespace tessarn;

// A rate the module cannot use (the host refuses to send one, a host of this
// interface might not) runs it at the default rate, sample for sample.
TEST(HostileValues, UnusableSampleRateRunsAtTheDefault) {
    auto run = [](float rate) {
        Rig rig(rate, 16);
        rig.Set(PIN_GATE, 1.0f);
        rig.Set(PIN_ATTACK, 20.0f);
        rig.Set(PIN_HOLD, 50.0f);
        rig.Set(PIN_DECAY, 20.0f);
        rig.Set(PIN_SUSTAIN, 0.4f);
        rig.Set(PIN_LFO_AMT, 0.3f);
        rig.Set(PIN_LFO_FREQ, 3.0f);
        Samples all;
        for (int call = 0; call < 400; ++call) {
            if (call == 300) rig.Set(PIN_GATE, 0.0f);
            const Samples out = rig.Run(16);
            all.insert(all.end(), out.begin(), out.end());
        }
        return all;
    };
    const Samples reference = run(44100.0f);
    for (float rate :
         {0.0f, std::numeric_limits<float>::quiet_NaN(), -44100.0f, std::numeric_limits<float>::infinity(), 0.5f}) {
        EXPECT_EQ(run(rate), reference) << "rate " << rate;
    }
    EXPECT_NE(run(48000.0f), reference) << "the rate does reach the envelope";
}

// A host that answers the pin count too small, or never writes a buffer
// address: the module stays silent where it can write and touches nothing
// outside its own memory (the sanitizer build checks the last part).
TEST(HostileHost, TooFewPinsGiveSilenceAndNoStatus) {
    for (int32_t count : {0, 1, int32_t(PIN_SIGNAL_OUT), PIN_COUNT - 1}) {
        MockHost host;
        host.pin_count = count;
        Module module(MockHost::Callback(), nullptr);
        module.Open();
        std::array<std::vector<float>, PIN_COUNT> buffers;
        for (std::vector<float>& buffer : buffers) buffer.assign(32, 1.0f);
        Rig::Bind(module, buffers);
        HostRecord* record = module.GetHostRecord();
        for (int32_t pin : {int32_t(PIN_GATE), int32_t(PIN_SIGNAL_OUT), 40, -1}) {
            // With no table at all a debug build stops at its contract check.
            if (count == 0 && SE_DEBUG_CHECKS) break;
            HostEvent event = {0, EV_PIN_STATUS, ST_STREAMING, 0, reinterpret_cast<void*>(intptr_t(pin)), nullptr};
            record->event_function(record->object, &event);
        }
        record->process_function(record->object, 4, 16);
        const std::vector<float>& out = buffers[PIN_SIGNAL_OUT];
        for (int32_t j = 0; j < 32; ++j)
            EXPECT_EQ(out[j], j >= 4 && j < 20 ? 0.0f : 1.0f) << "count " << count << " sample " << j;
        EXPECT_EQ(host.Count(SE_CB_PIN_STATUS), 0) << "count " << count;
    }
}

TEST(HostileHost, UnboundBufferGivesSilence) {
    float* Module::*pins[] = {&Module::m_gate,         &Module::m_attack,      &Module::m_level,
                              &Module::m_sustain,      &Module::m_attack_form, &Module::m_decay_form,
                              &Module::m_release_form, &Module::m_lfo_amt,     &Module::m_lfo_freq};
    for (float* Module::*pin : pins) {
        Rig rig;
        rig.Set(PIN_ATTACK, 2.0f);
        rig.Set(PIN_LFO_AMT, 0.5f);
        rig.Run(2);
        rig.module.*pin = nullptr;
        // GetValue on an unbound buffer reads 0; a pin read sample by sample
        // silences the call.
        const Samples out = rig.Run(4);
        for (float x : out) EXPECT_TRUE(std::isfinite(x));
    }
    Rig rig;
    rig.Set(PIN_ATTACK, 2.0f);
    rig.module.m_level = nullptr;
    EXPECT_EQ(rig.Run(4), Samples(4, 0.0f));
    rig.module.m_signal_out = nullptr;
    rig.Run(4);  // nothing to write to, nothing written
}

}  // namespace
