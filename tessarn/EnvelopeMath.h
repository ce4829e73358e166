// The power-of-two approximation and the curve family of the curved stages.
// Both are per-sample code, so they live inline here.
#pragma once

#include <cstdint>
#include <cstring>

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
inline double FastPow2(double y) {
    double upper = y * kExponentScale + kExponentBias;
    if (!(upper >= 0.0)) return 0.0;  // NaN or far below the normal range
    if (upper > kLargestFiniteUpper) upper = kLargestFiniteUpper;
    upper = (upper + kRoundToIntegerMagic) - kRoundToIntegerMagic;
    if (upper < kSmallestNormalUpper) return 0.0;
    // In range now, so the conversion is defined.
    const uint64_t bits = static_cast<uint64_t>(static_cast<uint32_t>(upper)) << 32;
    double result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
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

}  // namespace tessarn
