// Floating-point hygiene at the host boundary: the processor's flush modes
// for the duration of a call into the module, and the last pass over each
// finished output block that keeps every sample a listener reads finite,
// bounded and normal.
#pragma once

#include <cstdint>

// Outputs are held inside +-kSEOutputCeiling. The ceiling lies far above
// any signal a module can mean (in the host's convention 1.0 is 10 V; even a
// sample clock sent out as a value stays below it), so every finite sample a
// module means passes untouched, while infinity and absurd magnitudes stop
// there; and the ceiling squared is still finite, so one more gain stage
// downstream cannot overflow.
constexpr float kSEOutputCeiling = 1.0e18f;

// While one lives, SSE arithmetic flushes subnormal results to zero (FTZ)
// and reads subnormal operands as zero (DAZ); the caller's control word,
// exception flags included, is back when it goes. The forwarding functions
// that the host calls hold one, so module code never pays for subnormal
// arithmetic and its fed-back state cannot drift into that range.
class SEFloatModeScope {
public:
    SEFloatModeScope();
    ~SEFloatModeScope();
    SEFloatModeScope(const SEFloatModeScope&) = delete;
    SEFloatModeScope& operator=(const SEFloatModeScope&) = delete;

private:
    uint32_t m_saved;
};

// The control-word bits a SEFloatModeScope sets.
constexpr uint32_t kSEFlushToZero = 0x8000u;
constexpr uint32_t kSEDenormalsAreZero = 0x0040u;

// One pass over samples [0, count): NaN becomes 0.0, a magnitude above the
// ceiling (infinity included) is held at the ceiling with its sign, and a
// subnormal becomes a zero of its sign. Every other sample keeps its bits.
// This does not rely on the flush modes, which some environments (emulators,
// instrumentation) do not honour.
void SEGuardSamples(float* samples, int32_t count);

// A sample rate the modules can derive their constants from: finite and
// between 1 Hz and 10 MHz. Anything else (0, negative, NaN, infinity) gives
// the default rate, 44100 Hz.
float SEUsableSampleRate(float rate);
