// Samples classified by their bits: integer work only, whatever the
// floating-point unit's mode, and far cheaper than float comparisons where
// floating point is slow (an emulated processor). Every answer equals the
// float comparison's.
#pragma once

#include <cstdint>
#include <cstring>

namespace sephost::render {

constexpr uint32_t kExponentBits = 0x7F800000u;
constexpr uint32_t kMagnitudeBits = 0x7FFFFFFFu;
constexpr uint32_t kNegativeZeroBits = 0x80000000u;

inline uint32_t SampleBits(float sample) {
    uint32_t bits = 0;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

// Stored straight to memory: a float returned by value passes the 32-bit
// x87 stack, which quiets a signalling NaN.
inline void StoreBits(float* to, uint32_t bits) { std::memcpy(to, &bits, sizeof bits); }

// Only for numbers (see StoreBits).
inline float SampleFromBits(uint32_t bits) {
    float sample = 0.0f;
    std::memcpy(&sample, &bits, sizeof sample);
    return sample;
}

// The exponent all ones is infinity or NaN.
inline bool IsFinite(float sample) { return (SampleBits(sample) & kExponentBits) != kExponentBits; }

inline bool SameBits(float a, float b) { return SampleBits(a) == SampleBits(b); }

// The offset of the first NaN or infinity among the first `limit` samples,
// or `limit`. A block is first looked at as a whole: adding one to the
// exponent carries into the sign bit only when the exponent is all ones, so
// the OR of those sums has its sign bit clear when every sample is finite.
inline int32_t FirstNonFiniteSample(const float* samples, int32_t limit) {
    constexpr uint32_t kExponentOne = 0x00800000u;
    uint32_t carries = 0;
    for (int32_t k = 0; k < limit; ++k) carries |= (SampleBits(samples[k]) & kExponentBits) + kExponentOne;
    if ((carries & 0x80000000u) == 0) return limit;
    int32_t k = 0;
    while (k < limit && IsFinite(samples[k])) ++k;
    return k;
}

// Whether any of the `count` samples is NaN: a magnitude above infinity's.
// Adding 2^23 - 1 carries into the sign bit just for those.
inline bool HoldsNaN(const float* samples, int32_t count) {
    constexpr uint32_t kBelowInfinity = 0x007FFFFFu;
    uint32_t carries = 0;
    for (int32_t k = 0; k < count; ++k) carries |= (SampleBits(samples[k]) & kMagnitudeBits) + kBelowInfinity;
    return (carries & 0x80000000u) != 0;
}

}  // namespace sephost::render
