// The render loop: the score's notes assigned to voices and driven into the
// played pins at their sample clocks, the host run block by block, the
// nodes computed, and each finished stereo block handed to the consumers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Graph.h"
#include "Patch.h"
#include "Score.h"

namespace sephost::render {

// Receives each finished stereo block, in order.
class StereoConsumer {
public:
    virtual ~StereoConsumer() = default;
    virtual bool Consume(const float* left, const float* right, int32_t samples, std::string* error) = 0;
};

// Three hours: a render meant to be longer says so (--max-length).
constexpr double kDefaultMaxRenderSeconds = 3 * 3600.0;

// A finished render whose output passes this level is reported as bad
// (--ceiling DB): no sound meant to be heard is 16 times full scale.
constexpr double kDefaultCeilingDb = 24.0;

struct RenderSettings {
    double sample_rate = 44100.0;
    int32_t block_size = 256;
    double seconds = -1.0;          // the whole length; below 0: the last note's end plus the tail
    double tail = 1.0;              // seconds after the last note's end
    std::vector<Control> controls;  // the MIDI file's control changes and bends, for "cc"
    double input_seconds = 0.0;     // the longest sound file: the render lasts at least this (then the tail)
    double max_seconds = kDefaultMaxRenderSeconds;  // CheckRenderLength refuses longer renders
    double ceiling_db = kDefaultCeilingDb;          // output samples beyond it are counted as bad
    std::vector<std::string> plugin_folders;
    // The host's reference fill of driven inputs (EngineOptions), for the
    // tests and the benchmark that compare it with the run-by-run fill.
    bool fill_driven_by_sample = false;
    // Called after each block with the samples done and the total.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

struct RenderSummary {
    uint64_t frames = 0;
    double sample_rate = 0.0;
    int32_t block_size = 0;
    size_t notes = 0;
    size_t stolen = 0;             // cut short by the host's voice assignment
    size_t dropped = 0;            // lost their voice at their first sample
    float peak = 0.0f;             // largest finite magnitude of either channel
    double rms = 0.0;              // over both channels, finite samples only
    size_t stream_high_water = 0;  // the most output samples the host's stream held at once

    // Samples of the output (both channels) that are NaN, infinite, or
    // finite but beyond the ceiling; each with the frame of its first.
    struct Bad {
        uint64_t samples = 0;
        uint64_t first = 0;
    };
    Bad nan, infinite, beyond;
    float ceiling = 0.0f;  // the settings' ceiling as a magnitude
    // Where the first NaN or infinity of the render came from, in the
    // patch's terms ("module \"osc\" pin \"outputl\" (voice 2)", or a node);
    // empty when every module and node stayed finite.
    std::string first_non_finite;
    uint64_t first_non_finite_clock = 0;

    bool BadOutput() const { return nan.samples + infinite.samples + beyond.samples > 0; }
};

// One sentence on a bad output: what it holds, from where; empty when the
// output is good.
std::string DescribeBadOutput(const RenderSummary& summary);

// The number of samples a render of `notes` lasts under `settings`.
uint64_t RenderLength(const std::vector<Note>& notes, const RenderSettings& settings);

// Before a render: every note starts and ends within the host's 32-bit
// sample clock, and so does the whole render, which lasts at most
// `settings.max_seconds`. Otherwise false with a message naming the note's
// time (`where` names the score) or the length.
bool CheckRenderLength(const std::vector<Note>& notes, const RenderSettings& settings, const std::string& where,
                       std::string* error);

// "2 h 5 min", "3 min 20 s", "12.5 s".
std::string DescribeSeconds(double seconds);

bool Render(const Patch& patch, const std::vector<Note>& notes, const RenderSettings& settings,
            const std::vector<StereoConsumer*>& consumers, RenderSummary* summary, std::string* error);

}  // namespace sephost::render
