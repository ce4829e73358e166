// `sep-host render` with the test effect (tests/host/fixtures/onepole.cpp):
// what it renders is what its one-pole maths gives, sample for sample.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <vector>

#include "RenderToolFixture.h"

namespace {

// The left channel of a float WAV; empty when it cannot be read.
std::vector<float> ReadLeft(const std::string& path) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<float> left;
    for (size_t k = 0; k < frames.size(); k += static_cast<size_t>(info.channels)) left.push_back(frames[k]);
    return left;
}

// The fixture's maths, one float operation at a time as the module does.
std::vector<float> OnePole(const std::vector<float>& in, const std::vector<float>& fraction,
                           const std::vector<int>& highpass) {
    std::vector<float> out(in.size());
    float state = 0.0f;
    for (size_t k = 0; k < in.size(); ++k) {
        const float towards = in[k] - state;
        state = state + fraction[k] * towards;
        out[k] = highpass[k] != 0 ? in[k] - state : state;
    }
    return out;
}

std::string EffectPatch(const std::string& pins) {
    return std::string(R"({"sample_rate": 1000, "block_size": 16,
      "modules": [{"name": "fx", "sep": ")") + ONEPOLE_SEP_PATH + R"(", "pins": {)" + pins + R"(}}],
      "nodes": [{"name": "out", "type": "output"}],
      "connections": [["fx.out", "out.left"]]})";
}

struct SettingCase {
    const char* name;
    std::string pins;
    float in, fraction;
    int highpass;
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class EffectSettings : public ::testing::TestWithParam<SettingCase> {};

// A step at clock 0 (the input set by the patch) through the filter.
TEST_P(EffectSettings, RendersTheStepResponse) {
    const SettingCase& c = GetParam();
    const std::string patch = PatchFile("fx.json", EffectPatch(c.pins));
    const std::string wav = Folder() + "/fx.wav";
    const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' --seconds 0.05 --quiet");
    ASSERT_EQ(run.status, 0) << run.out;
    const size_t n = 50;
    const std::vector<float> expected =
        OnePole(std::vector<float>(n, c.in), std::vector<float>(n, c.fraction), std::vector<int>(n, c.highpass));
    const std::vector<float> got = ReadLeft(wav);
    ASSERT_EQ(got.size(), n);
    for (size_t k = 0; k < n; ++k) {
        ASSERT_EQ(got[k], expected[k]) << "sample " << k;
    }
    // The halving step response is exact: 0.5 * (1 - 0.5^(k + 1)).
    if (c.fraction == 0.5f && c.highpass == 0) {
        EXPECT_EQ(got[2], 0.4375f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectSettings,
    ::testing::Values(SettingCase{"LowpassHalving", R"("in": 5, "cutoff": 5)", 0.5f, 0.5f, 0},
                      SettingCase{"HighpassByLabel", R"("in": 5, "cutoff": 5, "mode": "highpass")", 0.5f, 0.5f, 1},
                      SettingCase{"HighpassByValue", R"("in": -8, "cutoff": 2.5, "mode": 1)", -0.8f, 0.25f, 1},
                      SettingCase{"FullCutoffPasses", R"("in": 3)", 0.3f, 1.0f, 0},
                      SettingCase{"CutoffBeyondRangeHeld", R"("in": 5, "cutoff": 40)", 0.5f, 1.0f, 0},
                      SettingCase{"NegativeCutoffHolds", R"("in": 5, "cutoff": -10)", 0.5f, 0.0f, 0}),
    [](const ::testing::TestParamInfo<SettingCase>& info) { return std::string(info.param.name); });

}  // namespace
