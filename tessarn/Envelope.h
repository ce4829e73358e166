// The stage machine as a plain core: a state struct, the settings of one
// process call and its buffers in, envelope samples out. It knows nothing of
// pins or the host; the module reads the pins into EnvelopeSettings and
// turns the core's output-status requests into host calls.
#pragma once

#include <cstdint>

#include "Lfo.h"

namespace tessarn {

enum Stage : int32_t {
    STAGE_IDLE = 0,
    STAGE_ATTACK = 1,
    STAGE_HOLD = 2,
    STAGE_DECAY = 3,
    STAGE_SUSTAIN = 4,
    STAGE_RELEASE = 5,
};

// What lives across calls.
struct EnvelopeState {
    int32_t stage = STAGE_IDLE;
    // Attack, decay and release move it from 0 to 1; the hold counts it
    // down from 1 to 0; idle and sustain leave it.
    float stage_phase = 0.0f;
    // Where the release falls from; the decay keeps it at its last output.
    float release_level = 0.0f;
    // The gate sample of the last edge (or of the last call's first sample).
    float last_gate = 0.0f;
    // The gate was high at the start of the last call that changed it: the
    // hold's end chooses decay over release by it.
    bool gate_held = false;
};

// One process call's settings, read once per call.
struct EnvelopeSettings {
    // Phase change per sample (time pin times 1 / sample rate).
    float attack_step = 0.0f;
    float hold_step = 0.0f;
    float decay_step = 0.0f;
    float release_step = 0.0f;
    // "Sustain" at the call's first sample, and whether it streams (then the
    // decay follows its samples one by one).
    float sustain_level = 0.0f;
    bool sustain_streams = false;
    // "FullAttack" and "NoRelease" list values (0 off, 1 on).
    int16_t full_attack = 0;
    int16_t no_release = 0;
    // The LFO moves an idle output ("normal" alignment with an amount) or a
    // sustaining one (any alignment but "off" with an amount): no sleep then.
    bool lfo_moves_idle = false;
    bool lfo_moves_sustain = false;
};

// The buffers of one call, each pointing at the call's first sample. The
// form buffers are read at the first sample a stage writes and, for an
// attack cut by a gate-off, at the sample where the edge lies.
struct EnvelopeBuffers {
    const float* gate;
    const float* sustain;
    const float* attack_form;
    const float* decay_form;
    const float* release_form;
    float* out;
};

// Told where, within the call, the output starts to move or comes to rest;
// the module turns this into pin statuses and its sleep protocol.
class OutputMotion {
public:
    virtual void Moves(int32_t offset) = 0;
    virtual void Rests(int32_t offset) = 0;

protected:
    ~OutputMotion() = default;
};

// Gate edges and stages over `count` samples: writes the raw envelope, nominally
// 0 to 1, to buffers.out[0 .. count - 1]. A gate-on from any stage but the
// attack restarts `lfo`.
void RunEnvelope(EnvelopeState* state, LfoState* lfo, const EnvelopeSettings& settings, const EnvelopeBuffers& buffers,
                 int32_t count, OutputMotion* motion);

}  // namespace tessarn
