// Output sinks: the streaming sink sees every sample of a long run while
// holding one block per output; the history is bounded or off; a sink that
// refuses a block stops the run.
#include <gtest/gtest.h>

#include "ProbeFixture.h"

namespace {

class SinkTest : public ProbeTest {
protected:
    void SetUp() override {
        ProbeTest::SetUp();
        probe::TheScript().output_ramp = true;  // out[k] = clock of sample k
    }

    std::unique_ptr<sephost::Engine> Open(int voices) {
        auto engine = std::make_unique<sephost::Engine>(options);
        std::string error;
        EXPECT_EQ(engine->Place(*library, voices, &error), 0) << error;
        EXPECT_TRUE(engine->Open(&error)) << error;
        return engine;
    }
};

TEST_F(SinkTest, AStreamingRunOfAnyLengthHoldsOneBlockPerOutput) {
    options.record_outputs = false;
    options.record_process_calls = false;
    constexpr uint32_t kSamples = 2000000;  // 31250 blocks
    uint64_t seen = 0;
    uint32_t next_clock = 0;
    sephost::StreamBlock last;
    sephost::StreamSink sink([&](const sephost::StreamBlock& block, std::string* error) {
        last = block;
        EXPECT_EQ(block.clock, next_clock);
        EXPECT_EQ(block.channels.size(), 2u) << "one output per voice";
        for (const float* channel : block.channels)
            for (int32_t k = 0; k < block.count; ++k)
                if (channel[k] != static_cast<float>(block.clock + static_cast<uint32_t>(k))) {
                    *error = "sample " + std::to_string(block.clock + static_cast<uint32_t>(k)) + " is wrong";
                    return false;
                }
        next_clock += static_cast<uint32_t>(block.count);
        seen += static_cast<uint64_t>(block.count);
        return true;
    });
    auto engine = Open(2);
    engine->AddSink(&sink);
    std::string error;
    ASSERT_TRUE(engine->Run(kSamples, &error)) << error;
    EXPECT_EQ(seen, kSamples);
    // A consumer may read the last block until the next one is written.
    ASSERT_EQ(last.channels.size(), 2u);
    for (const float* channel : last.channels)
        for (int32_t k = 0; k < last.count; ++k)
            ASSERT_EQ(channel[k], static_cast<float>(last.clock + static_cast<uint32_t>(k))) << "sample " << k;
    EXPECT_GT(sink.HighWaterMark(), 0u);
    EXPECT_LE(sink.HighWaterMark(), 2u * 64u) << "one block of each of the two outputs";
    EXPECT_TRUE(engine->Output(0, probe::PIN_OUT).empty()) << "no history was kept";
    EXPECT_TRUE(engine->ProcessCalls(0).empty());
}

TEST_F(SinkTest, TheHistoryStopsAtItsLimitAndASinkCanStopTheRun) {
    options.history_limit = 100;
    auto engine = Open(1);
    std::string error;
    EXPECT_TRUE(engine->Run(64, &error)) << error;
    EXPECT_FALSE(engine->Run(64, &error));
    EXPECT_EQ(error,
              "the output history reached its limit of 100 samples (all outputs together) at clock 64; run "
              "shorter, keep no history, or stream the outputs");
    EXPECT_EQ(engine->Output(0, probe::PIN_OUT).size(), 64u);

    probe::Reset();
    options.history_limit = sephost::kDefaultHistorySamples;
    sephost::StreamSink refusing([](const sephost::StreamBlock& block, std::string* why) {
        if (block.clock < 128) return true;
        *why = "the disk is full";
        return false;
    });
    auto second = Open(1);
    second->AddSink(&refusing);
    EXPECT_FALSE(second->Run(1000, &error));
    EXPECT_EQ(error, "the disk is full");
    EXPECT_EQ(second->Clock(), 192u) << "stopped after the refused block";
}

}  // namespace
