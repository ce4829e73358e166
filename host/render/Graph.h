// A patch made real: its libraries loaded, its modules placed on the host
// with their settings, its connections checked and made, and its utility
// nodes put in the order in which each block computes them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Patch.h"
#include "RenderHost.h"
#include "SoundIn.h"

namespace sephost::render {

// Where a node input reads: the tapped output of each voice of a module, or
// another node's result.
struct Source {
    bool from_node = false;
    int first = 0;  // first tap (one per voice, consecutive), or node index
    int voices = 1;
    int channel = -1;  // a file node's one channel ("1" is 0); -1: every voice
};

struct GraphNode {
    std::string name;
    NodeType type = NodeType::kMix;
    float gain = 1.0f;
    int voices = 1;
    std::vector<Source> in;                  // multiply and mix
    std::vector<Source> left;                // output
    std::vector<Source> right;               // output
    std::vector<std::vector<float>> result;  // per voice, one block
    // Computed before the host runs the block: a file node, or a node that
    // reads only such nodes; these alone may feed module inputs.
    bool before = false;
    std::unique_ptr<SoundIn> sound;  // a file node's file
    std::vector<float> frames;       // a file node's block, interleaved
};

// A node voice driven into a module input, block by block (RenderHost::Feed).
struct NodeFeed {
    int node = 0;
    int voice = 0;
    int feed = 0;  // the host's number of the fed input
};

struct GraphModule {
    std::string name;
    int first = 0;  // the host's number of the first clone
    int voices = 1;
    std::vector<PinDescription> pins;
    int32_t pitch = -1, gate = -1, sync = -1, velocity = -1;  // played pins
    std::string part;                                         // notes of this part only; empty: all
};

// An automation lane made real: its points at sample clocks, the pin's
// values. A float-sample lane is fed to every clone block by block (one
// feed each); a list or integer lane's points are events at their clocks.
struct GraphLane {
    int first = 0;  // the first clone
    int voices = 1;
    int32_t pin = -1;
    bool sample_pin = false;
    bool step = false;
    std::vector<std::pair<uint32_t, float>> points;  // in clock order
    std::vector<int> feeds;                          // sample pins: one per clone
};

// The value of a float-sample lane at `clock`: the last point at or before
// it when stepping; else the straight line between the points around it.
float LaneValue(const GraphLane& lane, uint32_t clock);

struct Graph {
    std::vector<std::unique_ptr<Library>> libraries;
    std::unique_ptr<RenderHost> host;
    std::vector<GraphModule> modules;
    std::vector<GraphNode> nodes;  // every node after the nodes it reads
    int output = -1;               // index into `nodes`
    std::vector<float> scratch;    // one block: a node input's voices summed
    std::vector<NodeFeed> feeds;
    std::vector<GraphLane> lanes;
};

// Interleaved stereo blocks a render's writers hold besides the graph's
// (the WAV writer's frames and bytes), in blocks of floats; counted in the
// render's memory bound.
constexpr unsigned kWriterBlocks = 6;

struct GraphOptions {
    float sample_rate = 44100.0f;
    int32_t block_size = 256;
    // Searched in order for a .sep named without a folder, after the
    // patch's own folder.
    std::vector<std::string> plugin_folders;
    bool fill_driven_by_sample = false;  // EngineOptions' reference fill
    std::vector<Control> controls;       // the --midi file's, for the modules' "cc"
};

// The value a setting puts into a pin, as the host writes it: volts / 10 on
// a float-sample pin (10 V is full scale 1.0), the choice's value on a list
// pin (by label or by value), a whole number on an integer pin. False with
// the reason (`here` names the pin) when the setting does not fit the pin.
// The patch's "pins" and `validate --set` both go through it.
bool PinSettingValue(const PinDescription& pin, const Setting& setting, const std::string& here, float* value,
                     std::string* error);

// Builds and opens the graph; on failure says what is wrong in the patch's
// own terms (module, pin and node names).
bool BuildGraph(const Patch& patch, const GraphOptions& options, Graph* graph, std::string* error);

// Computes the nodes of one block: with `before`, the nodes computed before
// the host runs it (file nodes and the nodes reading only them); else the
// rest, from the block the host has just run.
bool ComputeNodes(Graph* graph, int32_t samples, bool before, std::string* error);

// The longest of the patch's sound files in seconds at their own rates (0
// without file nodes); false with the message when one cannot be read.
bool LongestInputSeconds(const Patch& patch, double* seconds, std::string* error);

}  // namespace sephost::render
