// Module control on the mock host: open constants, the clone walk and the
// shared list's lifetime, note start and rotation, the wake test, the sleep
// protocol, and clones without a usable list entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "MockHost.h"
#include "Module.h"
#include "SEAssert.h"
#include "UlvoRig.h"
#include "UlvoVoiceList.h"

namespace {

using ulvo::Module;

std::vector<MockHost::Call> StatusCalls(const MockHost& host) { return host.CallsOf(SE_CB_PIN_STATUS); }

// Inputs of a tone that sounds wherever the gate lets it.
void SetTone(UlvoRig& rig) {
    rig.Set(ulvo::PIN_FC, 0.5f);
    rig.Set(ulvo::PIN_N, 3.0f);
    rig.Set(ulvo::PIN_FM1, 1.0f);
    rig.Set(ulvo::PIN_A, 0.5f);
}

TEST(UlvoOpen, RateConstants) {
    struct Case {
        float rate;
        double max_freq;
    };
    for (const Case c : {Case{32000.0f, 32000.0 * (10.0 / 21.0)}, Case{44100.0f, 21000.0}, Case{48000.0f, 21000.0},
                         Case{96000.0f, 21000.0}}) {
        UlvoRig rig(c.rate);
        const Module& m = *rig.module;
        EXPECT_EQ(m.m_sample_rate, c.rate);
        EXPECT_DOUBLE_EQ(m.m_two_over_sr, 2.0 / c.rate) << c.rate;
        EXPECT_EQ(m.m_max_freq, c.max_freq) << c.rate;
        EXPECT_EQ(m.m_voice.gain, 1.0);
        EXPECT_EQ(m.m_voice.comb_freq_cos, 1.0);
        EXPECT_EQ(m.m_voice.base_freq, -20.0f);
        EXPECT_EQ(m.m_voice.last_fc, -20.0f);
        EXPECT_TRUE(m.m_sleeping);
        ASSERT_NE(m.m_voices, nullptr);
        EXPECT_DOUBLE_EQ(m.m_voices->m_fade_step, 20.0 / c.rate);
    }
    UlvoRig rig(32000.0f);
    EXPECT_NEAR(rig.module->m_max_freq, 15238.095238, 1e-5);
}

// A host that answers the pin count too small: the module stays silent where
// it can write, sends nothing and ignores status events for pins it lacks.
TEST(UlvoHostileHost, TooFewPinsGiveSilenceAndNoStatus) {
    for (int32_t count : {0, 1, int32_t(ulvo::PIN_OUTPUTL), ulvo::PIN_COUNT - 1}) {
        MockHost host;
        host.pin_count = count;
        auto module = std::make_unique<Module>(MockHost::Callback(), nullptr);
        host.clones = {module->GetHostRecord()};
        module->Open();
        std::vector<float> buffers[ulvo::PIN_COUNT];
        for (auto& buffer : buffers) buffer.assign(32, 1.0f);
        UlvoRig::Bind(*module, buffers);
        HostRecord* record = module->GetHostRecord();
        for (int32_t pin : {int32_t(ulvo::PIN_SYNC), int32_t(ulvo::PIN_GATE), 40, -1}) {
            // With no table at all a debug build stops at its contract check.
            if (count == 0 && SE_DEBUG_CHECKS) break;
            HostEvent event = {0, EV_PIN_STATUS, ST_STREAMING, 0, reinterpret_cast<void*>(intptr_t(pin)), nullptr};
            record->event_function(record->object, &event);
        }
        record->process_function(record->object, 4, 16);
        for (int32_t pin : {int32_t(ulvo::PIN_OUTPUTL), int32_t(ulvo::PIN_OUTPUTR)}) {
            for (int32_t j = 0; j < 32; ++j)
                EXPECT_EQ(buffers[pin][j], j >= 4 && j < 20 ? 0.0f : 1.0f)
                    << "count " << count << " pin " << pin << " sample " << j;
        }
        EXPECT_EQ(host.Count(SE_CB_PIN_STATUS), 0) << "count " << count;
        EXPECT_EQ(host.Count(SE_CB_SLEEP), 0) << "count " << count;
    }
}

// A rate the module cannot use runs it at the default rate, sample for sample.
TEST(UlvoOpen, UnusableSampleRateRunsAtTheDefault) {
    auto run = [](float rate) {
        UlvoRig rig(rate, 512);
        rig.Set(ulvo::PIN_FC, 0.5f);
        rig.Set(ulvo::PIN_FM1, 1.0f);
        rig.Set(ulvo::PIN_N, 3.0f);
        rig.Set(ulvo::PIN_A, 0.5f);
        rig.module->m_cpmode = 3;
        rig.Set(ulvo::PIN_COMBFREQ, 0.3f);
        rig.Change(ulvo::PIN_SYNC, 1.0f);
        std::vector<float> all;
        for (int block = 0; block < 8; ++block) {
            rig.Run(0, 512);
            rig.host.buffer_clock += 512;
            for (int32_t pin : {int32_t(ulvo::PIN_OUTPUTL), int32_t(ulvo::PIN_OUTPUTR)})
                all.insert(all.end(), rig.buffers[pin].begin(), rig.buffers[pin].end());
        }
        return all;
    };
    const std::vector<float> reference = run(44100.0f);
    for (float rate : {0.0f, std::numeric_limits<float>::quiet_NaN(), -1.0f, 0.25f}) {
        EXPECT_EQ(run(rate), reference) << "rate " << rate;
    }
    EXPECT_NE(run(48000.0f), reference) << "the rate does reach the synthesis";
}

TEST(UlvoOpen, NoPinBeyond17) {
    Module m(nullptr, nullptr);
    SEPinProperties p;
    std::memset(&p, 0, sizeof p);
    EXPECT_FALSE(m.GetPinProperties(18, &p));
    EXPECT_EQ(p.name, nullptr) << "a refused index leaves the record alone";
}

// Four clones on one host; `open_first` opens before the others.
void CheckCloneWalk(int open_first) {
    MockHost host;
    host.pin_count = ulvo::PIN_COUNT;
    std::vector<std::unique_ptr<Module>> clones;
    for (int k = 0; k < 4; ++k) clones.push_back(std::make_unique<Module>(MockHost::Callback(), nullptr));
    for (auto& c : clones) host.clones.push_back(c->GetHostRecord());

    clones[open_first]->Open();
    ulvo::UlvoVoiceList* list = clones[open_first]->m_voices;
    ASSERT_NE(list, nullptr);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(clones[k]->m_voices, list) << "clone " << k << ", opened first: " << open_first;
        EXPECT_EQ(clones[k]->m_voice_index, k) << "clone " << k << ", opened first: " << open_first;
    }
    for (int k = 0; k < 4; ++k) clones[k]->Open();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(clones[k]->m_voices, list) << "a later open replaced the list";
        EXPECT_EQ(clones[k]->m_voice_index, k);
    }

    // the first clone destroyed deletes the list and clears every pointer
    clones[1].reset();
    for (int k : {0, 2, 3}) EXPECT_EQ(clones[k]->m_voices, nullptr) << "clone " << k;
    host.clones.erase(host.clones.begin() + 1);
}

TEST(UlvoOpen, CloneWalkNumbersEveryCloneWhoeverOpensFirst) {
    for (int first = 0; first < 4; ++first) CheckCloneWalk(first);
}

TEST(UlvoOpen, HostWithoutCloneAnswersStillGivesAList) {
    MockHost host;
    host.pin_count = ulvo::PIN_COUNT;
    Module m(MockHost::Callback(), nullptr);
    m.Open();  // the walk answers null at once
    ASSERT_NE(m.m_voices, nullptr);
    EXPECT_EQ(m.m_voice_index, 0);
}

TEST(UlvoNoteStart, SyncThresholdIsStrictlyAboveTheFloatNearestPointOne) {
    UlvoRig rig;
    rig.Set(ulvo::PIN_GATE, 0.0f);
    rig.module->m_voice.gain = 0.25;
    rig.module->m_voice.carrier_phase = 0.5;
    rig.Change(ulvo::PIN_SYNC, 0.1f);
    EXPECT_EQ(rig.module->m_voices->m_count, 0);
    EXPECT_EQ(rig.module->m_voice.gain, 0.25);

    rig.module->m_voice.comb_freq_sin = 0.3;
    rig.module->m_voice.base_freq = 880.0f;
    rig.Change(ulvo::PIN_SYNC, 0.11f);
    EXPECT_EQ(rig.module->m_voices->m_count, 1);
    EXPECT_EQ(rig.module->m_voice.gain, 1.0);
    EXPECT_EQ(rig.module->m_voice.carrier_phase, 0.0);
    EXPECT_EQ(rig.module->m_voice.comb_freq_sin, 0.3) << "kept across a note start";
    EXPECT_EQ(rig.module->m_voice.base_freq, 880.0f) << "kept across a note start";
    // gate 0 and not streaming: the note starts without waking the module
    EXPECT_TRUE(rig.module->m_sleeping);
    EXPECT_TRUE(StatusCalls(rig.host).empty());
}

std::vector<float> Rotations(float step, int notes) {
    UlvoRig rig;
    rig.Change(ulvo::PIN_INCR, step);
    std::vector<float> seen;
    for (int k = 0; k < notes; ++k) {
        rig.Change(ulvo::PIN_SYNC, 0.0f);
        rig.Change(ulvo::PIN_SYNC, 1.0f);
        seen.push_back(rig.module->m_voices->m_rotation);
        EXPECT_EQ(rig.module->m_voice.applied_offset, -rig.module->m_voices->m_rotation);
    }
    return seen;
}

TEST(UlvoNoteStart, RotationCorrectsOnceOnly) {
    EXPECT_EQ(Rotations(0.75f, 6), std::vector<float>({0.75f, -0.5f, 0.25f, 1.0f, -0.25f, 0.5f}));
    EXPECT_EQ(Rotations(2.5f, 5), std::vector<float>({0.5f, 1.0f, 1.5f, 2.0f, 2.5f}));
    EXPECT_EQ(Rotations(-0.75f, 4), std::vector<float>({-0.75f, 0.5f, -0.25f, -1.0f}));
}

TEST(UlvoNoteStart, IncrRestartsTheRotationOnlyWhenItChanges) {
    UlvoRig rig;
    rig.Change(ulvo::PIN_INCR, 0.25f);
    rig.Change(ulvo::PIN_SYNC, 1.0f);
    rig.Change(ulvo::PIN_SYNC, 1.0f);
    EXPECT_EQ(rig.module->m_voices->m_rotation, 0.5f);
    rig.Change(ulvo::PIN_INCR, 0.25f);
    EXPECT_EQ(rig.module->m_voices->m_rotation, 0.5f);
    rig.Change(ulvo::PIN_INCR, 0.3f);
    EXPECT_EQ(rig.module->m_voices->m_rotation, 0.0f);
    EXPECT_EQ(rig.module->m_voices->m_incr, 0.3f);
}

TEST(UlvoWake, AnnouncesStreamingOnEveryChangeOnceAwake) {
    UlvoRig rig;
    rig.host.calls.clear();
    rig.Change(ulvo::PIN_FUND, 0.5f, 7);  // any pin; the gate is 1
    const auto status = StatusCalls(rig.host);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].index, ulvo::PIN_OUTPUTL);
    EXPECT_EQ(status[1].index, ulvo::PIN_OUTPUTR);
    EXPECT_EQ(status[0].value, ST_STREAMING);
    EXPECT_EQ(status[0].ptr, 7u) << "stamped with the sample clock";
    EXPECT_FALSE(rig.module->m_sleeping);
    EXPECT_EQ(rig.host.Count(SE_CB_PROCESS_CHANGED), 0) << "Process was already installed";

    // already awake: announced again
    rig.Change(ulvo::PIN_FUND, 0.25f);
    EXPECT_EQ(StatusCalls(rig.host).size(), 4u);
}

// The wake follows the synthesis: every gate but 0 sounds, so every gate but
// 0 wakes (and what is announced is what plays), and a streaming gate wakes
// whatever its value.
TEST(UlvoWake, EveryGateThatSoundsOrStreamsWakes) {
    struct Case {
        const char* name;
        float gate;
        int32_t gate_status;
        bool wakes;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Case c : {Case{"one", 1.0f, ST_CHANGED_ONCE, true}, Case{"negative", -5.0f, ST_CHANGED_ONCE, true},
                         Case{"NaN", nan, ST_CHANGED_ONCE, true},
                         // read as 0 under the frame's float guard, by the synthesis too
                         Case{"subnormal", std::numeric_limits<float>::denorm_min(), ST_CHANGED_ONCE, false},
                         Case{"zero", 0.0f, ST_CHANGED_ONCE, false}, Case{"minus zero", -0.0f, ST_CHANGED_ONCE, false},
                         Case{"zero streaming", 0.0f, ST_STREAMING, true}}) {
        SCOPED_TRACE(c.name);
        UlvoRig rig;
        SetTone(rig);
        rig.Set(ulvo::PIN_GATE, c.gate);
        rig.host.calls.clear();
        rig.Status(ulvo::PIN_GATE, c.gate_status);
        EXPECT_EQ(StatusCalls(rig.host).size(), c.wakes ? 2u : 0u);
        EXPECT_EQ(rig.module->m_sleeping, !c.wakes);

        // What the wake announced is what the synthesis plays.
        rig.Run(0, 64);
        bool sounds = false;
        for (int i = 0; i < 64; ++i) sounds = sounds || rig.Left(i) != 0.0f;
        if (c.gate_status != ST_STREAMING) {
            EXPECT_EQ(sounds, c.wakes);
        }
    }
}

TEST(UlvoSleep, GateOffAnnouncesStaticAndCountsDownOneBlockSize) {
    UlvoRig rig(44100.0f, 1024);
    rig.Change(ulvo::PIN_FC, 0.5f);  // wakes
    rig.Run(0, 256);
    rig.host.calls.clear();

    rig.Set(ulvo::PIN_GATE, 0.0f);
    rig.Run(0, 256);  // block starts with the gate at 0: GoToSleep
    auto status = StatusCalls(rig.host);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].index, ulvo::PIN_OUTPUTL);
    EXPECT_EQ(status[1].index, ulvo::PIN_OUTPUTR);
    EXPECT_EQ(status[0].value, ST_CHANGED_ONCE);
    EXPECT_EQ(rig.host.Count(SE_CB_PROCESS_CHANGED), 1);
    EXPECT_EQ(rig.module->m_sleep_countdown, 1024) << "the call that went to sleep ran as Process";

    // Countdown calls 1 to 3 leave 768, 512, 256; call 4 reaches 0 and asks
    // to sleep, and every call after it asks again.
    std::vector<int> sleeps;
    for (int call = 1; call <= 6; ++call) {
        const int before = rig.host.Count(SE_CB_SLEEP);
        rig.Run((call % 4) * 256, 256);
        sleeps.push_back(rig.host.Count(SE_CB_SLEEP) - before);
    }
    EXPECT_EQ(sleeps, std::vector<int>({0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(rig.module->m_sleep_countdown, 0) << "counting stops at 0, so it never runs past the int range";
    EXPECT_EQ(StatusCalls(rig.host).size(), 2u) << "GoToSleep while winding down does nothing";
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(rig.Left(i), 0.0f);

    // a change with the gate up wakes it: Process again, outputs streaming
    rig.Change(ulvo::PIN_GATE, 1.0f);
    EXPECT_EQ(rig.host.Count(SE_CB_PROCESS_CHANGED), 2);
    EXPECT_EQ(StatusCalls(rig.host).back().value, ST_STREAMING);
    const int sleeps_before = rig.host.Count(SE_CB_SLEEP);
    rig.Run(0, 1024);
    EXPECT_EQ(rig.host.Count(SE_CB_SLEEP), sleeps_before);
}

TEST(UlvoSleep, GoToSleepTwiceAndNeverAnnouncedModule) {
    UlvoRig rig;
    rig.host.calls.clear();
    rig.module->GoToSleep();  // opened, never announced: nothing
    EXPECT_EQ(rig.host.calls.size(), 0u);
    rig.Change(ulvo::PIN_FC, 0.5f);
    rig.module->GoToSleep();
    rig.module->GoToSleep();
    EXPECT_EQ(StatusCalls(rig.host).size(), 4u) << "two streaming, then one pair of static";
    EXPECT_EQ(rig.host.Count(SE_CB_PROCESS_CHANGED), 1);
}

// A block that starts with the gate at 0 releases the voice; it goes to
// sleep unless the gate streams, since a streaming gate that rises later in
// the block sends no status change to wake a sleeping module. A faded-out
// voice sleeps whatever its gate: only a note start brings its gain back,
// and that comes with a status change, hence a wake.
TEST(UlvoSleep, BlockHeadSleepsUnlessAStreamingGateMayRise) {
    struct Case {
        const char* name;
        bool gate_streams;
        float first_gate;
        double gain;
        bool sleeps;
    };
    for (const Case c : {Case{"static gate at 0", false, 0.0f, 1.0, true},
                         Case{"streaming gate starting at 0", true, 0.0f, 1.0, false},
                         Case{"streaming gate, voice faded out", true, 1.0f, 0.0, true},
                         Case{"static gate up, voice faded out", false, 1.0f, 0.0, true},
                         Case{"streaming gate up", true, 1.0f, 1.0, false}}) {
        SCOPED_TRACE(c.name);
        UlvoRig rig(44100.0f, 256);
        SetTone(rig);
        rig.module->m_voices->StartVoice(1, 8);
        rig.Change(ulvo::PIN_SYNC, 1.0f);  // voice 0 newest, awake
        ASSERT_EQ(rig.module->m_voices->m_oldest, 1);
        if (c.gate_streams) rig.Status(ulvo::PIN_GATE, ST_STREAMING);
        rig.module->m_voice.gain = c.gain;
        rig.host.calls.clear();

        // The gate starts the block at first_gate and is 1 from sample 100.
        rig.Set(ulvo::PIN_GATE, 1.0f);
        std::fill_n(rig.buffers[ulvo::PIN_GATE].begin(), 100, c.first_gate);
        for (int block = 0; block < 3; ++block) rig.Run(0, 256);

        EXPECT_EQ(rig.module->m_sleeping, c.sleeps);
        EXPECT_EQ(rig.host.Count(SE_CB_SLEEP) > 0, c.sleeps);
        EXPECT_EQ(StatusCalls(rig.host).size(), c.sleeps ? 2u : 0u);
        EXPECT_EQ(rig.module->m_voices->m_oldest, c.first_gate == 0.0f ? 0 : 1) << "a gate at 0 releases";
        if (!c.sleeps) {
            EXPECT_NE(rig.Left(200), 0.0f) << "the gate rose inside the block";
        }
    }
}

TEST(UlvoClone, WithoutAListNoteStartAndReleaseAreSkipped) {
    UlvoRig rig;
    delete rig.module->m_voices;
    rig.module->m_voices = nullptr;
    rig.Change(ulvo::PIN_FC, 0.5f);  // still wakes
    EXPECT_FALSE(rig.module->m_sleeping);
    rig.module->m_voice.gain = 0.5;
    rig.Change(ulvo::PIN_SYNC, 1.0f);
    EXPECT_EQ(rig.module->m_voice.gain, 0.5) << "no note start without a list";
    rig.Set(ulvo::PIN_N, 3.0f);
    rig.Set(ulvo::PIN_FM1, 1.0f);
    rig.Set(ulvo::PIN_A, 0.5f);
    rig.Run(0, 64);
    EXPECT_NE(rig.Left(10), 0.0f);
    rig.Set(ulvo::PIN_GATE, 0.0f);
    rig.Run(0, 64);  // release skipped, still goes to sleep
    EXPECT_TRUE(rig.module->m_sleeping);
}

TEST(UlvoClone, VoiceIndexBeyondTheListSoundsAndIsNeverStolen) {
    UlvoRig rig;
    rig.module->m_voice_index = 30;
    rig.module->m_poly = 1;
    rig.Set(ulvo::PIN_FC, 0.5f);
    rig.Set(ulvo::PIN_N, 2.0f);
    rig.Set(ulvo::PIN_FM1, 1.0f);
    rig.Set(ulvo::PIN_A, 0.5f);
    rig.Change(ulvo::PIN_SYNC, 1.0f);
    rig.Change(ulvo::PIN_SYNC, 1.0f);
    EXPECT_EQ(rig.module->m_voices->m_count, 0);
    rig.Run(0, 1024);
    EXPECT_EQ(rig.module->m_voice.gain, 1.0);
    float peak = 0.0f;
    for (int i = 0; i < 1024; ++i) peak = std::max(peak, std::fabs(rig.Left(i)));
    EXPECT_GT(peak, 0.1f);
}

}  // namespace
