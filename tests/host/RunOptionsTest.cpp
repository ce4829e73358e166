// The run options every running command shares: values within the host's
// ranges are taken, everything else is an error that names the range.
#include <gtest/gtest.h>

#include <algorithm>

#include "RunOptions.h"

namespace {

// Parses `args` with the run options alone; the refusal's text, or "".
std::string Parse(std::vector<std::string> args, septool::RunOptions* options) {
    CLI::App app;
    septool::AddRunOptions(app, options);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& error) {
        return error.what();
    }
    return "";
}

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
        {{"--voices", "2", "--voices", "5"}, 44100.0, 1024, 44100, 5},
        {{"--block=64", "--rate", "96000"}, 96000.0, 64, 44100, 1},
    };
    for (const auto& c : cases) {
        septool::RunOptions options;
        EXPECT_EQ(Parse(c.args, &options), "") << c.args[0] << " " << c.args[1];
        EXPECT_EQ(options.rate, c.rate) << c.args[0];
        EXPECT_EQ(options.block, c.block) << c.args[0];
        EXPECT_EQ(options.samples, c.samples) << c.args[0];
        EXPECT_EQ(options.voices, c.voices) << c.args[0];
    }
}

TEST(RunOptions, MalformedAndOutOfRangeValuesNameTheRange) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
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
        EXPECT_EQ(Parse(c.args, &options), c.error);
        EXPECT_EQ(options.voices, 1) << "a refused value changes nothing: " << c.error;
    }
    septool::RunOptions options;
    EXPECT_NE(Parse({"--block"}, &options).find("--block"), std::string::npos) << "a missing value names the option";
    EXPECT_NE(Parse({"--trace"}, &options), "") << "only the run options are known";
}

}  // namespace
