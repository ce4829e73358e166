// Hostile modules and hostile options: each is a clear error or a breach,
// never a crash, a hang, a wrong answer or memory without bound.
#include <gtest/gtest.h>

#include <cmath>

#include "ProbeFixture.h"

namespace {

using FaultTest = ProbeTest;

int32_t Count(int32_t what) {
    int32_t n = 0;
    for (const probe::Entry& e : probe::TheScript().log) n += e.what == what ? 1 : 0;
    return n;
}

TEST_F(FaultTest, OptionsOutOfRangeAndBuffersBeyondTheLimitPlaceNothing) {
    const struct {
        float rate;
        int32_t block;
        int voices;
        std::string says;
    } cases[] = {
        {0.0f, 64, 1, "the sample rate must lie between 1 and 10000000 Hz"},
        {NAN, 64, 1, "the sample rate must lie between 1 and 10000000 Hz"},
        {-44100.0f, 64, 1, "the sample rate must lie between 1 and 10000000 Hz"},
        {44100.0f, 0, 1, "the block size must lie between 1 and 1048576 samples, not 0"},
        {44100.0f, 1048577, 1, "the block size must lie between 1 and 1048576 samples, not 1048577"},
        {44100.0f, 64, 257, "a module has at most 256 voices, not 257"},
        {44100.0f, 1048576, 256, "more than the host's limit of 256 MiB; use a smaller block or fewer voices"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        probe::Reset();
        options.sample_rate = c.rate;
        options.block_size = c.block;
        sephost::Engine engine(options);
        std::string error;
        EXPECT_EQ(engine.Place(*library, c.voices, &error), -1);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(engine.InstanceCount(), 0);
        EXPECT_EQ(Count(probe::LOG_CREATE), Count(probe::LOG_DESTROY)) << "every clone made was closed again";
    }
}

TEST_F(FaultTest, ReachingARecordLimitStopsTheRunWithRightAnswers) {
    const struct {
        size_t callback_limit;
        size_t process_call_limit;
        std::string says;
    } cases[] = {
        {40, 1000, "the host keeps at most 40 callback records; the run was stopped at clock"},
        {100000, 7, "the host keeps at most 7 process call records; the run was stopped at clock 448"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        probe::Reset();
        options.record_callbacks = true;
        options.callback_limit = c.callback_limit;
        options.process_call_limit = c.process_call_limit;
        sephost::Engine engine(options);
        std::string error;
        ASSERT_EQ(engine.Place(*library, 1, &error), 0) << error;
        ASSERT_TRUE(engine.Open(&error)) << error;
        EXPECT_FALSE(engine.Run(64 * 100, &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_LE(engine.Callbacks().size(), c.callback_limit);
        EXPECT_LE(engine.ProcessCalls(0).size(), c.process_call_limit);
        EXPECT_LT(engine.Clock(), 64u * 100u) << "the run stopped early";
        // Every sample clock the module asked for was the true one.
        const auto& calls = engine.ProcessCalls(0);
        size_t call = 0;
        for (const probe::Entry& e : probe::TheScript().log) {
            if (e.what != probe::LOG_PROCESS) continue;
            ASSERT_LT(call, calls.size());
            EXPECT_EQ(e.clock, calls[call++].clock);
        }
        EXPECT_GT(call, 1u);
    }
}

TEST_F(FaultTest, ManyEventsAtOneClockAndAStrayRecordAreBreaches) {
    const struct {
        probe::Action action;
        std::string breach;
        int32_t delivered;
    } cases[] = {
        {probe::At(0, probe::ACT_FLOOD, 0, 200000, -1, 5),
         "more than 100000 events for instance 0 at clock 5; the rest were dropped", 100000},
        {probe::At(0, probe::ACT_STRAY_RECORD),
         "instance 0 called back (opcode 3) with a record the host never made (0x10); answered 0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.breach);
        probe::Reset();
        probe::TheScript().actions = {c.action};
        sephost::Engine engine(options);
        std::string error;
        ASSERT_EQ(engine.Place(*library, 1, &error), 0) << error;
        ASSERT_TRUE(engine.Open(&error)) << error;
        EXPECT_FALSE(engine.Run(128, &error));
        EXPECT_EQ(error, c.breach);
        EXPECT_EQ(engine.Clock(), 128u);
        EXPECT_EQ(Count(probe::LOG_DATA), c.delivered);
    }
}

// Records with a null entry point; the one with a dispatcher is closed again.
int g_closed = 0;
int32_t SE_CALL CloseOnly(HostRecord*, int32_t opcode, int32_t, int32_t, void*, float) {
    g_closed += opcode == SE_OP_CLOSE ? 1 : 0;
    return opcode == SE_OP_CLOSE ? 1 : 0;
}
HostRecord g_no_dispatcher = {SE_MAGIC, SE_RECORD_VERSION, nullptr, nullptr, 0, nullptr, nullptr, nullptr, {}};
HostRecord g_no_event = {SE_MAGIC, SE_RECORD_VERSION, nullptr, nullptr, 0, &CloseOnly, nullptr, nullptr, {}};
HostRecord* SE_CALL MakeNoDispatcher(int32_t, int32_t, seaudioMasterFn, void*) { return &g_no_dispatcher; }
HostRecord* SE_CALL MakeNoEvent(int32_t, int32_t, seaudioMasterFn, void*) { return &g_no_event; }

TEST(NullEntryPoints, AreRefusedAtPlace) {
    const struct {
        SEMakeModuleFn make;
        const char* says;
        int closed;
    } cases[] = {
        {&MakeNoDispatcher, "the instance record has a null dispatcher", 0},
        {&MakeNoEvent, "the instance record has a null event function", 1},
    };
    for (const auto& c : cases) {
        g_closed = 0;
        auto library = sephost::Library::FromFunctions(&probe::GetModuleProperties, c.make, "hostile");
        sephost::Engine engine;
        std::string error;
        EXPECT_EQ(engine.Place(*library, 2, &error), -1);
        EXPECT_EQ(error, c.says);
        EXPECT_EQ(g_closed, c.closed);
        EXPECT_EQ(engine.InstanceCount(), 0);
    }
}

}  // namespace
