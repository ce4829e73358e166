// The power-of-two approximation and the curve family of the curved stages.
// Both are per-sample code, so they live inline here.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace tessarn {

// Exponent scale and bias: e = y * 2^20 + 0x3FF00000 is the upper word of a
// double whose exponent field holds the integer part of y and whose top 20
// mantissa bits hold the fraction, read linearly.
constexpr double kExponentScale = 1048576.0;
constexpr double kExponentBias = 1072693248.0;
// Upper words of the smallest normal double and of the largest finite one.
constexpr double kSmallestNormalUpper = 1048576.0;    // 0x00100000
constexpr double kLargestFiniteUpper = 2146435071.0;  // 0x7FEFFFFF
// Adding and removing 1.5 * 2^52 rounds a double of magnitude below 2^51 to
// an integer in the current rounding mode (to nearest, ties to even).
constexpr double kRoundToIntegerMagic = 6755399441055744.0;

// 2^y, exact at integers and straight between them (2^n * (1 + f) with the
// fraction f rounded to a step of 2^-20), built from the bits instead of an
// exponential call. Exponents whose upper word falls below the normal range
// give 0.0 (NaN included); those above it saturate at the upper word
// 0x7FEFFFFF with a zero lower word, about 1.797e308.
//
// The bits are built in an SSE2 register: adding 1.5 * 2^52 leaves the
// rounded upper word in the low 32 bits of the sum, and a 64-bit shift by 32
// moves it up and clears the lower word. (Assembling the double in memory
// from two 32-bit halves would stall every sample on store forwarding.)
inline double FastPow2(double y) {
    double upper = y * kExponentScale + kExponentBias;
    if (!(upper >= 0.0)) return 0.0;  // NaN or far below the normal range
    if (upper > kLargestFiniteUpper) upper = kLargestFiniteUpper;
    const double shifted = upper + kRoundToIntegerMagic;  // integer in the low word
    if (shifted - kRoundToIntegerMagic < kSmallestNormalUpper) return 0.0;
    return _mm_cvtsd_f64(_mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(_mm_set_sd(shifted)), 32)));
}

// FastPow2 of two exponents at once, one per lane of a packed double, with
// the same operations and results lane by lane.
inline __m128d FastPow2Pair(__m128d y) {
    __m128d upper = _mm_add_pd(_mm_mul_pd(y, _mm_set1_pd(kExponentScale)), _mm_set1_pd(kExponentBias));
    const __m128d in_range = _mm_cmpge_pd(upper, _mm_setzero_pd());  // false for NaN
    upper = _mm_min_pd(upper, _mm_set1_pd(kLargestFiniteUpper));
    const __m128d shifted = _mm_add_pd(upper, _mm_set1_pd(kRoundToIntegerMagic));
    const __m128d normal =
        _mm_cmpge_pd(_mm_sub_pd(shifted, _mm_set1_pd(kRoundToIntegerMagic)), _mm_set1_pd(kSmallestNormalUpper));
    const __m128d bits = _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(shifted), 32));
    return _mm_and_pd(bits, _mm_and_pd(in_range, normal));
}

// Two floats out[j], out[j + 1] as the lanes of a packed double, and back.
inline __m128d LoadFloatPair(const float* two) {
    return _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(two))));
}
inline void StoreFloatPair(float* two, __m128d values) {
    _mm_store_sd(reinterpret_cast<double*>(two), _mm_castps_pd(_mm_cvtpd_ps(values)));
}

// Form value k = 10 * form sample; the curve coefficient grows with k^3.
constexpr float kFormScale = 10.0f;
constexpr float kPositiveFormCoefficient = 0.01f;
constexpr float kNegativeFormCoefficient = 0.005f;

// The bend of one curved stage, fixed for a loop: the branch and its
// coefficient follow from k once.
struct Curve {
    bool positive;  // k >= 0: slow start, fast finish
    double coefficient;
};

inline Curve MakeCurve(float k) {
    const double k_cubed = static_cast<double>(k) * k * k;
    if (k >= 0.0f) return {true, kPositiveFormCoefficient * k_cubed};
    return {false, kNegativeFormCoefficient * k_cubed};
}

inline float FormValue(float form_sample) { return kFormScale * form_sample; }

// The curve at phase P: 0 at P = 0, 1 at P = 1, above 1 past the end.
inline double ShapeCurve(float phase, const Curve& curve) {
    const double p = phase;
    if (curve.positive) return p * FastPow2(curve.coefficient * p * (p - 1.0));
    return 1.0 + (p - 1.0) * FastPow2(curve.coefficient * p);
}

inline double ShapeCurve(float phase, float k) { return ShapeCurve(phase, MakeCurve(k)); }

// ShapeCurve of two phases at once (as doubles in the lanes), one branch.
template <bool Positive>
inline __m128d ShapeCurvePair(__m128d p, double coefficient) {
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d c = _mm_set1_pd(coefficient);
    if (Positive) return _mm_mul_pd(p, FastPow2Pair(_mm_mul_pd(_mm_mul_pd(c, p), _mm_sub_pd(p, one))));
    return _mm_add_pd(one, _mm_mul_pd(_mm_sub_pd(p, one), FastPow2Pair(_mm_mul_pd(c, p))));
}

}  // namespace tessarn
