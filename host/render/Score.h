// Scores: the notes a render plays, from JSON or from a Standard MIDI File.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace sephost::render {

struct Note {
    double start = 0.0;   // seconds
    double length = 0.0;  // seconds, above 0
    double hz = 440.0;
    int velocity = 100;  // 1 to 127
    std::string part;    // which modules play it (see PlayPins); MIDI: the channel, "1" to "16"
};

// MIDI note number to Hz: 69 is 440 Hz, twelve notes to the octave.
double MidiNoteHz(double note);

// The pitch pin value of a frequency: 0.5 is 440 Hz, every 0.1 one octave.
float PitchValue(double hz);

// A JSON score is a list of notes, or an object {"tempo": BPM, "notes": [...],
// "automation": {...}} whose times are in beats (the lanes are read with the
// patch, ReadScoreAutomation in Patch.cpp). A note is {"start", "length", "pitch" (a MIDI
// note number, or a list of them for a chord) or "hz", "velocity", "part"}. `where`
// names the score in messages ("song.json", "patch.json: notes").
bool ReadScoreJson(const nlohmann::json& score, const std::string& where, std::vector<Note>* notes, std::string* error);

// Seconds per unit of a JSON score's times: 60 / tempo when it has one (a
// beat), else 1. Meant for a score ReadScoreJson has accepted.
double ScoreSecondsPerUnit(const nlohmann::json& score);

bool ReadScoreFile(const std::string& path, std::vector<Note>* notes, std::string* error);

// Note-on / note-off pairs of every channel and track of a Standard MIDI
// File (format 0, 1 or 2, ticks per quarter note), with tempo changes
// applied; a note still held at the end of the file ends there. A malformed
// file is refused with the byte offset of its fault; `warnings` lists what
// was read past (each naming the file and the byte offset). `name` names the
// file in messages.
// With `controls`, also every control change and pitch bend, in time order.
struct Control {
    double seconds = 0.0;
    int channel = 1;  // 1 to 16
    int number = 0;   // controller 0 to 127, or kPitchBend
    int value = 0;    // 0 to 127; a pitch bend 0 to 16383 (8192 at rest)
};
constexpr int kPitchBend = 128;

bool ReadMidiBytes(const std::string& bytes, const std::string& name, std::vector<Note>* notes,
                   std::vector<std::string>* warnings, std::string* error, std::vector<Control>* controls = nullptr);
bool ReadMidiFile(const std::string& path, std::vector<Note>* notes, std::vector<std::string>* warnings,
                  std::string* error, std::vector<Control>* controls = nullptr);

}  // namespace sephost::render
