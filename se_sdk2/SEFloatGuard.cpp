#include "SEFloatGuard.h"

#include <emmintrin.h>

#include <cstring>

SEFloatModeScope::SEFloatModeScope() : m_saved(_mm_getcsr()) {
    _mm_setcsr(m_saved | kSEFlushToZero | kSEDenormalsAreZero);
}

SEFloatModeScope::~SEFloatModeScope() { _mm_setcsr(m_saved); }

namespace {

constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kMagnitudeBits = 0x7FFFFFFFu;
constexpr uint32_t kSmallestNormalBits = 0x00800000u;  // FLT_MIN
constexpr uint32_t kInfinityBits = 0x7F800000u;

// The scalar rule on the bits, so that it holds whatever the flush modes.
float GuardOne(float sample) {
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    const uint32_t magnitude = bits & kMagnitudeBits;
    if (magnitude > kInfinityBits) return 0.0f;  // NaN
    if (magnitude < kSmallestNormalBits)
        bits &= kSignBit;  // subnormal or zero: signed zero
    else if (sample > kSEOutputCeiling)
        return kSEOutputCeiling;  // infinity included
    else if (sample < -kSEOutputCeiling)
        return -kSEOutputCeiling;
    std::memcpy(&sample, &bits, sizeof sample);
    return sample;
}

}  // namespace

void SEGuardSamples(float* samples, int32_t count) {
    if (samples == nullptr || count <= 0) return;
    int32_t j = 0;
    // Four lanes at a time, compared as integers so that DAZ cannot hide a
    // subnormal: NaN lanes go to 0, tiny lanes keep their sign only, the
    // rest are clamped (which leaves any sample inside the ceiling as it is).
    const __m128 ceiling = _mm_set1_ps(kSEOutputCeiling);
    const __m128 floor = _mm_set1_ps(-kSEOutputCeiling);
    const __m128i magnitude_mask = _mm_set1_epi32(static_cast<int32_t>(kMagnitudeBits));
    const __m128i sign_mask = _mm_set1_epi32(static_cast<int32_t>(kSignBit));
    const __m128i smallest_normal = _mm_set1_epi32(static_cast<int32_t>(kSmallestNormalBits));
    const __m128i infinity = _mm_set1_epi32(static_cast<int32_t>(kInfinityBits));
    for (; j + 4 <= count; j += 4) {
        const __m128i bits = _mm_castps_si128(_mm_loadu_ps(samples + j));
        const __m128i magnitude = _mm_and_si128(bits, magnitude_mask);
        // Signed compares are right here: magnitudes are below 2^31.
        const __m128i is_nan = _mm_cmpgt_epi32(magnitude, infinity);
        const __m128i is_tiny = _mm_cmplt_epi32(magnitude, smallest_normal);
        const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_castsi128_ps(bits), floor), ceiling);
        __m128i result = _mm_andnot_si128(is_tiny, _mm_castps_si128(clamped));
        result = _mm_or_si128(result, _mm_and_si128(is_tiny, _mm_and_si128(bits, sign_mask)));
        result = _mm_andnot_si128(is_nan, result);
        _mm_storeu_ps(samples + j, _mm_castsi128_ps(result));
    }
    for (; j < count; ++j) samples[j] = GuardOne(samples[j]);
}

float SEUsableSampleRate(float rate) {
    constexpr float kDefaultRate = 44100.0f;
    constexpr float kLowestRate = 1.0f;
    constexpr float kHighestRate = 1.0e7f;
    if (!(rate >= kLowestRate && rate <= kHighestRate)) return kDefaultRate;  // NaN fails both
    return rate;
}
