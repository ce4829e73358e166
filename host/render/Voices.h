// Voice assignment: which clone of a polyphonic module plays which note, as
// a host does it. A note takes the voice that fell silent longest ago; when
// every voice is busy it takes the voice whose note started first. A voice
// whose gate is still up when its next note starts is released one sample
// early, so that the new note's gate rises at its own sample clock.
#pragma once

#include <cstdint>
#include <vector>

#include "Score.h"

namespace sephost::render {

struct VoiceNote {
    int voice = 0;
    size_t note = 0;   // index into the score
    uint32_t on = 0;   // sample clock of the note's first sample
    uint32_t off = 0;  // first sample clock with the gate down (> on)
};

struct Assignment {
    std::vector<VoiceNote> played;  // in order of `on`, then score order
    size_t stolen = 0;              // notes still sounding that gave way to a new one
    size_t dropped = 0;             // notes that lost their voice at their first sample
};

// Note times are rounded to the nearest sample clock; a note lasts at least
// one sample.
Assignment AssignVoices(const std::vector<Note>& notes, int voices, double sample_rate);

// The sample clock nearest `seconds`, saturated to the clock's range.
uint32_t ClockAt(double seconds, double sample_rate);

}  // namespace sephost::render
