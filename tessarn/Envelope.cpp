// The stage machine: gate edges, ranges and the six stages.
#include "Envelope.h"

#include <xmmintrin.h>

#include "EnvelopeMath.h"

namespace tessarn {

namespace {

// A gate sample at or above this is high (the float 0x33D6BF95).
constexpr float kGateThreshold = 1.0e-7f;

constexpr int32_t kGateOn = 1;
constexpr int32_t kGateOff = -1;
constexpr int32_t kNoGateEvent = 0;

// k of a curved stage from its form samples (from the range's first) at the
// first sample the stage writes. A stage entered with no samples left writes
// nothing, and the sample past the range may lie past the call, so it is not
// read then.
float StageForm(const float* form, int32_t index, int32_t length) {
    return index < length ? FormValue(form[index]) : 0.0f;
}

// The first index from `from` on whose gate sample lies on the other side of
// the threshold (below it when the gate is high, at or above it when low; a
// NaN never crosses), or count. Four samples per comparison.
int32_t FindCrossing(const float* gate, int32_t from, int32_t count, bool high) {
    const __m128 threshold = _mm_set1_ps(kGateThreshold);
    int32_t j = from;
    for (; j + 4 <= count; j += 4) {
        const __m128 x = _mm_loadu_ps(gate + j);
        const int crossed = _mm_movemask_ps(high ? _mm_cmplt_ps(x, threshold) : _mm_cmpge_ps(x, threshold));
        if (crossed != 0) return j + __builtin_ctz(static_cast<unsigned>(crossed));
    }
    for (; j < count; ++j)
        if (high ? gate[j] < kGateThreshold : gate[j] >= kGateThreshold) return j;
    return count;
}

// The curve values of one curved stage from index `from` to `to`, the branch
// of the curve chosen once. The phase, advanced by step before each sample,
// is a serial chain of float additions kept in a register (the output buffer
// could alias the state); the curve of each phase is not, so the phases are
// written first and the curve then maps them two at a time. Returns the phase.
template <bool Positive>
float CurveValues(float phase, float step, double coefficient, float* out, int32_t from, int32_t to) {
    for (int32_t j = from; j < to; ++j) {
        phase = phase + step;
        out[j] = phase;
    }
    int32_t j = from;
    for (; j + 1 < to; j += 2) StoreFloatPair(out + j, ShapeCurvePair<Positive>(LoadFloatPair(out + j), coefficient));
    if (j < to) out[j] = static_cast<float>(ShapeCurve(out[j], Curve{Positive, coefficient}));
    return phase;
}

// A part of the call between two gate edges: its first sample within the
// call, its length, and the gate event at its end (+1 on, -1 off, 0 none).
struct Range {
    int32_t start;
    int32_t length;
    int32_t event;
};

// One call's run of the stage machine.
class StageMachine {
public:
    StageMachine(EnvelopeState* state, LfoState* lfo, const EnvelopeSettings& settings, const EnvelopeBuffers& buffers,
                 OutputMotion* motion)
        : state_(*state), lfo_(*lfo), settings_(settings), buffers_(buffers), motion_(motion) {}

    void ScanGate(int32_t count);

private:
    // Runs the stages over the range, then applies its event exactly once.
    void RunRange(const Range& range);

    // Each stage runs from *index of the range. It returns true when it
    // ended inside the range, with the stage set to the next one and *index
    // to the sample where that one takes over; false once it has written the
    // rest of the range and applied the event.
    bool RunIdle(const Range& range, int32_t* index);
    bool RunAttack(const Range& range, int32_t* index);
    bool RunHold(const Range& range, int32_t* index);
    bool RunDecay(const Range& range, int32_t* index);
    bool RunSustain(const Range& range, int32_t* index);
    bool RunRelease(const Range& range, int32_t* index);

    // The curved-stage loop: advances the phase by step from `from` to the
    // end of the range, writes the curve values, and returns the index where
    // the stage ended (the range's length while the phase has not passed 1).
    int32_t RunCurve(float step, float k, float* out, int32_t from, int32_t length);

    // A gate-on outside the attack: the attack from 0, the LFO from its start.
    void StartAttack() {
        state_.stage = STAGE_ATTACK;
        state_.stage_phase = 0.0f;
        RestartLfo(&lfo_);
    }
    void Moves(int32_t offset) {
        if (motion_ != nullptr) motion_->Moves(offset);
    }
    void Rests(int32_t offset) {
        if (motion_ != nullptr) motion_->Rests(offset);
    }
    // A falling edge: none with "NoRelease" on.
    int32_t FallingEdge() const { return settings_.no_release - 1; }

    EnvelopeState& state_;
    LfoState& lfo_;
    const EnvelopeSettings& settings_;
    const EnvelopeBuffers& buffers_;
    OutputMotion* motion_;
};

void StageMachine::ScanGate(int32_t count) {
    // A gate the host holds still changes only at a call's first sample, as
    // the host cuts its blocks at event times: any change counts there.
    const float first_gate = buffers_.gate[0];
    if (first_gate > state_.last_gate || first_gate < state_.last_gate) {  // NaN compares as equal
        const bool rising = first_gate > state_.last_gate;
        state_.gate_held = rising;
        RunRange(Range{0, 0, rising ? kGateOn : FallingEdge()});
        state_.last_gate = first_gate;
    }

    // Threshold crossings of a streaming gate cut the call into ranges.
    int32_t range_start = 0;
    for (;;) {
        const bool high = state_.last_gate >= kGateThreshold;
        const int32_t edge = FindCrossing(buffers_.gate, range_start + 1, count, high);
        if (edge >= count) {
            RunRange(Range{range_start, count - range_start, kNoGateEvent});
            return;
        }
        state_.last_gate = buffers_.gate[edge];
        RunRange(Range{range_start, edge - range_start, high ? FallingEdge() : kGateOn});
        range_start = edge;
    }
}

void StageMachine::RunRange(const Range& range) {
    int32_t index = 0;
    // The stages form a chain without loops (attack, hold, decay, sustain;
    // hold, release, idle), so this ends after a few steps.
    for (;;) {
        bool ended = false;
        switch (state_.stage) {
        case STAGE_ATTACK:
            ended = RunAttack(range, &index);
            break;
        case STAGE_HOLD:
            ended = RunHold(range, &index);
            break;
        case STAGE_DECAY:
            ended = RunDecay(range, &index);
            break;
        case STAGE_SUSTAIN:
            ended = RunSustain(range, &index);
            break;
        case STAGE_RELEASE:
            ended = RunRelease(range, &index);
            break;
        default:
            state_.stage = STAGE_IDLE;
            ended = RunIdle(range, &index);
            break;
        }
        if (!ended) return;
    }
}

int32_t StageMachine::RunCurve(float step, float k, float* out, int32_t from, int32_t length) {
    const Curve curve = MakeCurve(k);
    float& phase = state_.stage_phase;
    phase = curve.positive ? CurveValues<true>(phase, step, curve.coefficient, out, from, length)
                           : CurveValues<false>(phase, step, curve.coefficient, out, from, length);
    if (!(phase > 1.0f)) return length;
    // The curve is above 1 past the end: the stage ended after the last
    // sample that is not. Never before the stage's own first sample.
    int32_t end = length;
    while (end > from && out[end - 1] > 1.0f) --end;
    return end;
}

bool StageMachine::RunIdle(const Range& range, int32_t* index) {
    if (!settings_.lfo_moves_idle) Rests(range.start + *index);
    float* out = buffers_.out + range.start;
    for (int32_t j = *index; j < range.length; ++j) out[j] = 0.0f;
    if (range.event == kGateOn) StartAttack();
    return false;
}

bool StageMachine::RunAttack(const Range& range, int32_t* index) {
    Moves(range.start + *index);
    const float step = settings_.attack_step;
    if (step <= 0.0f) {
        state_.stage_phase = 1.0f;
        state_.stage = STAGE_HOLD;
        return true;
    }
    float* out = buffers_.out + range.start;
    const float* form = buffers_.attack_form + range.start;
    const int32_t end = RunCurve(step, StageForm(form, *index, range.length), out, *index, range.length);
    if (state_.stage_phase > 1.0f) {
        state_.stage_phase = 1.0f;
        state_.stage = STAGE_HOLD;
        *index = end;
        return true;
    }
    if (range.event == kGateOn) {
        state_.stage_phase = 0.0f;  // attack again from 0; the LFO keeps running
    } else if (range.event == kGateOff && settings_.full_attack == 0) {
        // Release from where the attack stands at the edge.
        state_.stage = STAGE_RELEASE;
        state_.release_level = static_cast<float>(ShapeCurve(state_.stage_phase, FormValue(form[range.length])));
        state_.stage_phase = 0.0f;
    }
    return false;
}

bool StageMachine::RunHold(const Range& range, int32_t* index) {
    const float decrement = settings_.hold_step;
    float* out = buffers_.out + range.start;
    float phase = state_.stage_phase;  // in a register: the output buffer could alias the state
    for (int32_t j = *index; j < range.length; ++j) {
        phase = phase - decrement;
        if (!(phase > 0.0f)) {
            // Sample j belongs to the next stage.
            state_.stage_phase = 0.0f;
            if (state_.gate_held) {
                state_.stage = STAGE_DECAY;
            } else {
                state_.stage = STAGE_RELEASE;
                state_.release_level = 1.0f;
            }
            *index = j;
            return true;
        }
        out[j] = 1.0f;
    }
    state_.stage_phase = phase;
    if (range.event == kGateOn) {
        StartAttack();
    } else if (range.event == kGateOff && settings_.full_attack == 0) {
        state_.stage = STAGE_RELEASE;
        state_.release_level = 1.0f;
        state_.stage_phase = 0.0f;
    }
    return false;
}

bool StageMachine::RunDecay(const Range& range, int32_t* index) {
    const float step = settings_.decay_step;
    if (step <= 0.0f) {
        state_.stage = STAGE_SUSTAIN;
        return true;
    }
    float* out = buffers_.out + range.start;
    const float* sustain = buffers_.sustain + range.start;
    const float* form = buffers_.decay_form + range.start;
    const int32_t end = RunCurve(step, StageForm(form, *index, range.length), out, *index, range.length);

    // From 1 down to the sustain level, which may stream.
    const bool sustain_streams = settings_.sustain_streams;
    const float sustain_still = sustain_streams ? 0.0f : settings_.sustain_level;
    // The release level follows the last decay output; kept in a register
    // and stored once.
    float level = state_.release_level;
    for (int32_t j = *index; j < end; ++j) {
        const double sustain_level = sustain_streams ? sustain[j] : sustain_still;
        level = static_cast<float>(1.0 - (1.0 - sustain_level) * out[j]);
        out[j] = level;
    }
    state_.release_level = level;

    if (state_.stage_phase > 1.0f) {
        state_.stage_phase = 1.0f;
        state_.stage = STAGE_SUSTAIN;
        *index = end;
        return true;
    }
    if (range.event == kGateOn) {
        StartAttack();
    } else if (range.event == kGateOff) {
        // The release falls from the last decay output.
        state_.stage = STAGE_RELEASE;
        state_.stage_phase = 0.0f;
    }
    return false;
}

bool StageMachine::RunSustain(const Range& range, int32_t* index) {
    if (!settings_.lfo_moves_sustain) Rests(range.start + *index);
    float* out = buffers_.out + range.start;
    const float* sustain = buffers_.sustain + range.start;
    for (int32_t j = *index; j < range.length; ++j) out[j] = sustain[j];
    if (range.event == kGateOn) {
        StartAttack();
    } else if (range.event == kGateOff) {
        state_.stage = STAGE_RELEASE;
        Moves(range.start + range.length);
        state_.release_level = settings_.sustain_level;
        state_.stage_phase = 0.0f;
    }
    return false;
}

bool StageMachine::RunRelease(const Range& range, int32_t* index) {
    // A step of 0 holds the start level until the next gate-on.
    const float step = settings_.release_step;
    float* out = buffers_.out + range.start;
    const float* form = buffers_.release_form + range.start;
    const int32_t end = RunCurve(step, StageForm(form, *index, range.length), out, *index, range.length);
    const double release_level = state_.release_level;
    for (int32_t j = *index; j < end; ++j) out[j] = static_cast<float>((1.0 - out[j]) * release_level);

    if (state_.stage_phase > 1.0f) {
        state_.stage_phase = 0.0f;
        state_.stage = STAGE_IDLE;
        *index = end;
        return true;
    }
    if (range.event == kGateOn) StartAttack();
    return false;
}

}  // namespace

void RunEnvelope(EnvelopeState* state, LfoState* lfo, const EnvelopeSettings& settings, const EnvelopeBuffers& buffers,
                 int32_t count, OutputMotion* motion) {
    if (count <= 0) return;  // no first gate sample to read
    StageMachine(state, lfo, settings, buffers, motion).ScanGate(count);
}

}  // namespace tessarn
