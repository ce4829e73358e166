// `sep-host render` as a user runs it: the files it writes, the options it
// honours, and a clear message with a non-zero exit for each broken input.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "JsonText.h"
#include "RenderToolFixture.h"
#include "Score.h"

namespace {

struct WavInfo {
    sf_count_t frames = -1;
    int rate = 0, channels = 0, format = 0;
};

WavInfo ReadWavInfo(const std::string& path) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    sf_close(file);
    return {info.frames, info.samplerate, info.channels, info.format};
}

TEST(RenderTool, WritesTheWavTheOptionsAskFor) {
    const std::string patch = PatchFile("good.json", kGood);
    struct Row {
        std::string options;
        sf_count_t frames;
        int rate, format;
    } rows[] = {
        // The score ends at 0.4 s; the tail adds one second by default.
        {"", 61740, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"--tail 0.1 --sample-rate 48000", 24000, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"--seconds 0.25 --block-size 7 --pcm24", 11025, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    };
    for (const Row& row : rows) {
        const std::string wav = Folder() + "/good.wav";
        const ToolOutput run = RunRender("'" + patch + "' -o '" + wav + "' " + row.options);
        ASSERT_EQ(run.status, 0) << row.options << "\n" << run.out;
        const WavInfo info = ReadWavInfo(wav);
        EXPECT_EQ(info.frames, row.frames) << row.options;
        EXPECT_EQ(info.rate, row.rate) << row.options;
        EXPECT_EQ(info.channels, 2) << row.options;
        EXPECT_EQ(info.format, row.format) << row.options;
        EXPECT_NE(run.out.find("5 notes"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("real time"), std::string::npos) << run.out;
    }
}

TEST(RenderTool, SameRenderSameFileAndPictures) {
    const std::string patch = PatchFile("good.json", kGood);
    std::string files[2];
    for (int i = 0; i < 2; ++i) {
        const std::string base = Folder() + "/twice" + std::to_string(i);
        const ToolOutput run = RunRender("'" + patch + "' -o '" + base + ".wav' --spectrogram '" + base +
                                         ".png' --waveform '" + base + ".svg' --block-size 64");
        ASSERT_EQ(run.status, 0) << run.out;
        files[i] = ReadFile(base + ".wav");
        EXPECT_EQ(ReadFile(base + ".png").substr(1, 3), "PNG");
        EXPECT_NE(ReadFile(base + ".svg").find("<path"), std::string::npos);
    }
    ASSERT_GT(files[0].size(), 61740u * 8);
    EXPECT_TRUE(files[0] == files[1]) << "two renders of one patch differ";
}

// The demo and every patch behind the docs' pictures still render, and make
// sound within their first second.
TEST(RenderTool, ShippedPatchesRenderAndSound) {
    std::vector<std::string> runs = {std::string("'") + SOURCE_DIR + "/examples/demo-patch.json' --score '" +
                                     SOURCE_DIR + "/examples/demo-score.json'"};
    const std::string folder = std::string(SOURCE_DIR) + "/docs/patches";
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".json")
                runs.push_back("'" + folder + "/" + name + "'");
        }
        closedir(dir);
    }
    ASSERT_GE(runs.size(), 11u);
    for (const std::string& run_args : runs) {
        const ToolOutput run = RunRender(run_args + " --seconds 1 -o '" + Folder() + "/shipped.wav'");
        EXPECT_EQ(run.status, 0) << run_args << "\n" << run.out;
        EXPECT_EQ(run.out.find("peak -inf"), std::string::npos) << run_args << "\n" << run.out;
    }
}

struct Broken {
    const char* name;
    std::string patch;  // empty: the good patch
    std::string options;
    int status;
    std::vector<std::string> says;
};

void PrintTo(const Broken& b, std::ostream* os) { *os << b.name; }

class RenderErrors : public ::testing::TestWithParam<Broken> {};

// Replaces the first `from` in the good patch.
std::string Good(const std::string& from, const std::string& to) {
    std::string text = kGood;
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST_P(RenderErrors, SayWhatIsWrongAndFail) {
    const Broken& b = GetParam();
    const std::string patch = PatchFile("broken.json", b.patch.empty() ? kGood : b.patch);
    const std::string wav = Folder() + "/broken.wav";
    std::remove(wav.c_str());
    std::string options = b.options;
    for (size_t at; (at = options.find("@DIR@")) != std::string::npos;) options.replace(at, 5, Folder());
    const ToolOutput run = RunRender("'" + patch + "' " + options);
    EXPECT_EQ(run.status, b.status) << run.out;
    for (const std::string& text : b.says) EXPECT_NE(run.out.find(text), std::string::npos) << run.out;
    EXPECT_FALSE(std::ifstream(wav).good()) << "a failed render leaves no WAV";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderErrors,
    ::testing::Values(
        Broken{"JsonSyntax",
               "{\"modules\": [\n  {\"name\": \"osc\",, \"sep\": \"x.sep\"}\n]}\n",
               "-o @DIR@/broken.wav",
               1,
               {"broken.json:2:18: JSON syntax error"}},
        Broken{"UnknownPin",
               Good("\"N\": 30", "\"Partials\": 30"),
               "-o @DIR@/broken.wav",
               1,
               {"module \"osc\": no pin \"Partials\"", "\"fc\", \"fm1\", \"N\"", "\"outputr\""}},
        Broken{
            "LabelOutsideChoices",
            Good("\"static\"", "\"stattic\""),
            "-o @DIR@/broken.wav",
            1,
            {"pin \"cpmode\": \"stattic\" is not one of its choices (\"off\", \"static\", \"dynamic\", \"wah-wah\")"}},
        Broken{"ValueOutsideChoices",
               Good("\"N\": 30", "\"poly\": 17"),
               "-o @DIR@/broken.wav",
               1,
               {"pin \"poly\": 17 is not one of its choices (\"1\", \"2\""}},
        Broken{"MissingSep",
               Good("\"sep\": \"@ULVO@\"", "\"sep\": \"nosuch.sep\""),
               "-o @DIR@/broken.wav",
               1,
               {"module \"osc\": cannot find nosuch.sep (looked in "}},
        Broken{"ConnectionToMissingPin",
               Good("\"vca.out\", \"out.left\"", "\"vca.out\", \"out.centre\""),
               "-o @DIR@/broken.wav",
               1,
               {"has no input \"centre\" (inputs: left, right)"}},
        Broken{"ConnectionFromMissingPin",
               Good("\"osc.outputl\", \"vca.in\"", "\"osc.outputx\", \"vca.in\""),
               "-o @DIR@/broken.wav",
               1,
               {"module \"osc\" has no pin \"outputx\" (pins: \"fc\""}},
        Broken{"ConnectionFromAnInput",
               Good("\"osc.outputl\", \"vca.in\"", "\"osc.fc\", \"vca.in\""),
               "-o @DIR@/broken.wav",
               1,
               {"\"fc\" of \"osc\" is an input"}},
        Broken{"ConnectionToAListPin",
               Good("\"env.Signal Out\", \"osc.gate\"", "\"env.Signal Out\", \"osc.cfmode\""),
               "-o @DIR@/broken.wav",
               1,
               {"\"cfmode\" of \"osc\" is not a float-sample pin (it is enum); only float-sample pins connect"}},
        Broken{"NodeIntoModule",
               Good("\"env.Signal Out\", \"osc.gate\"", "\"vca.out\", \"osc.gate\""),
               "-o @DIR@/broken.wav",
               1,
               {"the connections form a cycle: osc -> vca -> osc"}},
        Broken{"Cycle",
               Good("\"env.Signal Out\", \"osc.gate\"",
                    "\"env.Signal Out\", \"osc.gate\"], [\"osc.outputr\", \"env.Sustain\""),
               "-o @DIR@/broken.wav",
               1,
               {"the connections form a cycle: osc -> env -> osc"}},
        Broken{"PlayedPinAlsoSet",
               Good("\"N\": 30", "\"fc\": 3"),
               "-o @DIR@/broken.wav",
               1,
               {"pin \"fc\" is played by the notes"}},
        Broken{"MissingMidi", "", "-o @DIR@/broken.wav --midi @DIR@/none.mid", 1, {"none.mid: cannot open the file"}},
        Broken{"NotMidi",
               "",
               "-o @DIR@/broken.wav --midi @DIR@/broken.json",
               1,
               {"broken.json: at byte 0: not a Standard MIDI File"}},
        Broken{"NoOutputFile", "", "", 2, {"-o is required"}},
        Broken{"ZeroBlock", "", "-o @DIR@/broken.wav --block-size 0", 2, {"--block-size needs a whole number"}},
        Broken{"FractionalRate",
               "",
               "-o @DIR@/broken.wav --rate 44100.5",
               2,
               {"--rate needs a whole number of Hz for the WAV file, not 44100.5"}},
        Broken{"ScoreAndMidi", "", "-o @DIR@/broken.wav --score a.json --midi b.mid", 2, {"--score excludes --midi"}}),
    [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

// A format-0 file at 96 ticks a quarter: 120 bpm, then 60 bpm from tick 96.
const unsigned char kMidi[] = {'M',  'T',  'h',  'd', 0,    0,    0,    6,  0, 0, 0, 1, 0, 96,  //
                               'M',  'T',  'r',  'k', 0,    0,    0,    34,                     //
                               0x00, 0xFF, 0x51, 3,   0x07, 0xA1, 0x20,  // tempo 500000 us a quarter
                               0x00, 0x90, 60,   100,                    // note on C4
                               0x60, 0x80, 60,   64,                     // tick 96: note off
                               0x00, 0xFF, 0x51, 3,   0x0F, 0x42, 0x40,  // tempo 1000000 us a quarter
                               0x00, 0x91, 64,   80,                     // note on E4, channel 2
                               0x30, 0x91, 64,   0,                      // tick 144: note on with velocity 0 ends it
                               0x00, 0xFF, 0x2F, 0};

TEST(RenderMidi, ReadsNotesWithTheirTempo) {
    const std::string path = Folder() + "/song.mid";
    WriteFile(path, std::string(reinterpret_cast<const char*>(kMidi), sizeof kMidi));
    std::vector<sephost::render::Note> notes;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(sephost::render::ReadMidiFile(path, &notes, &warnings, &error)) << error;
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    ASSERT_EQ(notes.size(), 2u);
    struct Expected {
        double start, length, hz;
        int velocity;
        const char* part;  // the channel
    } expected[] = {{0.0, 0.5, 261.6255653, 100, "1"}, {0.5, 0.5, 329.6275569, 80, "2"}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(notes[i].start, expected[i].start, 1e-9) << "note " << i;
        EXPECT_NEAR(notes[i].length, expected[i].length, 1e-9) << "note " << i;
        EXPECT_NEAR(notes[i].hz, expected[i].hz, 1e-6) << "note " << i;
        EXPECT_EQ(notes[i].velocity, expected[i].velocity) << "note " << i;
        EXPECT_EQ(notes[i].part, expected[i].part) << "note " << i;
    }
    // The same file drives a render.
    const std::string patch = PatchFile("good.json", kGood);
    const ToolOutput run = RunRender("'" + patch + "' -o '" + Folder() + "/midi.wav' --midi '" + path + "' --tail 0");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadWavInfo(Folder() + "/midi.wav").frames, 44100);
}

TEST(RenderScore, JsonScoreInBeatsWithChords) {
    const std::string path = Folder() + "/score.json";
    WriteFile(path, R"({"tempo": 90, "notes": [{"start": 1, "length": 2, "pitch": [60, 67], "velocity": 30},
                                        {"start": 0.5, "length": 0.25, "hz": 1000}]})");
    std::vector<sephost::render::Note> notes;
    std::string error;
    ASSERT_TRUE(sephost::render::ReadScoreFile(path, &notes, &error)) << error;
    ASSERT_EQ(notes.size(), 3u);
    const double beat = 60.0 / 90.0;
    struct Expected {
        double start, length, hz;
        int velocity;
    } expected[] = {
        {beat, 2 * beat, 261.6255653, 30}, {beat, 2 * beat, 391.9954360, 30}, {0.5 * beat, 0.25 * beat, 1000.0, 100}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(notes[i].start, expected[i].start, 1e-12) << "note " << i;
        EXPECT_NEAR(notes[i].length, expected[i].length, 1e-12) << "note " << i;
        EXPECT_NEAR(notes[i].hz, expected[i].hz, 1e-6) << "note " << i;
        EXPECT_EQ(notes[i].velocity, expected[i].velocity) << "note " << i;
    }
    WriteFile(path, R"({"notes": [{"start": 0, "length": 1, "pitch": 60, "hz": 440}]})");
    EXPECT_FALSE(sephost::render::ReadScoreFile(path, &notes, &error));
    EXPECT_NE(error.find("note 1: a note needs either \"pitch\" (MIDI note number) or \"hz\""), std::string::npos)
        << error;
}

}  // namespace
