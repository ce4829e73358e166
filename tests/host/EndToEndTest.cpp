// Both real libraries loaded from disk, opened, run and closed through the
// engine.
#include <gtest/gtest.h>

#include <cmath>

#include "SepHost.h"

namespace {

struct RealModule {
    const char* path;
    const char* id;
    int32_t output_pins[2];
};

class EndToEnd : public ::testing::TestWithParam<RealModule> {};

TEST_P(EndToEnd, OpensProcessesAndClosesWithFiniteOutput) {
    const RealModule m = GetParam();
    std::string error;
    auto library = sephost::Library::Load(m.path, &error);
    ASSERT_NE(library, nullptr) << error;

    sephost::EngineOptions options;
    options.block_size = 256;
    options.record_callbacks = true;
    sephost::Engine engine(options);
    const int first = engine.Place(*library, 2, &error);
    ASSERT_EQ(first, 0) << error;
    ASSERT_EQ(engine.PinCount(0), 18);
    ASSERT_TRUE(engine.Open(&error)) << error;
    ASSERT_TRUE(engine.Run(1000, &error)) << error;
    EXPECT_EQ(engine.Clock(), 1000u);
    EXPECT_TRUE(engine.Breaches().empty());

    for (int instance = 0; instance < 2; ++instance) {
        // Every call starts where the last ended, and the calls together
        // cover each sample exactly once (unless the module sleeps).
        const auto& calls = engine.ProcessCalls(instance);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().clock, 0u);
        for (int32_t pin : m.output_pins) {
            if (pin < 0) continue;
            const std::vector<float>& out = engine.Output(instance, pin);
            ASSERT_EQ(out.size(), 1000u);
            for (size_t k = 0; k < out.size(); ++k) ASSERT_TRUE(std::isfinite(out[k])) << "sample " << k;
        }
    }
    engine.Close();
    EXPECT_EQ(engine.Record(0), nullptr);
    EXPECT_EQ(engine.Record(1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(RealLibraries, EndToEnd,
                         ::testing::Values(RealModule{ULVO_SEP_PATH, "ulvo", {16, 17}},
                                           RealModule{TESSARN_SEP_PATH, "tessarn", {16, -1}}),
                         [](const ::testing::TestParamInfo<RealModule>& info) { return std::string(info.param.id); });

}  // namespace
