// The patch file: which modules (.sep) play, with how many voices and which
// pin settings, the host-side utility nodes, the connections between them,
// and optionally the score. Reading checks the file's form; the graph
// (Graph.h) checks it against the modules' pins.
#pragma once

#include <string>
#include <vector>

#include "Limits.h"
#include "Score.h"

namespace sephost::render {

// A pin setting as written: a number (volts on a float-sample pin, the
// value on a list or integer pin) or a list pin's label.
struct Setting {
    std::string pin;
    bool is_label = false;
    std::string label;
    double number = 0.0;
};

// Which pins of a module the notes drive, by pin name; empty: not driven.
struct PlayPins {
    std::string pitch;     // the pitch value of the note's frequency
    std::string gate;      // 1.0 from the note's start to its end, else 0.0
    std::string sync;      // 1.0 for the note's first sample only
    std::string velocity;  // velocity / 127 while the note sounds
    std::string part;      // only notes of this part; empty: every note
};

// An automation lane: a pin's values at times in seconds, in time order
// (two points at one time: a jump). A float-sample pin moves linearly
// between points unless `step`; list and integer pins always step. Before
// the first point the pin holds the first value, after the last the last.
struct LanePoint {
    double seconds = 0.0;
    Setting value;  // as a setting is written: volts, a label or a number
};

struct Lane {
    std::string pin;
    bool step = false;
    bool step_given = false;  // "interpolation" was written
    std::vector<LanePoint> points;
    bool from_score = false;  // written in the score's "automation", not the module's
};

// "cc": a MIDI controller (or the pitch bend) of the --midi file mapped to
// a pin: its 0..127 (a bend's 0..16383) scaled to low..high, in the pin's
// units as "pins" writes them (volts on a float-sample pin).
struct ControlMap {
    int number = 0;   // controller, or kPitchBend
    int channel = 0;  // 1 to 16; 0: every channel
    std::string pin;
    double low = 0.0, high = 10.0;
};

struct PatchModule {
    std::string name;
    std::string sep;  // as written: a path relative to the patch, or a file name
    int voices = 1;
    std::vector<Setting> settings;
    PlayPins play;
    std::vector<Lane> automation;
    std::vector<ControlMap> controls;
};

enum class NodeType { kMultiply, kMix, kOutput, kFile };

// Host-side nodes. multiply: the product of everything on "in", voice by
// voice (a VCA); mix: the sum of everything on "in", all voices together;
// output: the stereo output, "left" and "right" (right follows left when
// nothing is connected to it); file: a sound file's channels, "out" all of
// them as voices, "1", "2", ... one each. Each scales its result by `gain`.
struct PatchNode {
    std::string name;
    NodeType type = NodeType::kMix;
    double gain = 1.0;
    std::string file;  // a file node's sound file, its path relative to the patch resolved
};

struct Endpoint {
    std::string owner;  // module or node name
    std::string pin;
};

struct PatchConnection {
    Endpoint from, to;
    std::string where;  // "connection 3" in messages
};

struct Patch {
    std::string path;       // the file, for messages
    std::string directory;  // where relative .sep paths start
    std::vector<PatchModule> modules;
    std::vector<PatchNode> nodes;
    std::vector<PatchConnection> connections;
    bool has_score = false;
    std::vector<Note> notes;
    double sample_rate = 0.0;  // 0: not given
    int block_size = 0;        // 0: not given
    double tail = -1.0;        // seconds; below 0: not given
};

bool ReadPatchText(const std::string& text, const std::string& path, Patch* patch, std::string* error);
bool ReadPatchFile(const std::string& path, Patch* patch, std::string* error);

// `--score FILE`: the JSON score FILE in place of the patch's own: its notes
// into `notes`, its "automation" lanes (by "module.pin", times in the
// score's unit) in place of those of the patch's score.
bool ReplaceScore(const std::string& path, Patch* patch, std::vector<Note>* notes, std::string* error);

// `--midi FILE`: the patch's score gives way, its lanes with its notes.
void DropScoreAutomation(Patch* patch);

// `--input NAME=FILE`: the file node NAME reads FILE (a path as the user
// gave it) instead of the patch's. False with the reason when the patch has
// no file node of that name.
bool ReplaceInputFile(Patch* patch, const std::string& node, const std::string& file, std::string* error);

const char* NodeTypeName(NodeType type);

}  // namespace sephost::render
