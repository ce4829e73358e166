// The LFO shapes that modulate the raw envelope in place, and the output laws
// that scale the result by the overall level: plain functions over a state
// struct and a buffer, free of the module frame.
#pragma once

#include <cstdint>

namespace tessarn {

// 2 pi rounded to a 32-bit float: LFO rate and phase offset are turned into
// radians with it.
constexpr float kTwoPi = 6.2831855f;

// The LFO: a unit phasor (sin, cos of the LFO angle) turned by omega per
// sample, and the phase offset already turned into it.
struct LfoState {
    double sine = 0.0;
    double cosine = 1.0;
    float applied_offset = 0.0f;  // radians
};

// The LFO from its start: angle 0, no offset applied (the next moving call
// turns the phasor by the whole current offset).
inline void RestartLfo(LfoState* lfo) { *lfo = LfoState(); }

// An LFO shape over `count` samples of `out`, in place: omega in radians per
// sample, depth, phase offset in radians, the "LfoAlign" value.
typedef void (*LfoShapeFn)(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count,
                           float* out);

// "off": the output and the phasor stay as they are.
void LfoOff(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count, float* out);
// "normal" for align 1 or less, "bottom mod" for align 2 or more.
void LfoNormalOrBottom(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count,
                       float* out);
// "center mod".
void LfoCenter(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count, float* out);
// "top mod".
void LfoTop(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count, float* out);

// The shape for an "LfoAlign" value, or null outside 0 to 4.
LfoShapeFn LfoShapeFor(int16_t align);

// "dbmode" codes.
constexpr int32_t kDbModeLinear = 0;
constexpr int32_t kDbModeExponential = 1;

// level * x, or level * x * 2^(4 (x - 1)) for the exponential law; any
// "dbmode" other than kDbModeExponential is the linear law.
void ApplyOutputLaw(int32_t dbmode, float level, int32_t count, float* out);

}  // namespace tessarn
