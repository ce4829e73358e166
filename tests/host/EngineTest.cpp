// The engine against the probe module: block cutting, clocks, driven inputs,
// status relay, sleep and wake, clones, initial announcement, breaches.
#include <gtest/gtest.h>

#include <sstream>

#include "ProbeFixture.h"

namespace {

using probe::Entry;

std::string Describe(const std::vector<Entry>& log) {
    static const char* kWhat[] = {"create", "open", "process", "status", "data", "clone", "destroy", "other"};
    std::ostringstream out;
    for (const Entry& e : log)
        out << "  #" << e.serial << " " << kWhat[e.what] << " clock " << e.clock << " a " << e.a << " b " << e.b
            << " value " << e.value << " buffer clock " << e.buffer_clock << "\n";
    return out.str();
}

std::vector<Entry> Only(int32_t what, int32_t serial = -1) {
    std::vector<Entry> out;
    for (const Entry& e : probe::TheScript().log)
        if (e.what == what && (serial < 0 || e.serial == serial)) out.push_back(e);
    return out;
}

class EngineTest : public ProbeTest {
protected:
    // Places `count` single-voice probes and returns the engine (not open).
    std::unique_ptr<sephost::Engine> Make(int count = 1) {
        auto engine = std::make_unique<sephost::Engine>(options);
        for (int i = 0; i < count; ++i) {
            std::string error;
            EXPECT_EQ(engine->Place(*library, 1, &error), i) << error;
        }
        return engine;
    }

    void OpenAndRun(sephost::Engine& engine, uint32_t samples, bool expect_ok = true) {
        std::string error;
        ASSERT_TRUE(engine.Open(&error)) << error;
        EXPECT_EQ(engine.Run(samples, &error), expect_ok) << error;
    }
};

struct Call {
    uint32_t clock;
    int32_t start, count;
};

void ExpectCalls(const sephost::Engine& engine, int instance, const std::vector<Call>& expected) {
    const auto& calls = engine.ProcessCalls(instance);
    std::ostringstream seen;
    for (const auto& c : calls) seen << " (" << c.clock << "," << c.start << "," << c.count << ")";
    ASSERT_EQ(calls.size(), expected.size()) << "calls:" << seen.str();
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].clock, expected[i].clock) << "call " << i << ":" << seen.str();
        EXPECT_EQ(calls[i].start, expected[i].start) << "call " << i << ":" << seen.str();
        EXPECT_EQ(calls[i].count, expected[i].count) << "call " << i << ":" << seen.str();
    }
}

// --- the calling order and pin set-up -----------------------------------------------

TEST_F(EngineTest, PinsGetTheirDefaultsAndRateAndBlockArriveBeforeOpen) {
    options.sample_rate = 48000.0f;
    options.block_size = 100;
    auto engine = Make();
    ASSERT_EQ(engine->PinCount(0), probe::PIN_TOTAL);
    auto* module = probe::FromObject(engine->Object(0));
    // "5" is 0.5 on a sample pin; list and int pins hold the integer.
    ASSERT_NE(module->m_in, nullptr);
    for (int k = 0; k < 100; ++k) ASSERT_EQ(module->m_in[k], 0.5f) << "sample " << k;
    EXPECT_EQ(module->m_level, 2);
    EXPECT_EQ(module->m_count, 7);
    ASSERT_NE(module->m_out, nullptr);
    EXPECT_NE(module->m_out, module->m_in);

    std::string error;
    ASSERT_TRUE(engine->Open(&error)) << error;
    const auto opens = Only(probe::LOG_OPEN);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].a, 100);
    EXPECT_EQ(opens[0].value, 48000.0f);
    // The pin without a variable asked for its buffer, filled with "-20".
    const float* aux = module->GetPin(probe::PIN_AUX)->m_local_value.buffer;
    ASSERT_NE(aux, nullptr);
    EXPECT_EQ(aux[0], -2.0f);
    EXPECT_EQ(aux[99], -2.0f);

    const auto descriptions = engine->Declarations(0);
    ASSERT_EQ(descriptions.size(), 5u);
    ASSERT_EQ(descriptions[1].choices.size(), 3u);
    EXPECT_EQ(descriptions[1].choices[2].label, "high");
    EXPECT_EQ(descriptions[1].choices[2].value, 3);
    EXPECT_FALSE(descriptions[4].has_value_address);
}

TEST_F(EngineTest, OpenFollowsTheGivenOrderAfterRateAndBlockReachedAll) {
    options.block_size = 32;
    auto engine = Make(3);
    std::string error;
    EXPECT_FALSE(engine->Open(&error, {2, 2, 0})) << "an instance named twice";
    ASSERT_TRUE(engine->Open(&error, {2, 0, 1})) << error;
    std::vector<int32_t> opened;
    for (const Entry& e : Only(probe::LOG_OPEN)) {
        opened.push_back(e.serial);
        EXPECT_EQ(e.a, 32) << "block size known in Open of #" << e.serial;
    }
    EXPECT_EQ(opened, (std::vector<int32_t>{2, 0, 1}));
    EXPECT_FALSE(engine->Open(&error)) << "opened twice";
}

// --- block cutting and clocks ----------------------------------------------------------

TEST_F(EngineTest, ProcessCallsAreCutAtEventTimesAndClocksReadRight) {
    auto engine = Make();
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 10);
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 10);
    engine->SendStatus(0, probe::PIN_IN, ST_STREAMING, 40);
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 64);
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 100);
    OpenAndRun(*engine, 128);
    ExpectCalls(*engine, 0, {{0, 0, 10}, {10, 10, 30}, {40, 40, 24}, {64, 0, 36}, {100, 36, 28}});

    // Events between the calls, each at its own clock; inside a call the
    // sample clock is that of `start`, the buffer clock that of element 0.
    const std::vector<std::pair<int32_t, uint32_t>> expected = {
        {probe::LOG_PROCESS, 0},  {probe::LOG_STATUS, 10},  {probe::LOG_STATUS, 10}, {probe::LOG_PROCESS, 10},
        {probe::LOG_STATUS, 40},  {probe::LOG_PROCESS, 40}, {probe::LOG_STATUS, 64}, {probe::LOG_PROCESS, 64},
        {probe::LOG_STATUS, 100}, {probe::LOG_PROCESS, 100}};
    std::vector<Entry> log;
    for (const Entry& e : probe::TheScript().log)
        if (e.what == probe::LOG_PROCESS || e.what == probe::LOG_STATUS) log.push_back(e);
    ASSERT_EQ(log.size(), expected.size()) << Describe(log);
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].what, expected[i].first) << "entry " << i << "\n" << Describe(log);
        EXPECT_EQ(log[i].clock, expected[i].second) << "entry " << i << "\n" << Describe(log);
        EXPECT_EQ(log[i].buffer_clock, log[i].clock < 64 ? 0u : 64u) << "entry " << i << "\n" << Describe(log);
    }
    EXPECT_EQ(engine->PinStatus(0, probe::PIN_IN), ST_CHANGED_ONCE);
}

// The host fills a driven input run by run; the reference looks each
// sample up on its own. Held values, streams shorter and longer than a
// block, streams cut short by a later value, changes on block edges and
// values added while the run goes on must come out the same, sample for
// sample, at every block size. What the engine tells of a driven input
// before the run (DrivenInput) is what the run then fills.
TEST_F(EngineTest, RunByRunFillEqualsTheSampleBySampleReference) {
    std::vector<float> ramp(150), short_ramp(5);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = 0.01f * static_cast<float>(k + 1);
    for (size_t k = 0; k < short_ramp.size(); ++k) short_ramp[k] = -0.1f * static_cast<float>(k + 1);
    for (const int32_t block : {1, 7, 64, 100}) {
        std::vector<float> outputs[2];
        for (const bool by_sample : {false, true}) {
            options.block_size = block;
            options.fill_driven_by_sample = by_sample;
            auto engine = Make();
            engine->SetInput(0, probe::PIN_IN, 0.25f);
            engine->StreamInput(0, probe::PIN_IN, short_ramp, 3);
            engine->SetInput(0, probe::PIN_IN, 0.75f, 20);
            engine->StreamInput(0, probe::PIN_IN, ramp, 40);
            engine->SetInput(0, probe::PIN_IN, -1.0f, 200);
            engine->StreamInput(0, probe::PIN_IN, short_ramp, 201);
            engine->SetInput(0, probe::PIN_IN, 2.0f, 203);
            engine->SetInput(0, probe::PIN_IN, 0.5f, 300);
            std::vector<float> told(250);
            for (uint32_t clock = 0; clock < 250; ++clock)
                ASSERT_TRUE(engine->DrivenInput(0, probe::PIN_IN, clock, &told[clock]));
            float unused = 0.0f;
            EXPECT_FALSE(engine->DrivenInput(0, probe::PIN_LEVEL, 0, &unused)) << "a list pin";
            EXPECT_FALSE(engine->DrivenInput(0, probe::PIN_OUT, 0, &unused)) << "an output";
            OpenAndRun(*engine, 250);
            const std::vector<float>& played = engine->Output(0, probe::PIN_OUT);
            for (uint32_t clock = 0; clock < 250; ++clock)
                ASSERT_EQ(told[clock], played[clock]) << "block " << block << ", sample " << clock;
            // Added while running, one starting on the current clock.
            engine->StreamInput(0, probe::PIN_IN, ramp, 250);
            engine->SetInput(0, probe::PIN_IN, 0.125f, 330);
            std::string error;
            EXPECT_TRUE(engine->Run(150, &error)) << error;
            outputs[by_sample ? 1 : 0] = engine->Output(0, probe::PIN_OUT);
        }
        ASSERT_EQ(outputs[0].size(), 400u) << "block " << block;
        for (size_t k = 0; k < 400; ++k)
            ASSERT_EQ(outputs[0][k], outputs[1][k]) << "block " << block << ", sample " << k;
        // Both right, not just equal: a few samples worked out by hand.
        const std::pair<size_t, float> known[] = {
            {0, 0.25f},       {3, -0.1f},       {7, -0.5f},           {19, -0.5f},          {40, ramp[0]},
            {189, ramp[149]}, {199, ramp[149]}, {201, short_ramp[0]}, {202, short_ramp[1]}, {203, 2.0f},
            {250, ramp[0]},   {299, ramp[49]},  {329, 0.5f},          {330, 0.125f},        {399, 0.125f}};
        for (const auto& [clock, value] : known)
            EXPECT_EQ(outputs[0][clock], value) << "block " << block << ", sample " << clock;
    }
}

TEST_F(EngineTest, DrivenValuesChangeFromTheirSampleOnWithAStatusAtThatClock) {
    auto engine = Make();
    engine->SetInput(0, probe::PIN_IN, 0.25f);  // starting value: no event
    engine->SetInput(0, probe::PIN_IN, 0.75f, 30);
    engine->StreamInput(0, probe::PIN_IN, {1.0f, 2.0f, 3.0f}, 100);
    engine->SetInputInt(0, probe::PIN_LEVEL, 3, 70);
    OpenAndRun(*engine, 128);

    const auto statuses = Only(probe::LOG_STATUS);
    ASSERT_EQ(statuses.size(), 3u) << Describe(statuses);
    // GetValue inside the event reads the sample at the event's clock.
    EXPECT_EQ(statuses[0].clock, 30u);
    EXPECT_EQ(statuses[0].b, ST_CHANGED_ONCE);
    EXPECT_EQ(statuses[0].value, 0.75f);
    // The enum variable already holds its new value inside the event.
    EXPECT_EQ(statuses[1].clock, 70u);
    EXPECT_EQ(statuses[1].a, probe::PIN_LEVEL);
    EXPECT_EQ(statuses[1].value, 3.0f);
    EXPECT_EQ(statuses[2].clock, 100u);
    EXPECT_EQ(statuses[2].b, ST_STREAMING);
    EXPECT_EQ(statuses[2].value, 1.0f);

    // The probe copies its input: the output is the driven signal.
    const auto& out = engine->Output(0, probe::PIN_OUT);
    ASSERT_EQ(out.size(), 128u);
    for (uint32_t k = 0; k < 128; ++k) {
        const float expected = k < 30 ? 0.25f : k < 100 ? 0.75f : k == 100 ? 1.0f : k == 101 ? 2.0f : 3.0f;
        ASSERT_EQ(out[k], expected) << "sample " << k;
    }
}

TEST_F(EngineTest, EventsAModuleQueuesAreDeliveredAtTheirClocks) {
    auto engine = Make();
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 20);
    // In the call [0, 20): one event for clock 40 (later in the block), one
    // for clock 0 (the call's own start, already covered), one for 90 (the
    // next block).
    probe::TheScript().actions = {probe::At(0, probe::ACT_ADD_EVENT, 0, 111, -1, 40),
                                  probe::At(0, probe::ACT_ADD_EVENT, 0, 222, -1, 0),
                                  probe::At(0, probe::ACT_ADD_EVENT, 0, 333, -1, 90)};
    OpenAndRun(*engine, 128);
    ExpectCalls(*engine, 0, {{0, 0, 20}, {20, 20, 20}, {40, 40, 24}, {64, 0, 26}, {90, 26, 38}});
    const auto data = Only(probe::LOG_DATA);
    ASSERT_EQ(data.size(), 3u) << Describe(data);
    // Delivered right after the covering call, the clock reading its stamp.
    EXPECT_EQ(data[0].a, 222);
    EXPECT_EQ(data[0].clock, 0u);
    EXPECT_EQ(data[1].a, 111);
    EXPECT_EQ(data[1].clock, 40u);
    EXPECT_EQ(data[2].a, 333);
    EXPECT_EQ(data[2].clock, 90u);
    for (const Entry& e : data) EXPECT_EQ(static_cast<uint32_t>(e.b), e.clock) << "event time stamp";
}

TEST_F(EngineTest, ANewProcessFunctionRunsFromTheNextCallOn) {
    options.record_callbacks = true;
    auto engine = Make();
    engine->SendStatus(0, probe::PIN_IN, ST_CHANGED_ONCE, 30);
    probe::TheScript().actions = {probe::At(10, probe::ACT_SWITCH)};
    OpenAndRun(*engine, 128);
    // The call covering clock 10 finishes with the old function.
    const auto first = Only(probe::LOG_PROCESS);
    ASSERT_EQ(first.size(), 1u) << Describe(probe::TheScript().log);
    EXPECT_EQ(first[0].b, 30);
    const auto other = Only(probe::LOG_PROCESS_OTHER);
    ASSERT_EQ(other.size(), 2u) << Describe(probe::TheScript().log);
    EXPECT_EQ(other[0].clock, 30u);
    EXPECT_EQ(other[1].clock, 64u);
    int changes = 0;
    for (const auto& r : engine->Callbacks()) changes += r.opcode == SE_CB_PROCESS_CHANGED ? 1 : 0;
    EXPECT_EQ(changes, 2) << "one at open, one for the switch";
}

// --- status relay and connections ------------------------------------------------------

TEST_F(EngineTest, StatusAndSamplesTravelAlongAConnectionInDependencyOrder) {
    // Instance 0 listens to instance 1: the host must run 1 first.
    auto engine = Make(2);
    std::string error;
    ASSERT_TRUE(engine->Connect(1, probe::PIN_OUT, 0, probe::PIN_IN, &error)) << error;
    EXPECT_FALSE(engine->Connect(1, probe::PIN_OUT, 0, probe::PIN_IN, &error)) << "an input has one source";
    EXPECT_FALSE(engine->Connect(0, probe::PIN_IN, 1, probe::PIN_AUX, &error)) << "an input is no source";
    EXPECT_FALSE(engine->Connect(1, probe::PIN_OUT, 0, probe::PIN_LEVEL, &error)) << "a list pin is set by the host";
    EXPECT_FALSE(engine->Connect(1, probe::PIN_OUT, 0, 9, &error)) << "no such pin";
    engine->SetInput(1, probe::PIN_IN, 0.3f);
    engine->SetInput(1, probe::PIN_IN, -0.6f, 90);
    probe::TheScript().actions = {probe::At(20, probe::ACT_SEND_STATUS, probe::PIN_OUT, ST_STREAMING, 1)};
    OpenAndRun(*engine, 128);

    auto* down = probe::FromObject(engine->Object(0));
    EXPECT_TRUE(down->GetPin(probe::PIN_IN)->IsConnected());
    EXPECT_FALSE(down->GetPin(probe::PIN_AUX)->IsConnected());
    EXPECT_TRUE(probe::FromObject(engine->Object(1))->GetPin(probe::PIN_OUT)->IsConnected());

    const auto statuses = Only(probe::LOG_STATUS, 0);
    ASSERT_EQ(statuses.size(), 1u) << Describe(probe::TheScript().log);
    EXPECT_EQ(statuses[0].clock, 20u);
    EXPECT_EQ(statuses[0].a, probe::PIN_IN);
    EXPECT_EQ(statuses[0].b, ST_STREAMING);
    EXPECT_EQ(engine->PinStatus(1, probe::PIN_OUT), ST_STREAMING);
    EXPECT_EQ(engine->PinStatus(0, probe::PIN_IN), ST_STREAMING);
    ExpectCalls(*engine, 0, {{0, 0, 20}, {20, 20, 44}, {64, 0, 64}});

    const auto& out = engine->Output(0, probe::PIN_OUT);
    ASSERT_EQ(out.size(), 128u);
    for (uint32_t k = 0; k < 128; ++k) ASSERT_EQ(out[k], k < 90 ? 0.3f : -0.6f) << "sample " << k;
}

TEST_F(EngineTest, ACycleIsAnErrorAtOpen) {
    auto engine = Make(3);
    std::string error;
    ASSERT_TRUE(engine->Connect(0, probe::PIN_OUT, 1, probe::PIN_IN, &error)) << error;
    ASSERT_TRUE(engine->Connect(1, probe::PIN_OUT, 2, probe::PIN_IN, &error)) << error;
    ASSERT_TRUE(engine->Connect(2, probe::PIN_OUT, 0, probe::PIN_AUX, &error)) << error;
    EXPECT_FALSE(engine->Open(&error));
    EXPECT_NE(error.find("cycle"), std::string::npos) << error;
    EXPECT_TRUE(Only(probe::LOG_OPEN).empty()) << "nothing is opened";
    EXPECT_FALSE(engine->Run(64, &error));
}

// --- sleep -------------------------------------------------------------------------------

TEST_F(EngineTest, ASleepingInstanceIsNotCalledAndWakesAtTheStatusClock) {
    probe::TheScript().output_ramp = true;
    probe::TheScript().actions = {probe::At(10, probe::ACT_SLEEP)};
    auto engine = Make();
    engine->SendStatus(0, probe::PIN_LEVEL, ST_CHANGED_ONCE, 150);
    OpenAndRun(*engine, 128);
    EXPECT_TRUE(engine->Sleeping(0));
    std::string error;
    ASSERT_TRUE(engine->Run(128, &error)) << error;
    EXPECT_FALSE(engine->Sleeping(0));
    ExpectCalls(*engine, 0, {{0, 0, 64}, {150, 22, 42}, {192, 0, 64}});

    // While asleep the output buffer keeps what the last call wrote.
    const auto& out = engine->Output(0, probe::PIN_OUT);
    ASSERT_EQ(out.size(), 256u);
    for (uint32_t k = 0; k < 256; ++k) {
        const uint32_t position = k % 64;
        const float expected = k < 150 ? static_cast<float>(position) : static_cast<float>(k);
        ASSERT_EQ(out[k], expected) << "sample " << k;
    }
}

// --- clones ------------------------------------------------------------------------------

TEST_F(EngineTest, ClonesAreMadeTogetherWalkedInOrderAndClosedTogether) {
    sephost::Engine engine(options);
    std::string error;
    ASSERT_EQ(engine.Place(*library, 3, &error), 0) << error;
    ASSERT_EQ(engine.Place(*library, 2, &error), 3) << error;
    ASSERT_TRUE(engine.Open(&error)) << error;

    // All clones exist before the first is opened.
    const auto& log = probe::TheScript().log;
    size_t last_create = 0, first_open = log.size();
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].what == probe::LOG_CREATE) last_create = i;
        if (log[i].what == probe::LOG_OPEN && i < first_open) first_open = i;
    }
    EXPECT_LT(last_create, first_open) << Describe(log);

    auto walk = [&](int instance) {
        probe::TheScript().log.clear();
        probe::FromObject(engine.Object(instance))->WalkClones();
        std::vector<int32_t> serials;
        for (const Entry& e : Only(probe::LOG_CLONE)) serials.push_back(e.a);
        return serials;
    };
    EXPECT_EQ(walk(1), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(walk(2), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(walk(4), (std::vector<int32_t>{3, 4}));

    // A closed clone leaves the walk at once.
    EXPECT_EQ(engine.Dispatch(0, SE_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(engine.Record(0), nullptr);
    EXPECT_EQ(walk(2), (std::vector<int32_t>{1, 2}));

    probe::TheScript().log.clear();
    engine.Close();
    std::vector<int32_t> destroyed;
    for (const Entry& e : Only(probe::LOG_DESTROY)) destroyed.push_back(e.serial);
    EXPECT_EQ(destroyed, (std::vector<int32_t>{1, 2, 3, 4}));
}

// --- initial announcement --------------------------------------------------------------

TEST_F(EngineTest, InitialStatusIsAnnouncedOnceInPinOrderUnlessTurnedOff) {
    for (bool announce : {true, false}) {
        SCOPED_TRACE(announce ? "announcement on" : "announcement off");
        probe::Reset();
        options.announce_initial_status = announce;
        auto engine = Make();
        engine->StreamInput(0, probe::PIN_IN, {0.1f, 0.2f});
        OpenAndRun(*engine, 128);
        std::vector<Entry> log;
        for (const Entry& e : probe::TheScript().log)
            if (e.what == probe::LOG_STATUS || e.what == probe::LOG_PROCESS) log.push_back(e);
        ASSERT_FALSE(log.empty());
        if (!announce) {
            EXPECT_EQ(log[0].what, probe::LOG_PROCESS) << Describe(log);
            EXPECT_TRUE(Only(probe::LOG_STATUS).empty()) << Describe(log);
            continue;
        }
        // Every input (setting included, output excluded) at clock 0.
        const std::vector<std::pair<int32_t, int32_t>> expected = {{probe::PIN_IN, ST_STREAMING},
                                                                   {probe::PIN_LEVEL, ST_CHANGED_ONCE},
                                                                   {probe::PIN_COUNT, ST_CHANGED_ONCE},
                                                                   {probe::PIN_AUX, ST_CHANGED_ONCE}};
        ASSERT_EQ(log.size(), expected.size() + 2) << Describe(log);
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(log[i].what, probe::LOG_STATUS) << Describe(log);
            EXPECT_EQ(log[i].clock, 0u) << Describe(log);
            EXPECT_EQ(log[i].a, expected[i].first) << Describe(log);
            EXPECT_EQ(log[i].b, expected[i].second) << Describe(log);
        }
        EXPECT_EQ(log[4].what, probe::LOG_PROCESS);
        EXPECT_EQ(log[0].value, 0.1f) << "the streamed input's first sample";
    }
}

TEST_F(EngineTest, AnInputFedByAStreamingOutputIsAnnouncedStreaming) {
    options.announce_initial_status = true;
    auto engine = Make(2);
    std::string error;
    ASSERT_TRUE(engine->Connect(0, probe::PIN_OUT, 1, probe::PIN_IN, &error)) << error;
    probe::TheScript().actions = {probe::At(0, probe::ACT_SEND_STATUS, probe::PIN_OUT, ST_STREAMING, 0)};
    OpenAndRun(*engine, 64);
    const auto statuses = Only(probe::LOG_STATUS, 1);
    ASSERT_GE(statuses.size(), 1u) << Describe(probe::TheScript().log);
    EXPECT_EQ(statuses[0].a, probe::PIN_IN);
    EXPECT_EQ(statuses[0].b, ST_STREAMING);
    EXPECT_EQ(statuses[0].clock, 0u);
    // The source itself was announced as set once: nothing streams into it.
    const auto source = Only(probe::LOG_STATUS, 0);
    ASSERT_GE(source.size(), 1u);
    EXPECT_EQ(source[0].b, ST_CHANGED_ONCE);
}

// --- breaches ------------------------------------------------------------------------------

TEST_F(EngineTest, BreachesAreReportedWithoutStoppingTheRun) {
    options.block_size = 32;
    struct Case {
        probe::Action action;
        std::string text;
    };
    const std::vector<Case> cases = {
        {probe::At(96, probe::ACT_STAMP_PAST, probe::PIN_OUT, 32),
         "pin status on pin 3 stamped at clock 64 before the current clock 96"},
        {probe::At(96, probe::ACT_EVENT_PAST, 0, 1), "event of kind 2 stamped at clock 95 before the current clock 96"},
        {probe::At(96, probe::ACT_NULL_PROCESS), "process function of instance 0 changed to null"},
        {probe::At(96, probe::ACT_BAD_PIN, 99), "pin buffer on pin 99 out of range (instance 0 has 5 pins)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        probe::Reset();
        probe::TheScript().actions = {c.action};
        auto engine = Make();
        std::string error;
        ASSERT_TRUE(engine->Open(&error)) << error;
        ASSERT_TRUE(engine->Run(96, &error)) << error;
        EXPECT_FALSE(engine->Run(64, &error));
        EXPECT_EQ(error, c.text);
        ASSERT_EQ(engine->Breaches().size(), 1u);
        EXPECT_EQ(engine->Breaches()[0], c.text);
        // The run went on: every block was processed.
        EXPECT_EQ(engine->Clock(), 160u);
        EXPECT_EQ(engine->ProcessCalls(0).size(), 5u);
        EXPECT_TRUE(Only(probe::LOG_DATA).empty()) << "a refused event is not delivered";
        EXPECT_TRUE(engine->Run(32, &error)) << "no new breach: " << error;
    }
}

TEST_F(EngineTest, AnEndlessChainOfEventsAtOneClockIsCutOff) {
    probe::TheScript().event_storm = true;
    probe::TheScript().actions = {probe::At(0, probe::ACT_ADD_EVENT, 0, 1, -1, 5)};
    auto engine = Make();
    std::string error;
    ASSERT_TRUE(engine->Open(&error)) << error;
    EXPECT_FALSE(engine->Run(128, &error));
    EXPECT_EQ(error, "more than 100000 events for instance 0 at clock 5; the rest were dropped");
    EXPECT_EQ(engine->Clock(), 128u);
    ExpectCalls(*engine, 0, {{0, 0, 64}, {64, 0, 64}});
}

// --- callback records --------------------------------------------------------------------

TEST_F(EngineTest, CallbacksAreRecordedAndUnknownOpcodesAnswerZero) {
    options.record_callbacks = true;
    auto engine = Make();
    OpenAndRun(*engine, 64);
    auto* module = probe::FromObject(engine->Object(0));
    EXPECT_EQ(module->CallHost(99, 1, 2), 0);
    EXPECT_EQ(module->CallHost(-1), 0);

    bool saw_pin_count = false, saw_unknown = false;
    for (const auto& r : engine->Callbacks()) {
        EXPECT_EQ(r.instance, 0);
        if (r.opcode == SE_CB_PIN_COUNT) {
            saw_pin_count = true;
            EXPECT_EQ(r.result, probe::PIN_TOTAL);
        }
        if (r.opcode == 99) {
            saw_unknown = true;
            EXPECT_EQ(r.clock, 64u);
            EXPECT_EQ(sephost::FormatCallback(r), "clock 64  instance 0  opcode 99  index 1  value 2  ptr 0  -> 0");
        }
    }
    EXPECT_TRUE(saw_pin_count);
    EXPECT_TRUE(saw_unknown);

    sephost::CallbackRecord status;
    status.instance = 0;
    status.clock = 1024;
    status.opcode = SE_CB_PIN_STATUS;
    status.index = 16;
    status.value = 1;
    status.ptr = 1024;
    EXPECT_EQ(sephost::FormatCallback(status),
              "clock 1024  instance 0  SE_CB_PIN_STATUS  index 16  value 1  ptr 1024  -> 0");
    engine->ClearCallbacks();
    EXPECT_TRUE(engine->Callbacks().empty());
}

}  // namespace
