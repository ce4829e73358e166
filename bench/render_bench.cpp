// A render through sep-host's renderer, as `sep-host render` runs it: the
// demo (examples/) and a 16-voice patch (16 ulvo clones, each under its own
// tessarn clone, a chord every half second so that every voice's pitch,
// sync and gate are driven). Each is timed with the host's run-by-run fill
// of driven inputs (fill 0) and with its sample-by-sample reference (fill
// 1), in one process, so that the ratio of the two is the figure to read.
// That ratio is the fill's gain alone: the renderer's later cuts (checks by
// bits, nodes without identity operations) speed up both fills, so fill 1
// is not the host as it was before; docs/performance.md compares with that
// host side by side.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "Patch.h"
#include "Render.h"
#include "Score.h"

namespace {

using namespace sephost::render;

class Discard : public StereoConsumer {
public:
    bool Consume(const float* left, const float*, int32_t samples, std::string*) override {
        benchmark::DoNotOptimize(left[samples - 1]);
        return true;
    }
};

const char kSixteenVoices[] = R"({
  "sample_rate": 44100, "block_size": 256,
  "modules": [
    {"name": "osc", "sep": "ulvo.sep", "voices": 16,
     "pins": {"N": 40, "a": 8, "fm1": 10, "Wave": 10, "poly": 16, "cpmode": "static"},
     "play": {"pitch": "fc", "sync": "sync"}},
    {"name": "env", "sep": "tessarn.sep", "voices": 16,
     "pins": {"Attack": 20, "Decay": 10, "Sustain": 7, "Release": 10},
     "play": {"gate": "Gate", "velocity": "Overall Level"}}],
  "nodes": [{"name": "vca", "type": "multiply"}, {"name": "out", "type": "output", "gain": 0.05}],
  "connections": [["osc.outputl", "vca.in"], ["env.Signal Out", "vca.in"], ["vca.out", "out.left"]]})";

struct Case {
    Patch patch;
    std::vector<Note> notes;
};

bool Load(int which, Case* c, std::string* error) {
    if (which == 0)
        return ReadPatchFile(std::string(SOURCE_DIR) + "/examples/demo-patch.json", &c->patch, error) &&
               ReadScoreFile(std::string(SOURCE_DIR) + "/examples/demo-score.json", &c->notes, error);
    if (!ReadPatchText(kSixteenVoices, "sixteen-voices.json", &c->patch, error)) return false;
    for (int chord = 0; chord < 8; ++chord)
        for (int voice = 0; voice < 16; ++voice) {
            Note note;
            note.start = 0.5 * chord;
            note.length = 0.45;
            note.hz = 110.0 * (1.0 + 0.25 * voice + 0.01 * chord);
            note.velocity = 100;
            c->notes.push_back(note);
        }
    return true;
}

// range(0): 0 the demo, 1 sixteen voices; range(1): 1 the reference fill.
void RenderTwoSeconds(benchmark::State& state) {
    Case c;
    std::string error;
    if (!Load(static_cast<int>(state.range(0)), &c, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    RenderSettings settings;
    settings.sample_rate = 44100.0;
    settings.block_size = 256;
    settings.seconds = 2.0;
    settings.plugin_folders = {PLUGIN_DIR};
    settings.fill_driven_by_sample = state.range(1) != 0;
    Discard discard;
    for (auto _ : state) {
        RenderSummary summary;
        if (!Render(c.patch, c.notes, settings, {&discard}, &summary, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * 88200);
    state.SetLabel(std::string(state.range(0) == 0 ? "demo" : "16 voices") +
                   (state.range(1) != 0 ? ", sample-by-sample fill" : ", run-by-run fill"));
}
BENCHMARK(RenderTwoSeconds)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
