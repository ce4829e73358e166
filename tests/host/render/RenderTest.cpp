// Renders through the real plug-ins, in process: notes land on their sample
// clocks whatever the block size, voices play as the host assigns them,
// pitches reach the oscillator, and a render repeats bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Patch.h"
#include "Render.h"

namespace {

using namespace sephost::render;

class Recorder : public StereoConsumer {
public:
    bool Consume(const float* left, const float* right, int32_t samples, std::string*) override {
        this->left.insert(this->left.end(), left, left + samples);
        this->right.insert(this->right.end(), right, right + samples);
        ++blocks;
        return true;
    }
    std::vector<float> left, right;
    int blocks = 0;
};

// `modules_and_more` is the patch's JSON without its braces; @ULVO@ and
// @TESSARN@ stand for the built plug-ins.
Recorder RenderText(std::string text, double rate, int32_t block, double seconds, const std::vector<Note>& notes,
                    RenderSummary* summary_out = nullptr) {
    for (const auto& [mark, path] : {std::make_pair(std::string("@ULVO@"), std::string(ULVO_SEP_PATH)),
                                     std::make_pair(std::string("@TESSARN@"), std::string(TESSARN_SEP_PATH))})
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), path);
    Patch patch;
    std::string error;
    Recorder recorder;
    EXPECT_TRUE(ReadPatchText("{" + text + "}", "test.json", &patch, &error)) << error;
    RenderSettings settings;
    settings.sample_rate = rate;
    settings.block_size = block;
    settings.seconds = seconds;
    RenderSummary summary;
    EXPECT_TRUE(Render(patch, notes, settings, {&recorder}, &summary, &error)) << error;
    EXPECT_EQ(summary.frames, recorder.left.size());
    if (summary_out != nullptr) *summary_out = summary;
    return recorder;
}

// A plain cosine at the note's pitch: no partials above the fundamental.
const char kSine[] = R"("modules": [{"name": "osc", "sep": "@ULVO@", "voices": 2,
      "pins": {"N": 0, "fund": 10}, "play": {"pitch": "fc", "gate": "gate", "sync": "sync"}}],
    "nodes": [{"name": "out", "type": "output"}],
    "connections": [["osc.outputl", "out.left"], ["osc.outputr", "out.right"]])";

TEST(RenderOnset, NotesStartAndEndOnTheirSamplesWhateverTheBlockSize) {
    // At 10 kHz, in samples: A 1234..1734 on voice 0, B 1250..1850 on voice
    // 1, C 1900..1950 on voice 0 again (silent longer than voice 1).
    const std::vector<Note> notes = {
        {0.1234, 0.05, 450.0, 100, ""}, {0.125, 0.06, 550.0, 100, ""}, {0.19, 0.005, 660.0, 100, ""}};
    for (int32_t block : {1, 64, 100, 256, 1000, 4096}) {
        const Recorder r = RenderText(kSine, 10000.0, block, 0.2, notes);
        ASSERT_EQ(r.left.size(), 2000u) << "block " << block;
        EXPECT_EQ(r.blocks, (2000 + block - 1) / block) << "block " << block;
        for (size_t k = 0; k < 1234; ++k) ASSERT_EQ(r.left[k], 0.0f) << "block " << block << " sample " << k;
        // A note's first sample is the carrier at phase 0: 0.5 x cos 0. On
        // C that holds only if its sync reset the phase A left behind (45
        // half-cycles on: cos -1).
        EXPECT_NEAR(r.left[1234], 0.5f, 1e-6f) << "block " << block;
        EXPECT_NEAR(r.left[1900], 0.5f, 1e-6f) << "block " << block;
        EXPECT_NE(r.left[1849], 0.0f) << "block " << block;
        for (size_t k = 1850; k < 1900; ++k) ASSERT_EQ(r.left[k], 0.0f) << "block " << block << " sample " << k;
        for (size_t k = 1950; k < 2000; ++k) ASSERT_EQ(r.left[k], 0.0f) << "block " << block << " sample " << k;
    }
}

TEST(RenderMemory, TheOutputStreamHoldsOneBlockWhateverTheLength) {
    // Two clones with two outputs each: four outputs of one block.
    size_t held[2] = {0, 0};
    const double seconds[2] = {0.5, 20.0};
    for (int run = 0; run < 2; ++run) {
        RenderSummary summary;
        RenderText(kSine, 8000.0, 128, seconds[run], {{0.1, seconds[run] - 0.2, 440.0, 100, ""}}, &summary);
        held[run] = summary.stream_high_water;
    }
    EXPECT_EQ(held[0], 4u * 128u);
    EXPECT_EQ(held[1], held[0]);
}

TEST(RenderPitch, OscillatorPlaysTheNotesFrequency) {
    struct Row {
        double hz;
        int crossings;  // rising zero crossings in one second
    } rows[] = {{440.0, 440}, {220.0, 220}, {1000.0, 1000}, {123.4, 123}};
    for (const Row& row : rows) {
        const Recorder r = RenderText(kSine, 44100.0, 256, 1.0, {{0.0, 1.0, row.hz, 100, ""}});
        int crossings = 0;
        for (size_t k = 1; k < r.left.size(); ++k) crossings += r.left[k - 1] < 0.0f && r.left[k] >= 0.0f;
        EXPECT_NEAR(crossings, row.crossings, 1) << row.hz << " Hz";
    }
}

// Each voice an envelope that is 1.0 while its gate is up and 0.0 from the
// sample its gate falls: the output counts the sounding voices.
const char kCounter[] = R"("modules": [{"name": "env", "sep": "@TESSARN@", "voices": 2,
      "pins": {"Attack": 0, "Hold": 0, "FullAttack": "off", "Release": 1000000, "dbmode": 0},
      "play": {"gate": "Gate", "part": "count"}}],
    "nodes": [{"name": "sum", "type": "mix"}, {"name": "out", "type": "output"}],
    "connections": [["env.Signal Out", "sum.in"], ["sum.out", "out.left"]])";

TEST(RenderPolyphony, ThreeNotesOnTwoVoicesStealTheOldest) {
    // Samples at 1000 Hz: A 100..400, B 200..500, C 300..600. C takes A's
    // voice, whose gate falls at 299. D, 620..680, belongs to another part.
    const std::vector<Note> notes = {{0.1, 0.3, 440.0, 100, "count"},
                                     {0.2, 0.3, 550.0, 100, "count"},
                                     {0.3, 0.3, 660.0, 100, "count"},
                                     {0.62, 0.06, 660.0, 100, "other"}};
    const Recorder r = RenderText(kCounter, 1000.0, 64, 0.7, notes);
    ASSERT_EQ(r.left.size(), 700u);
    struct Span {
        size_t from, to;
        float voices;
    } spans[] = {{0, 100, 0.0f},   {100, 200, 1.0f}, {200, 299, 2.0f}, {299, 300, 1.0f},
                 {300, 500, 2.0f}, {500, 600, 1.0f}, {600, 700, 0.0f}};
    for (const Span& s : spans)
        for (size_t k = s.from; k < s.to; ++k) ASSERT_EQ(r.left[k], s.voices) << "sample " << k;
    EXPECT_EQ(r.right, r.left) << "an unconnected right channel follows the left";
}

// Two constant sources: "poly", two voices at 0.5 while their notes are
// held, and "still", one voice at 0.3 from the start (its gate is never
// played, so it stays at its default, high). The nodes' results are known
// sums and products of these.
struct NodeCase {
    const char* name;
    const char* nodes_and_connections;
    float left, right;  // while both notes sound
};

void PrintTo(const NodeCase& c, std::ostream* os) { *os << c.name; }

class RenderNodes : public ::testing::TestWithParam<NodeCase> {};

TEST_P(RenderNodes, ComputeTheirSumsAndProducts) {
    const NodeCase& c = GetParam();
    const std::string text = std::string(R"("modules": [
        {"name": "poly", "sep": "@TESSARN@", "voices": 2, "play": {"gate": "Gate"},
         "pins": {"Attack": 0, "Hold": 0, "FullAttack": "off", "Release": 1000000, "dbmode": 0, "Overall Level": 5}},
        {"name": "still", "sep": "@TESSARN@", "pins": {"Attack": 0, "Hold": 0, "dbmode": 0, "Overall Level": 3}}],)") +
                             c.nodes_and_connections;
    const Recorder r = RenderText(text, 1000.0, 32, 0.3, {{0.1, 0.1, 440.0, 100, ""}, {0.1, 0.1, 550.0, 100, ""}});
    ASSERT_EQ(r.left.size(), 300u);
    EXPECT_NEAR(r.left[150], c.left, 1e-6f);
    EXPECT_NEAR(r.right[150], c.right, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderNodes,
    ::testing::Values(NodeCase{"OutputSumsAllVoices", R"("nodes": [{"name": "out", "type": "output"}],
                 "connections": [["poly.Signal Out", "out.left"], ["still.Signal Out", "out.right"]])",
                               1.0f, 0.3f},
                      NodeCase{"MultiplyVoiceByVoiceThenSum", R"("nodes": [{"name": "vca", "type": "multiply"},
                 {"name": "out", "type": "output"}],
                 "connections": [["poly.Signal Out", "vca.in"], ["still.Signal Out", "vca.in"], ["vca.out", "out.left"]])",
                               0.3f, 0.3f},
                      NodeCase{"MultiplyByItselfSquaresEachVoice", R"("nodes": [{"name": "sq", "type": "multiply"},
                 {"name": "out", "type": "output"}],
                 "connections": [["poly.Signal Out", "sq.in"], ["poly.Signal Out", "sq.in"], ["sq.out", "out.left"]])",
                               0.5f, 0.5f},
                      NodeCase{"MixOfMixesWithGains", R"("nodes": [{"name": "m1", "type": "mix", "gain": 2},
                 {"name": "m2", "type": "mix", "gain": -1}, {"name": "out", "type": "output", "gain": 0.5}],
                 "connections": [["poly.Signal Out", "m1.in"], ["still.Signal Out", "m1.in"], ["m1.out", "m2.in"],
                                 ["still.Signal Out", "m2.in"], ["m2.out", "out.left"], ["m1.out", "out.right"]])",
                               -1.45f, 1.3f},
                      NodeCase{"MultiplyOfASummedMix",
                               R"("nodes": [{"name": "sum", "type": "mix"}, {"name": "vca", "type": "multiply"},
                 {"name": "out", "type": "output"}],
                 "connections": [["poly.Signal Out", "sum.in"], ["sum.out", "vca.in"], ["poly.Signal Out", "vca.in"],
                                 ["vca.out", "out.left"], ["vca.out", "out.right"]])",
                               1.0f, 1.0f}),
    [](const ::testing::TestParamInfo<NodeCase>& info) { return std::string(info.param.name); });

TEST(RenderVelocity, ScalesThePlayedLevelNoteByNote) {
    std::string text = kCounter;
    text.replace(text.find("\"part\": \"count\""), 15, "\"velocity\": \"Overall Level\"");
    // At 1000 Hz: velocity 127 from 100 to 200, then 64 and 1 together.
    const Recorder r = RenderText(text, 1000.0, 16, 0.4,
                                  {{0.1, 0.1, 440.0, 127, ""}, {0.25, 0.1, 440.0, 64, ""}, {0.25, 0.1, 440.0, 1, ""}});
    EXPECT_EQ(r.left[50], 0.0f);
    EXPECT_NEAR(r.left[150], 1.0f, 1e-6f);
    EXPECT_NEAR(r.left[300], 65.0f / 127.0f, 1e-6f);
}

TEST(RenderDeterminism, SameRenderSameBits) {
    const std::string chords = std::string(R"("modules": [{"name": "osc", "sep": "@ULVO@", "voices": 4,
        "pins": {"N": 60, "a": 8, "fm1": 10, "Wave": 7, "cpmode": "dynamic", "combphase": 3, "poly": 3},
        "play": {"pitch": "fc", "sync": "sync"}},
      {"name": "env", "sep": "@TESSARN@", "voices": 4, "pins": {"Attack": 100, "Release": 40, "AttackForm": 3},
        "play": {"gate": "Gate"}}],
      "nodes": [{"name": "vl", "type": "multiply"}, {"name": "vr", "type": "multiply"},
                {"name": "out", "type": "output", "gain": 0.25}],
      "connections": [["env.Signal Out", "osc.gate"], ["osc.outputl", "vl.in"], ["env.Signal Out", "vl.in"],
        ["osc.outputr", "vr.in"], ["env.Signal Out", "vr.in"], ["vl.out", "out.left"], ["vr.out", "out.right"]])");
    std::vector<Note> notes;
    for (int i = 0; i < 6; ++i) notes.push_back({0.05 * i, 0.12, 220.0 * (1 + i % 4), 100, ""});
    const Recorder a = RenderText(chords, 22050.0, 100, 0.5, notes);
    const Recorder b = RenderText(chords, 22050.0, 100, 0.5, notes);
    ASSERT_EQ(a.left.size(), 11025u);
    float peak = 0.0f;
    for (float v : a.left) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.01f) << "the patch makes sound";
    EXPECT_EQ(std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)), 0);
}

}  // namespace

namespace {

// The demo through the renderer with the host's run-by-run fill of driven
// inputs and with its sample-by-sample reference: every output sample the
// same, bit for bit, at the demo's block size and at an odd one.
TEST(RenderFill, TheDemoIsTheSameWithEitherFill) {
    Patch patch;
    std::vector<Note> notes;
    std::string error;
    ASSERT_TRUE(ReadPatchFile(std::string(SOURCE_DIR) + "/examples/demo-patch.json", &patch, &error)) << error;
    ASSERT_TRUE(ReadScoreFile(std::string(SOURCE_DIR) + "/examples/demo-score.json", &notes, &error)) << error;
    for (const int32_t block : {256, 37}) {
        Recorder recorders[2];
        for (const bool by_sample : {false, true}) {
            RenderSettings settings;
            settings.block_size = block;
            settings.seconds = 0.5;
            settings.plugin_folders = {std::string(ULVO_SEP_PATH).substr(0, std::string(ULVO_SEP_PATH).rfind('/'))};
            settings.fill_driven_by_sample = by_sample;
            RenderSummary summary;
            ASSERT_TRUE(Render(patch, notes, settings, {&recorders[by_sample ? 1 : 0]}, &summary, &error)) << error;
            ASSERT_GT(summary.peak, 0.01f) << "the demo sounds in its first half second";
        }
        ASSERT_EQ(recorders[0].left.size(), 22050u);
        ASSERT_EQ(recorders[1].left.size(), 22050u);
        EXPECT_EQ(std::memcmp(recorders[0].left.data(), recorders[1].left.data(), 22050 * sizeof(float)), 0)
            << "block " << block;
        EXPECT_EQ(std::memcmp(recorders[0].right.data(), recorders[1].right.data(), 22050 * sizeof(float)), 0)
            << "block " << block;
    }
}

}  // namespace
