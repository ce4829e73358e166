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

struct RenderSettings {
    double sample_rate = 44100.0;
    int32_t block_size = 256;
    double seconds = -1.0;  // the whole length; below 0: the last note's end plus the tail
    double tail = 1.0;      // seconds after the last note's end
    double max_seconds = kDefaultMaxRenderSeconds;  // CheckRenderLength refuses longer renders
    std::vector<std::string> plugin_folders;
    // Called after each block with the samples done and the total.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

struct RenderSummary {
    uint64_t frames = 0;
    double sample_rate = 0.0;
    int32_t block_size = 0;
    size_t notes = 0;
    size_t stolen = 0;   // cut short by the host's voice assignment
    size_t dropped = 0;  // lost their voice at their first sample
    float peak = 0.0f;   // largest magnitude of either channel
    double rms = 0.0;    // over both channels
    size_t stream_high_water = 0;  // the most output samples the host's stream held at once
};

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
