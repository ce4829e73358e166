// The LFO shapes that modulate the raw envelope in place, and the output laws
// that scale the result by the overall level.
#pragma once

#include <cstdint>

#include "Module.h"

namespace tessarn {

// 2 pi rounded to a 32-bit float: LFO rate and phase offset are turned into
// radians with it.
constexpr float kTwoPi = 6.2831855f;

// "off": the output and the phasor stay as they are.
void LfoOff(double* lfo_sin, double* lfo_cos, float* phase_applied, float omega, float depth, float phase,
            int16_t align, int32_t count, float* out);
// "normal" for align 1 or less, "bottom mod" for align 2 or more.
void LfoNormalOrBottom(double* lfo_sin, double* lfo_cos, float* phase_applied, float omega, float depth, float phase,
                       int16_t align, int32_t count, float* out);
// "center mod".
void LfoCenter(double* lfo_sin, double* lfo_cos, float* phase_applied, float omega, float depth, float phase,
               int16_t align, int32_t count, float* out);
// "top mod".
void LfoTop(double* lfo_sin, double* lfo_cos, float* phase_applied, float omega, float depth, float phase,
            int16_t align, int32_t count, float* out);

// The shape for an "LfoAlign" value, or null outside 0 to 4.
LfoShapeFn LfoShapeFor(int16_t align);

// "dbmode" codes.
constexpr int32_t kDbModeLinear = 0;
constexpr int32_t kDbModeExponential = 1;

// level * x, or level * x * 2^(4 (x - 1)) for the exponential law; any
// "dbmode" other than kDbModeExponential is the linear law.
void ApplyOutputLaw(int32_t dbmode, float level, int32_t count, float* out);

}  // namespace tessarn
