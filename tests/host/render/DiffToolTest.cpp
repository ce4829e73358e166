// `sep-host diff`, the null test of two renders, run as a user runs it: on
// renders of the built plug-ins, and on small files made here whose one
// difference is known.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "RenderToolFixture.h"

namespace {

ToolOutput RunDiff(const std::string& args) { return RunTool("diff " + args, true); }

// One oscillator voice; the note starts at 0.1 s or one sample later.
const char kOscPatch[] = R"({"modules": [{"name": "osc", "sep": "@ULVO@",
    "pins": {"N": 8, "a": 8, "fm1": 10, "Wave": 10}, "play": {"pitch": "fc", "gate": "gate", "sync": "sync"}}],
  "nodes": [{"name": "out", "type": "output", "gain": 0.3}],
  "connections": [["osc.outputl", "out.left"], ["osc.outputr", "out.right"]]})";

TEST(DiffTool, EqualRendersPassAndOneSampleApartFailNamingTheSample) {
    const std::string patch = PatchFile("osc.json", kOscPatch);
    const std::string folder = Folder();
    WriteFile(folder + "/on_time.json", R"([{"start": 0.1, "length": 0.1, "pitch": 60}])");
    // 4410 samples at 44100 Hz, and one more.
    WriteFile(folder + "/late.json", R"([{"start": 0.10002267573696146, "length": 0.1, "pitch": 60}])");
    for (const char* name : {"a", "b", "late"}) {
        const ToolOutput run =
            RunRender("'" + patch + "' -o '" + folder + "/" + name + ".wav' --seconds 0.25 --score '" + folder + "/" +
                      (name[0] == 'l' ? "late" : "on_time") + ".json'");
        ASSERT_EQ(run.status, 0) << run.out;
    }
    const ToolOutput equal = RunDiff("'" + folder + "/a.wav' '" + folder + "/b.wav'");
    EXPECT_EQ(equal.status, 0) << equal.out;
    EXPECT_NE(equal.out.find("are equal: 11025 frames, 2 channels, 44100 Hz"), std::string::npos) << equal.out;
    const ToolOutput apart = RunDiff("'" + folder + "/a.wav' '" + folder + "/late.wav'");
    EXPECT_EQ(apart.status, 1) << apart.out;
    EXPECT_NE(apart.out.find("differ: "), std::string::npos) << apart.out;
    EXPECT_NE(apart.out.find("the first at frame 4410 (0.100000 s), left: "), std::string::npos) << apart.out;
}

// A stereo float file of `frames` frames: a ramp, with the changes given.
struct Change {
    sf_count_t frame;
    int channel;
    float value;
};

std::string MakeWav(const std::string& name, sf_count_t frames, std::vector<Change> changes = {}, int rate = 44100,
                    int channels = 2) {
    std::vector<float> samples(static_cast<size_t>(frames * channels));
    for (size_t k = 0; k < samples.size(); ++k) samples[k] = 0.001f * static_cast<float>(k % 500);
    for (const Change& c : changes) samples[static_cast<size_t>(c.frame * channels + c.channel)] = c.value;
    const std::string path = Folder() + "/" + name;
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return path;
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return path;
}

struct DiffCase {
    const char* name;
    sf_count_t frames;
    std::vector<Change> changes;
    int rate, channels;
    std::string options;
    int status;
    std::vector<std::string> says;
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }

class DiffCases : public ::testing::TestWithParam<DiffCase> {};

TEST_P(DiffCases, SayHowTheFilesDiffer) {
    const DiffCase& c = GetParam();
    const std::string a = MakeWav("a.wav", 100);
    const std::string b = MakeWav("b.wav", c.frames, c.changes, c.rate, c.channels);
    const ToolOutput run = RunDiff(c.options + " '" + a + "' '" + b + "'");
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

const float kNan = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffCases,
    ::testing::Values(
        DiffCase{"Equal", 100, {}, 44100, 2, "", 0, {"are equal: 100 frames, 2 channels, 44100 Hz"}},
        // Frame 37 right holds 0.075 in A; B holds 0.076: -60 dBFS apart.
        DiffCase{"OneSample",
                 100,
                 {{37, 1, 0.076f}},
                 44100,
                 2,
                 "",
                 1,
                 {"differ: 1 of 200 samples; the first at frame 37 (0.000839 s), right: 0.075000003 against "
                  "0.0759999976; the largest difference -60.0 dBFS at frame 37",
                  "the RMS of the difference -83.0 dBFS"}},
        DiffCase{"UnderTheThreshold",
                 100,
                 {{37, 1, 0.076f}},
                 44100,
                 2,
                 "--threshold -50",
                 0,
                 {"within the threshold of -50 dBFS"}},
        DiffCase{"OverTheThreshold",
                 100,
                 {{37, 1, 0.076f}},
                 44100,
                 2,
                 "--threshold -70",
                 1,
                 {"beyond the threshold of -70 dBFS"}},
        DiffCase{"NanAgainstANumber",
                 100,
                 {{5, 0, kNan}, {9, 1, 0.5f}},
                 44100,
                 2,
                 "--threshold 100",
                 1,
                 {"2 of 200 samples; the first at frame 5", "left: 0.0100000007 against nan",
                  "the largest difference +inf dBFS at frame 5"}},
        DiffCase{"ShorterByOneFrame",
                 99,
                 {},
                 44100,
                 2,
                 "--threshold 100",
                 1,
                 {"the lengths differ (100 and 99 frames); 2 of 200 samples; the first at frame 99"}},
        DiffCase{"OtherRate", 100, {}, 48000, 2, "", 1, {"(44100 Hz, 2 channels) with ", "(48000 Hz, 2 channels)"}},
        DiffCase{"OtherChannels", 100, {}, 44100, 1, "", 1, {"cannot compare", "(44100 Hz, 1 channels)"}},
        DiffCase{"ThresholdWithoutLevel",
                 100,
                 {},
                 44100,
                 2,
                 "--threshold",
                 2,
                 {"--threshold needs a number of dBFS from -400 to 400"}}),
    [](const ::testing::TestParamInfo<DiffCase>& info) { return std::string(info.param.name); });

TEST(DiffTool, JsonAndRefusals) {
    const std::string a = MakeWav("a.wav", 100);
    const std::string b = MakeWav("b.wav", 100, {{60, 0, 0.5f}});
    const ToolOutput run = RunTool("diff --json '" + a + "' '" + b + "'");  // stdout alone: the document
    EXPECT_EQ(run.status, 1);
    const nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(doc["equal"], false);
    EXPECT_EQ(doc["differing_samples"], 1);
    EXPECT_EQ(doc["first_difference"]["frame"], 60);
    EXPECT_EQ(doc["first_difference"]["channel"], "left");
    EXPECT_NEAR(doc["largest_difference_dbfs"].get<double>(), 20 * std::log10(0.5 - 0.12), 1e-4);
    EXPECT_EQ(doc["passed"], false);

    const ToolOutput missing = RunDiff("'" + a + "' '" + Folder() + "/none.wav'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("none.wav: cannot open"), std::string::npos) << missing.out;
    EXPECT_EQ(RunDiff("'" + a + "'").status, 2);
}

}  // namespace
