// `sep-host render` with the test effect (tests/host/fixtures/onepole.cpp):
// what it renders is what its one-pole maths gives, sample for sample, with
// its pins set by the patch or fed from a sound file ("file" nodes, alone or
// through nodes, `--input`).
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
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

// A float WAV of `channels` interleaved channels.
void WriteWav(const std::string& path, int rate, int channels, const std::vector<float>& interleaved) {
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path;
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(file);
}

std::string EffectPatch(const std::string& pins) {
    return std::string(R"({"sample_rate": 1000, "block_size": 16,
      "modules": [{"name": "fx", "sep": ")") +
           ONEPOLE_SEP_PATH + R"(", "pins": {)" + pins + R"(}}],
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

namespace {

// A step of 0.5 after 10 samples of silence, 40 samples in all: the file
// ends while the filter still moves, and silence follows.
std::vector<float> Step() {
    std::vector<float> step(40, 0.5f);
    std::fill(step.begin(), step.begin() + 10, 0.0f);
    return step;
}

// The step as channel 1 and a cutoff of 0.5 rising to 1 after 25 samples
// (and 0 once the file has ended) as channel 2.
std::vector<float> StepAndCutoff() {
    std::vector<float> frames;
    const std::vector<float> step = Step();
    for (size_t k = 0; k < step.size(); ++k) {
        frames.push_back(step[k]);
        frames.push_back(k < 25 ? 0.5f : 1.0f);
    }
    return frames;
}

std::string FilePatch(const std::string& nodes, const std::string& connections, const std::string& fx) {
    return std::string(R"({"sample_rate": 1000, "tail": 0.03,
      "modules": [{"name": "fx", "sep": ")") +
           ONEPOLE_SEP_PATH + R"(", )" + fx + R"(}],
      "nodes": [)" +
           nodes + R"(, {"name": "out", "type": "output"}],
      "connections": [)" +
           connections + R"(]})";
}

struct FileCase {
    const char* name;
    std::string nodes, connections, fx;
    bool stereo;  // the file is StepAndCutoff(), else Step()
    std::vector<int32_t> blocks;
    // Per voice its input, cutoff and mode per sample, for 70 samples (40
    // of file, 30 of tail); the output sums the voices.
    std::vector<std::vector<float>> in, fraction;
    std::vector<int> highpass;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

std::vector<float> Padded(std::vector<float> v, float after) {
    v.resize(70, after);
    return v;
}

std::vector<float> Scaled(std::vector<float> v, float gain) {
    for (float& sample : v) sample *= gain;
    return v;
}

const std::vector<float> kHalf(70, 0.5f);
const std::vector<int> kLow(70, 0);

std::vector<float> Channel(const std::vector<float>& frames, size_t c) {
    std::vector<float> out;
    for (size_t k = c; k < frames.size(); k += 2) out.push_back(frames[k]);
    return out;
}

class EffectFromFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(EffectFromFile, RendersTheFilterOfTheFile) {
    const FileCase& c = GetParam();
    const std::string folder = Folder();
    if (c.stereo)
        WriteWav(folder + "/step.wav", 1000, 2, StepAndCutoff());
    else
        WriteWav(folder + "/step.wav", 1000, 1, Step());
    const std::string patch = PatchFile("fx.json", FilePatch(c.nodes, c.connections, c.fx));
    std::vector<float> expected(70, 0.0f);
    for (size_t v = 0; v < c.in.size(); ++v) {
        const std::vector<float> voice = OnePole(c.in[v], c.fraction[v], c.highpass);
        for (size_t k = 0; k < expected.size(); ++k) expected[k] += voice[k];
    }
    for (int32_t block : c.blocks) {
        SCOPED_TRACE("block " + std::to_string(block));
        const std::string wav = folder + "/fx.wav";
        // No score and no --seconds: the file's 40 samples and the tail's 30.
        const ToolOutput run =
            RunRender("'" + patch + "' -o '" + wav + "' --quiet --block-size " + std::to_string(block));
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<float> got = ReadLeft(wav);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k], expected[k]) << "sample " << k;
        }
    }
}

const std::string kFile = R"({"name": "src", "type": "file", "file": "step.wav"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectFromFile,
    ::testing::Values(FileCase{"StepThroughLowpass",
                               kFile,
                               R"(["src.out", "fx.in"], ["fx.out", "out.left"])",
                               R"("pins": {"cutoff": 5})",
                               false,
                               {16, 1, 7, 64},
                               {Padded(Step(), 0.0f)},
                               {kHalf},
                               kLow},
                      FileCase{"StepThroughHighpassByChannel",
                               kFile,
                               R"(["src.1", "fx.in"], ["fx.out", "out.left"])",
                               R"("pins": {"cutoff": 2.5, "mode": "highpass"})",
                               false,
                               {16},
                               {Padded(Step(), 0.0f)},
                               {std::vector<float>(70, 0.25f)},
                               std::vector<int>(70, 1)},
                      // A mix node reading only the file is computed before the block.
                      FileCase{"ThroughAMixNodeWithGain",
                               kFile + R"(, {"name": "m", "type": "mix", "gain": 2})",
                               R"(["src.out", "m.in"], ["m.out", "fx.in"], ["fx.out", "out.left"])",
                               R"("pins": {"cutoff": 5})",
                               false,
                               {16, 5},
                               {Padded(Scaled(Step(), 2.0f), 0.0f)},
                               {kHalf},
                               kLow},
                      // Channel 2 drives the cutoff as a streamed input that comes to rest.
                      FileCase{"SecondChannelDrivesTheCutoff",
                               kFile,
                               R"(["src.1", "fx.in"], ["src.2", "fx.cutoff"], ["fx.out", "out.left"])",
                               "\"voices\": 1",
                               true,
                               {16, 1, 10},
                               {Padded(Channel(StepAndCutoff(), 0), 0.0f)},
                               {Padded(Channel(StepAndCutoff(), 1), 0.0f)},
                               kLow},
                      // Two channels as two voices, clone by clone; the output sums both.
                      FileCase{"ChannelsFeedVoicesOneByOne",
                               kFile,
                               R"(["src.out", "fx.in"], ["fx.out", "out.left"])",
                               R"("voices": 2, "pins": {"cutoff": 5})",
                               true,
                               {16, 3},
                               {Padded(Channel(StepAndCutoff(), 0), 0.0f), Padded(Channel(StepAndCutoff(), 1), 0.0f)},
                               {kHalf, kHalf},
                               kLow},
                      // The file straight to the output node, no module in between: the
                      // same as a filter that passes everything.
                      FileCase{"FileToTheOutput",
                               kFile,
                               R"(["src.1", "out.left"])",
                               R"("pins": {"cutoff": 5})",
                               false,
                               {16},
                               {Padded(Step(), 0.0f)},
                               {std::vector<float>(70, 1.0f)},
                               kLow}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

struct FileErrorCase {
    const char* name;
    std::string patch_file;  // the file the patch names
    std::string nodes, connections;
    std::string options;
    int status;
    std::vector<std::string> says;
    bool second_module = false;  // a second effect "fx2"
};

void PrintTo(const FileErrorCase& c, std::ostream* os) { *os << c.name; }

class EffectFileErrors : public ::testing::TestWithParam<FileErrorCase> {};

// step.wav is at 1000 Hz, rate48k.wav at 48000 Hz; missing.wav is not there.
TEST_P(EffectFileErrors, FailWithTheirReason) {
    const FileErrorCase& c = GetParam();
    const std::string folder = Folder();
    WriteWav(folder + "/step.wav", 1000, 1, Step());
    WriteWav(folder + "/rate48k.wav", 48000, 1, Step());
    WriteWav(folder + "/stereo.wav", 1000, 2, StepAndCutoff());
    std::remove((folder + "/missing.wav").c_str());
    if (access((folder + "/fifo.wav").c_str(), F_OK) != 0) {
        ASSERT_EQ(mkfifo((folder + "/fifo.wav").c_str(), 0600), 0);
    }
    const std::string nodes = R"({"name": "src", "type": "file", "file": ")" + c.patch_file + "\"}" + c.nodes;
    const std::string patch = PatchFile(
        "fx.json",
        FilePatch(nodes, R"(["src.out", "fx.in"], ["fx.out", "out.left"])" + c.connections,
                  c.second_module ? std::string(R"("voices": 1}, {"name": "fx2", "sep": ")") + ONEPOLE_SEP_PATH + "\""
                                  : std::string("\"voices\": 1")));
    const std::string wav = folder + "/fx.wav";
    std::remove(wav.c_str());
    std::string options = c.options;
    for (size_t at; (at = options.find("@DIR@")) != std::string::npos;) options.replace(at, 5, folder);
    const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' --quiet " + options);
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const std::string& text : c.says) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    if (c.status == 0) {
        EXPECT_EQ(ReadLeft(wav).size(), 70u);
    } else {
        EXPECT_TRUE(ReadLeft(wav).empty()) << "a failed render writes no WAV";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectFileErrors,
    ::testing::Values(FileErrorCase{"RateMismatchNamesBoth",
                                    "rate48k.wav",
                                    "",
                                    "",
                                    "",
                                    1,
                                    {"node \"src\"", "rate48k.wav is at 48000 Hz, the render at 1000 Hz"}},
                      FileErrorCase{"RateMismatchWithTheRateOption",
                                    "step.wav",
                                    "",
                                    "",
                                    "--sample-rate 44100",
                                    1,
                                    {"step.wav is at 1000 Hz, the render at 44100 Hz"}},
                      FileErrorCase{"MissingFile", "missing.wav", "", "", "", 1, {"node \"src\"", "missing.wav"}},
                      // A FIFO would block the read: refused before libsndfile opens it.
                      FileErrorCase{"FifoIsRefused", "fifo.wav", "", "", "", 1, {"fifo.wav", "not a regular file"}},
                      FileErrorCase{"NotASoundFile", "fx.json", "", "", "", 1, {"fx.json: cannot read the sound file"}},
                      FileErrorCase{"InputReplacesTheFile", "missing.wav", "", "", "--input src=@DIR@/step.wav", 0, {}},
                      FileErrorCase{"InputReplacesWithAMismatch",
                                    "step.wav",
                                    "",
                                    "",
                                    "--input src=@DIR@/rate48k.wav",
                                    1,
                                    {"rate48k.wav is at 48000 Hz, the render at 1000 Hz"}},
                      FileErrorCase{"InputNamesNoFileNode",
                                    "step.wav",
                                    "",
                                    "",
                                    "--input out=@DIR@/step.wav",
                                    1,
                                    {"the patch has no file node \"out\" (its file nodes: \"src\")"}},
                      FileErrorCase{
                          "InputWithoutAFile", "step.wav", "", "", "--input src", 2, {"--input needs NODE=FILE"}},
                      // A node reading a module output would need the block it is in.
                      FileErrorCase{"NodeOfModuleOutputsCannotFeedAModule",
                                    "step.wav",
                                    R"(, {"name": "m", "type": "mix"})",
                                    R"(, ["fx.out", "m.in"], ["m.out", "fx2.in"])",
                                    "",
                                    1,
                                    {"node \"m\" reads module outputs"},
                                    true},
                      FileErrorCase{"VoiceCountsMustMatch", "stereo.wav", "", "", "", 1, {"2 voices cannot feed 1"}}),
    [](const ::testing::TestParamInfo<FileErrorCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The lane's straight line as the host computes it: in double between the
// points' float values.
float Line(float from, float to, double fraction) {
    return static_cast<float>(static_cast<double>(from) + (static_cast<double>(to) - from) * fraction);
}

struct LaneCase {
    const char* name;
    std::string automation;
    std::vector<float> fraction;  // 60 samples
    std::vector<int> highpass;
    std::string score = "";       // the patch's "score", with lanes of its own
    std::string score_file = "";  // a score given with --score, in place of the patch's
};

void PrintTo(const LaneCase& c, std::ostream* os) { *os << c.name; }

class EffectAutomation : public ::testing::TestWithParam<LaneCase> {};

// A step of 0.5 from clock 0 (the "in" pin set), the lanes on "cutoff" and
// "mode": every sample is the filter's maths with the lane's values, so a
// change landing one sample early or late fails.
TEST_P(EffectAutomation, ChangesLandOnTheirSamples) {
    const LaneCase& c = GetParam();
    const std::string patch = PatchFile("fx.json", std::string(R"({"sample_rate": 1000,
      "modules": [{"name": "fx", "sep": ")") + ONEPOLE_SEP_PATH +
                                                       R"(", "pins": {"in": 5},
                   "automation": {)" + c.automation + R"(}}],)" +
                                                       (c.score.empty() ? "" : "\"score\": " + c.score + ",") + R"(
      "nodes": [{"name": "out", "type": "output"}], "connections": [["fx.out", "out.left"]]})");
    std::string options;
    if (!c.score_file.empty()) options = " --score '" + PatchFile("score.json", c.score_file) + "'";
    const std::vector<float> expected = OnePole(std::vector<float>(60, 0.5f), c.fraction, c.highpass);
    for (int32_t block : {16, 1, 7}) {
        SCOPED_TRACE("block " + std::to_string(block));
        const std::string wav = Folder() + "/fx.wav";
        const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' --quiet --seconds 0.06 --block-size " +
                                         std::to_string(block) + options);
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<float> got = ReadLeft(wav);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k], expected[k]) << "sample " << k;
        }
    }
}

std::vector<float> LinearCutoff() {  // 5 V to 10 V over 40 ms, then held
    std::vector<float> v(60, 1.0f);
    for (size_t k = 0; k < 40; ++k) v[k] = Line(0.5f, 1.0f, static_cast<double>(k) / 40.0);
    return v;
}

std::vector<float> Steps(size_t at, float before, float after) {
    std::vector<float> v(60, after);
    std::fill(v.begin(), v.begin() + static_cast<long>(at), before);
    return v;
}

std::vector<int> ModeWindow(size_t from, size_t to) {
    std::vector<int> v(60, 0);
    for (size_t k = from; k < to; ++k) v[k] = 1;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectAutomation,
    ::testing::Values(
        LaneCase{"ModeSwitchesAtItsSample", R"("mode": [[0, "lowpass"], [0.025, "highpass"], [0.05, 0]])",
                 std::vector<float>(60, 1.0f), ModeWindow(25, 50)},
        LaneCase{"ModeHoldsItsFirstPointBeforeIt", R"("cutoff": [[0, 2.5]], "mode": [[0.013, "highpass"]])",
                 std::vector<float>(60, 0.25f), ModeWindow(0, 60)},
        LaneCase{"LinearCutoffAndModeSwitch",
                 R"("cutoff": [[0, 5], [0.04, 10]], "mode": [[0, "lowpass"], [0.025, "highpass"]])", LinearCutoff(),
                 ModeWindow(25, 60)},
        LaneCase{"SteppedCutoff", R"("cutoff": {"points": [[0, 5], [0.03, 10]], "interpolation": "step"})",
                 Steps(30, 0.5f, 1.0f), ModeWindow(0, 0)},
        LaneCase{"JumpAtOneTime", R"("cutoff": [[0.02, 2.5], [0.02, 7.5], [0.06, 7.5]])", Steps(20, 0.25f, 0.75f),
                 ModeWindow(0, 0)},
        // At 1200 bpm a beat is 50 ms: a score's lanes count in its beats.
        LaneCase{"ScoreLanesInBeats", "", LinearCutoff(), ModeWindow(25, 60),
                 R"({"tempo": 1200, "notes": [], "automation": {"fx.cutoff": [[0, 5], [0.8, 10]],
                     "fx.mode": [[0, "lowpass"], [0.5, "highpass"]]}})"},
        LaneCase{
            "ScoreLanesInSeconds", "", std::vector<float>(60, 1.0f), ModeWindow(25, 50),
            R"({"notes": [], "automation": {"fx.mode": [[0, "lowpass"], [0.025, "highpass"], [0.05, "lowpass"]]}})"},
        // --score replaces the patch's score, its lanes with its notes.
        LaneCase{"ScoreOptionReplacesTheLanes", "", std::vector<float>(60, 1.0f), ModeWindow(10, 60),
                 R"({"notes": [], "automation": {"fx.mode": [[0.025, "highpass"]]}})",
                 R"({"tempo": 6000, "notes": [], "automation": {"fx.mode": [[0, "lowpass"], [1, "highpass"]]}})"}),
    [](const ::testing::TestParamInfo<LaneCase>& info) { return std::string(info.param.name); });

struct LaneErrorCase {
    const char* name;
    std::string module;  // the module's keys after "sep"
    std::string says;
    std::string score = "";
};

void PrintTo(const LaneErrorCase& c, std::ostream* os) { *os << c.name; }

class EffectAutomationErrors : public ::testing::TestWithParam<LaneErrorCase> {};

TEST_P(EffectAutomationErrors, NameTheLaneAndTheFault) {
    const LaneErrorCase& c = GetParam();
    const std::string patch = PatchFile("fx.json", std::string(R"({"sample_rate": 1000,
      "modules": [{"name": "fx", "sep": ")") + ONEPOLE_SEP_PATH +
                                                       "\", " + c.module + R"(}],)" +
                                                       (c.score.empty() ? "" : "\"score\": " + c.score + ",") + R"(
      "nodes": [{"name": "out", "type": "output"}], "connections": [["fx.out", "out.left"]]})");
    const ToolOutput run = RunRender("'" + patch + "' -o '" + Folder() + "/fx.wav' --quiet --seconds 0.01");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.says << "\n" << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffectAutomationErrors,
    ::testing::Values(
        LaneErrorCase{"Output", R"("automation": {"out": [[0, 1]]})", "automation of pin \"out\": it is an output"},
        LaneErrorCase{"AlsoSet", R"("pins": {"cutoff": 5}, "automation": {"cutoff": [[0, 1]]})",
                      "automation of pin \"cutoff\": it is set in \"pins\" too"},
        LaneErrorCase{"ListPinLinear", R"("automation": {"mode": {"points": [[0, 1]], "interpolation": "linear"}})",
                      "a list or integer pin steps"},
        LaneErrorCase{"UnknownLabel", R"("automation": {"mode": [[0, "bandpass"]]})",
                      "\"bandpass\" is not one of its choices"},
        LaneErrorCase{"TimeGoesBack", R"("automation": {"cutoff": [[0.5, 1], [0.25, 2]]})",
                      "the times must not go back"},
        LaneErrorCase{"NoPin", R"("automation": {"q": [[0, 1]]})", "no pin \"q\""},
        LaneErrorCase{"EmptyLane", R"("automation": {"cutoff": []})", "is a list of [time, value] points"},
        LaneErrorCase{"ControllerOutOfRange", R"("cc": {"200": {"pin": "cutoff"}})",
                      "a controller is a number from 0 to 127, or \"bend\""},
        LaneErrorCase{"ControllerOnAnOutput", R"("cc": {"74": {"pin": "out"}})",
                      "\"cc\" 74 to pin \"out\": it is an output"},
        LaneErrorCase{"ControllerChannel", R"("cc": {"bend": {"pin": "cutoff", "channel": 17}})", "\"channel\""},
        LaneErrorCase{"ControllerAndLane", R"("automation": {"cutoff": [[0, 1]]}, "cc": {"74": {"pin": "cutoff"}})",
                      "has a lane or a controller already"},
        LaneErrorCase{"ScoreLaneOfNoModule", R"("voices": 1)",
                      "a score's lane is named \"module.pin\" after a module of the patch (\"fx\")",
                      R"({"notes": [], "automation": {"osc.cutoff": [[0, 1]]}})"},
        LaneErrorCase{"ScoreLaneTwice", R"("automation": {"cutoff": [[0, 1]]})",
                      "the patch has a lane for that pin already",
                      R"({"notes": [], "automation": {"fx.cutoff": [[0, 1]]}})"},
        // 1440 beats at 1 bpm is the day a lane may span.
        LaneErrorCase{"ScoreLaneBeyondADay", R"("voices": 1)", "the time",
                      R"({"tempo": 1, "notes": [], "automation": {"fx.cutoff": [[1441, 1]]}})"}),
    [](const ::testing::TestParamInfo<LaneErrorCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// A format-0 MIDI file of 1000 ticks per quarter note at 120 bpm (a tick is
// 0.5 ms) holding `events`: each a delta time below 128 ticks and its bytes.
std::string MidiWith(const std::vector<std::pair<int, std::string>>& events) {
    std::string track;
    for (const auto& [delta, bytes] : events) track += static_cast<char>(delta) + bytes;
    track += std::string("\x00\xFF\x2F\x00", 4);
    auto big = [](uint32_t v, int n) {
        std::string out;
        for (int k = n - 1; k >= 0; --k) out += static_cast<char>(v >> (8 * k) & 0xFF);
        return out;
    };
    return "MThd" + big(6, 4) + big(0, 2) + big(1, 2) + big(1000, 2) + "MTrk" +
           big(static_cast<uint32_t>(track.size()), 4) + track;
}

// CC 74 of channel 1 mapped to the cutoff over 0..10 V: the cutoff steps at
// the controller's clocks (0, 20 and 40 ms); CC 7 and channel 2 are not
// mapped and change nothing.
TEST(EffectControllers, ControlChangeStepsThePinAtItsSample) {
    const std::string folder = Folder();
    const std::string midi = folder + "/cc.mid";
    WriteFile(midi, MidiWith({{0, std::string("\xB0\x4A\x00", 3)},
                              {10, std::string("\xB0\x07\x40", 3)},
                              {10, std::string("\xB1\x4A\x7F", 3)},
                              {20, std::string("\xB0\x4A\x40", 3)},
                              {40, std::string("\xB0\x4A\x7F", 3)}}));
    const std::string patch = PatchFile("fx.json", std::string(R"({"sample_rate": 1000,
      "modules": [{"name": "fx", "sep": ")") + ONEPOLE_SEP_PATH +
                                                       R"(", "pins": {"in": 5},
                   "cc": {"74": {"pin": "cutoff", "range": [0, 10], "channel": 1}}}],
      "nodes": [{"name": "out", "type": "output"}], "connections": [["fx.out", "out.left"]]})");
    auto fraction_of = [](int value) { return static_cast<float>((0.0 + 10.0 * (value / 127.0)) / 10.0); };
    std::vector<float> fraction(60, fraction_of(0));
    std::fill(fraction.begin() + 20, fraction.begin() + 40, fraction_of(64));
    std::fill(fraction.begin() + 40, fraction.end(), fraction_of(127));
    const std::vector<float> expected = OnePole(std::vector<float>(60, 0.5f), fraction, std::vector<int>(60, 0));
    for (int32_t block : {16, 1}) {
        SCOPED_TRACE("block " + std::to_string(block));
        const std::string wav = folder + "/fx.wav";
        const ToolOutput run = RunRender("'" + patch + "' --midi '" + midi + "' -o '" + wav +
                                         "' --quiet --seconds 0.06 --block-size " + std::to_string(block));
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<float> got = ReadLeft(wav);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k], expected[k]) << "sample " << k;
        }
    }
}

}  // namespace

namespace {

// CC 74 sweeping ulvo's "combfreq" (comb "off": the step per partial): the
// render is the unswept one up to the first change, and differs after it.
TEST(EffectControllers, ControlChangeSweepsUlvoCombfreq) {
    const std::string folder = Folder();
    const std::string midi = folder + "/sweep.mid";
    // A4 held from 0 to 100 ms; CC 74 rises from 20 ms (tick 40) in steps.
    std::vector<std::pair<int, std::string>> events = {{0, std::string("\x90\x45\x64", 3)}};
    for (int step = 0; step < 8; ++step)
        events.push_back({step == 0 ? 40 : 10, std::string("\xB0\x4A", 2) + static_cast<char>(16 * step + 15)});
    events.push_back({80, std::string("\x80\x45\x00", 3)});
    WriteFile(midi, MidiWith(events));
    auto patch_with = [&](const std::string& cc) {
        return PatchFile("osc" + std::to_string(cc.size()) + ".json", std::string(R"({"sample_rate": 44100,
          "modules": [{"name": "osc", "sep": "@ULVO@", "pins": {"N": 40, "fund": 10, "a": 8, "cpmode": "off", "combfreq": 0}, )") +
                                                                          cc +
                                                                          R"(
                       "play": {"pitch": "fc", "gate": "gate", "sync": "sync"}}],
          "nodes": [{"name": "out", "type": "output", "gain": 0.5}], "connections": [["osc.outputl", "out.left"]]})");
    };
    const std::string swept = folder + "/swept.wav", plain = folder + "/plain.wav";
    const ToolOutput a = RunRender("'" + patch_with(R"("cc": {"74": {"pin": "combfreq", "range": [0, 10]}},)") +
                                   "' --midi '" + midi + "' -o '" + swept + "' --quiet --seconds 0.1");
    const ToolOutput b =
        RunRender("'" + patch_with("") + "' --midi '" + midi + "' -o '" + plain + "' --quiet --seconds 0.1");
    ASSERT_EQ(a.status, 0) << a.out;
    ASSERT_EQ(b.status, 0) << b.out;
    const std::vector<float> x = ReadLeft(swept), y = ReadLeft(plain);
    ASSERT_EQ(x.size(), 4410u);
    ASSERT_EQ(y.size(), x.size());
    // The first change: tick 40 is 20 ms, sample 882 at 44.1 kHz; before
    // it CC 74 has said nothing and the pin keeps its setting (0 V).
    size_t first = 0;
    while (first < x.size() && x[first] == y[first]) ++first;
    EXPECT_EQ(first, 882u);
}

}  // namespace

namespace {

// The effect example of the rendering guide, fed a tone at half the sample
// rate: the low-pass passes little of it while its cutoff is low and most
// once it has risen; the high-pass, from 3 s, the other way round as the
// cutoff falls again.
TEST(EffectExample, TheGuidesPatchFiltersAsItSays) {
    const std::string folder = Folder();
    std::vector<float> tone(2 * 6 * 44100);
    for (size_t k = 0; k < tone.size(); ++k) tone[k] = (k / 2) % 2 == 0 ? 0.5f : -0.5f;
    WriteWav(folder + "/nyquist.wav", 44100, 2, tone);
    const std::string fixtures = std::string(ONEPOLE_SEP_PATH).substr(0, std::string(ONEPOLE_SEP_PATH).rfind('/'));
    const std::string wav = folder + "/effect.wav";
    const ToolOutput run = RunRender(std::string("'") + SOURCE_DIR + "/examples/effect-patch.json' --plugins '" +
                                     fixtures + "' --input src='" + folder + "/nyquist.wav' -o '" + wav + "' --quiet");
    ASSERT_EQ(run.status, 0) << run.out;
    const std::vector<float> out = ReadLeft(wav);
    ASSERT_EQ(out.size(), 6u * 44100u);
    auto rms = [&](double from, double to) {
        double sum = 0.0;
        const size_t a = static_cast<size_t>(from * 44100), b = static_cast<size_t>(to * 44100);
        for (size_t k = a; k < b; ++k) sum += static_cast<double>(out[k]) * out[k];
        return std::sqrt(sum / static_cast<double>(b - a));
    };
    EXPECT_LT(rms(0.1, 0.3), 0.1);
    EXPECT_GT(rms(2.7, 2.9), 0.5);
    EXPECT_LT(rms(3.1, 3.3), 0.2);
    EXPECT_GT(rms(5.7, 5.9), 0.5);
}

}  // namespace
