// The run options every running command shares: values within the host's
// ranges are taken, everything else is an error that names the range.
#include <gtest/gtest.h>

#include "RunOptions.h"

namespace {

using septool::OptionResult;

TEST(RunOptions, TakesValuesWithinTheirRanges) {
    const struct {
        std::vector<std::string> args;
        double rate;
        int32_t block;
        uint32_t samples;
        int voices;
    } cases[] = {
        {{"--rate", "48000"}, 48000.0, 1024, 44100, 1},
        {{"--rate", "1"}, 1.0, 1024, 44100, 1},
        {{"--rate", "22050.5"}, 22050.5, 1024, 44100, 1},
        {{"--block", "1048576"}, 44100.0, 1048576, 44100, 1},
        {{"--samples", "1073741824"}, 44100.0, 1024, 1073741824u, 1},
        {{"--voices", "256"}, 44100.0, 1024, 44100, 256},
        {{"--voices", "+3"}, 44100.0, 1024, 44100, 3},
    };
    for (const auto& c : cases) {
        septool::RunOptions options;
        std::string error;
        size_t i = 0;
        ASSERT_EQ(septool::ParseRunOption(c.args, &i, &options, &error), OptionResult::kTaken)
            << c.args[0] << " " << c.args[1] << ": " << error;
        EXPECT_EQ(i, 1u) << "the value was consumed";
        EXPECT_EQ(options.rate, c.rate);
        EXPECT_EQ(options.block, c.block);
        EXPECT_EQ(options.samples, c.samples);
        EXPECT_EQ(options.voices, c.voices);
    }
}

TEST(RunOptions, MissingMalformedAndOutOfRangeValuesNameTheRange) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--block"}, "--block needs a value: a whole number of samples from 1 to 1048576"},
        {{"--block", "1048577"}, "--block needs a whole number of samples from 1 to 1048576; 1048577 is too large"},
        {{"--block", "0"}, "--block needs a whole number of samples from 1 to 1048576; 0 is too small"},
        {{"--block", "64x"}, "--block needs a whole number of samples from 1 to 1048576, not '64x'"},
        {{"--block", "1.5"}, "--block needs a whole number of samples from 1 to 1048576, not '1.5'"},
        {{"--block", ""}, "--block needs a whole number of samples from 1 to 1048576, not ''"},
        {{"--voices", "257"}, "--voices needs a whole number of voices from 1 to 256; 257 is too large"},
        {{"--voices", "-1"}, "--voices needs a whole number of voices from 1 to 256; -1 is too small"},
        {{"--samples", "1073741825"},
         "--samples needs a whole number of samples from 1 to 1073741824; 1073741825 is too large"},
        {{"--samples", "99999999999999999999"},
         "--samples needs a whole number of samples from 1 to 1073741824; 99999999999999999999 is too large"},
        {{"--rate", "0"}, "--rate needs a number of Hz from 1 to 10000000; 0 is too small"},
        {{"--rate", "nan"}, "--rate needs a number of Hz from 1 to 10000000, not 'nan'"},
        {{"--rate", "inf"}, "--rate needs a number of Hz from 1 to 10000000, not 'inf'"},
        {{"--rate", " 48000"}, "--rate needs a number of Hz from 1 to 10000000, not ' 48000'"},
        {{"--rate", "2e7"}, "--rate needs a number of Hz from 1 to 10000000; 2e7 is too large"},
    };
    for (const auto& c : cases) {
        septool::RunOptions options;
        std::string error;
        size_t i = 0;
        EXPECT_EQ(septool::ParseRunOption(c.args, &i, &options, &error), OptionResult::kError) << c.error;
        EXPECT_EQ(error, c.error);
    }
    std::vector<std::string> other = {"--trace"};
    septool::RunOptions options;
    std::string error;
    size_t i = 0;
    EXPECT_EQ(septool::ParseRunOption(other, &i, &options, &error), OptionResult::kNotMine);
}

}  // namespace

#include "Patch.h"
#include "RunTool.h"

namespace {

// A render's patch file and its options take the same sample rates and
// block sizes: the host's ranges, the rate in whole Hz for the WAV file.
// The option is tried on a patch that does not exist, so that an accepted
// value ends in "cannot open" (exit 1) and a refused one in a usage error.
TEST(RunRanges, ThePatchAndTheRenderOptionsAgree) {
    const struct {
        const char* key;
        const char* option;
        const char* value;
        bool accepted;
    } cases[] = {
        {"sample_rate", "--sample-rate", "1", true},          {"sample_rate", "--sample-rate", "44100", true},
        {"sample_rate", "--sample-rate", "10000000", true},   {"sample_rate", "--sample-rate", "0", false},
        {"sample_rate", "--sample-rate", "10000001", false},  {"sample_rate", "--sample-rate", "44100.5", false},
        {"sample_rate", "--sample-rate", "768001", true},     {"block_size", "--block-size", "1", true},
        {"block_size", "--block-size", "1048576", true},      {"block_size", "--block-size", "65537", true},
        {"block_size", "--block-size", "0", false},           {"block_size", "--block-size", "1048577", false},
        {"block_size", "--block-size", "2.5", false},
    };
    for (const auto& c : cases) {
        sephost::render::Patch patch;
        std::string error;
        const bool read = sephost::render::ReadPatchText(
            std::string(R"({"modules": [{"name": "m", "sep": "m.sep"}], ")") + c.key + "\": " + c.value + "}",
            "p.json", &patch, &error);
        EXPECT_EQ(read, c.accepted) << c.key << " " << c.value << ": " << error;
        if (!read) {
            EXPECT_NE(error.find("(the host's range)"), std::string::npos) << error;
        }
        const ToolOutput run =
            RunTool(std::string("render /nonexistent/p.json -o /nonexistent/o.wav ") + c.option + " " + c.value, true);
        EXPECT_EQ(run.status, c.accepted ? 1 : 2) << c.option << " " << c.value << ": " << run.out;
    }
}

}  // namespace
