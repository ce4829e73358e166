// `sep-host render` with modules that go wrong: an output holding NaN,
// infinity or samples beyond the ceiling fails the render, names the module
// and pin that went non-finite first and when, and still writes the WAV.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <vector>

#include "RenderToolFixture.h"

namespace {

// bad_values: 0.5 on every output until clock 10, then NaN on "nan",
// infinity on "infinite", 1e-45 on "subnormal" and 0.5 on "clean".
std::string BadPatch(const std::string& pin, double gain) {
    return std::string(R"({"modules": [{"name": "bad", "sep": ")") + BAD_VALUES_SEP_PATH + R"("}],
      "nodes": [{"name": "out", "type": "output", "gain": )" +
           std::to_string(gain) + R"(}],
      "connections": [["bad.)" +
           pin + R"(", "out.left"]]})";
}

struct BadCase {
    const char* name;
    std::string pin;
    double gain;
    std::string options;
    int status;
    std::vector<std::string> says;
    std::vector<std::string> never_says;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class RenderBadOutput : public ::testing::TestWithParam<BadCase> {};

TEST_P(RenderBadOutput, ReportsAndKeepsTheWav) {
    const BadCase& c = GetParam();
    const std::string patch = PatchFile("bad.json", BadPatch(c.pin, c.gain));
    const std::string wav = Folder() + "/bad.wav";
    std::remove(wav.c_str());
    // 441 frames; both channels carry the left input.
    const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' --seconds 0.01 " + c.options);
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    for (const std::string& text : c.never_says)
        EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    if (c.status == 2) return;  // a usage error runs nothing
    SF_INFO info = {};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << "the WAV is written whatever the modules gave";
    EXPECT_EQ(info.frames, 441);
    sf_close(file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderBadOutput,
    ::testing::Values(
        BadCase{"Nan",
                "nan",
                1.0,
                "",
                1,
                {"the output holds 862 NaN samples (the first at 0.000227 s)",
                 "the first non-finite value came from module \"bad\" pin \"nan\" at 0.000227 s (sample clock 10)",
                 "--allow-bad-output accepts"},
                {"infinite"}},
        BadCase{"Infinity",
                "infinite",
                1.0,
                "",
                1,
                {"862 infinite samples", "module \"bad\" pin \"infinite\" at 0.000227 s (sample clock 10)"},
                {"NaN sample"}},
        // 0.5 times 100 is +34 dBFS: finite, but no sound to be heard.
        BadCase{"BeyondTheCeiling",
                "clean",
                100.0,
                "",
                1,
                {"882 samples beyond +24.0 dBFS (the first at 0.000000 s)"},
                {"non-finite"}},
        BadCase{"CeilingRaised", "clean", 100.0, "--ceiling 40", 0, {"peak 34.0 dBFS"}, {"beyond"}},
        BadCase{"CeilingLowered", "clean", 1.0, "--ceiling -10", 1, {"882 samples beyond -10.0 dBFS"}, {}},
        BadCase{"Allowed",
                "nan",
                1.0,
                "--allow-bad-output",
                0,
                {"warning: ", "862 NaN samples", "module \"bad\" pin \"nan\""},
                {}},
        BadCase{"SubnormalIsSound", "subnormal", 1.0, "", 0, {"bad.wav: 0.010 s"}, {"holds"}},
        BadCase{"CeilingOutOfRange",
                "clean",
                1.0,
                "--ceiling loud",
                2,
                {"--ceiling needs a number of dBFS from -200 to 770, not 'loud'"},
                {}}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// In 24-bit PCM, NaN is written as silence; the samples before it as they
// were.
TEST(RenderBadOutputPcm, NanIsWrittenAsZero) {
    const std::string patch = PatchFile("bad.json", BadPatch("nan", 1.0));
    const std::string wav = Folder() + "/bad24.wav";
    const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' --seconds 0.001 --pcm24 --allow-bad-output");
    ASSERT_EQ(run.status, 0) << run.out;
    SF_INFO info = {};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> frames(2 * static_cast<size_t>(info.frames));
    ASSERT_EQ(sf_readf_float(file, frames.data(), info.frames), info.frames);
    sf_close(file);
    ASSERT_EQ(info.frames, 44);
    for (size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(frames[k], k < 20 ? 0.5f : 0.0f) << "sample " << k;
}

// A module that writes NaN feeding another that does too: the one upstream
// is named, though the other was placed first and both go wrong at clock 0.
TEST(RenderBadOutputSource, NamesTheModuleUpstream) {
    const std::string nan_sep = std::string(BROKEN_FIXTURE_DIR) + "/broken_writes_nan.sep";
    const std::string patch = PatchFile("chain.json", R"({"modules": [
        {"name": "downstream", "sep": ")" + nan_sep + R"(", "voices": 2},
        {"name": "upstream", "sep": ")" + nan_sep + R"(", "voices": 2}],
      "nodes": [{"name": "out", "type": "output"}],
      "connections": [["upstream.out", "downstream.in"], ["downstream.out", "out.left"]]})");
    const ToolOutput run = RunRender("'" + patch + "' -o '" + Folder() + "/chain.wav' --seconds 0.01");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("from module \"upstream\" pin \"out\" (voice 1) at 0.000000 s (sample clock 0)"),
              std::string::npos)
        << run.out;
}

}  // namespace
