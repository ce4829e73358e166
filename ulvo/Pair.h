// Two doubles in the two lanes of one SSE2 register, one lane per sample.
// Every operation is the IEEE operation a scalar double would do (SSE2 has
// no fused multiply-add), so an expression written with Pair gives, lane by
// lane, the bits the same expression gives on double.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace ulvo {

struct Pair {
    __m128d v;
};

inline Pair Lanes(double first, double second) { return {_mm_setr_pd(first, second)}; }
inline Pair Both(double value) { return {_mm_set1_pd(value)}; }
inline Pair LoadPair(const double* two) { return {_mm_loadu_pd(two)}; }
inline void StorePair(double* two, Pair a) { _mm_storeu_pd(two, a.v); }

inline Pair operator+(Pair a, Pair b) { return {_mm_add_pd(a.v, b.v)}; }
inline Pair operator-(Pair a, Pair b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Pair operator*(Pair a, Pair b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Pair operator/(Pair a, Pair b) { return {_mm_div_pd(a.v, b.v)}; }
inline Pair operator+(Pair a, double b) { return a + Both(b); }
inline Pair operator-(Pair a, double b) { return a - Both(b); }
inline Pair operator*(Pair a, double b) { return a * Both(b); }
inline Pair operator-(double a, Pair b) { return Both(a) - b; }
inline Pair operator*(double a, Pair b) { return Both(a) * b; }
inline Pair operator/(double a, Pair b) { return Both(a) / b; }
// Flips the sign bit, as scalar negation does.
inline Pair operator-(Pair a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
inline Pair Sqrt(Pair a) { return {_mm_sqrt_pd(a.v)}; }

// Lane masks and selection.
inline Pair EqualMask(Pair a, Pair b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
inline Pair Select(Pair mask, Pair if_set, Pair if_clear) {
    return {_mm_or_pd(_mm_and_pd(mask.v, if_set.v), _mm_andnot_pd(mask.v, if_clear.v))};
}

inline double First(Pair a) { return _mm_cvtsd_f64(a.v); }
inline double Second(Pair a) { return _mm_cvtsd_f64(_mm_unpackhi_pd(a.v, a.v)); }

// A complex number per lane.
struct ComplexPair {
    Pair re;
    Pair im;
};

inline ComplexPair operator*(ComplexPair a, ComplexPair b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline ComplexPair operator+(ComplexPair a, ComplexPair b) { return {a.re + b.re, a.im + b.im}; }
inline ComplexPair operator*(double s, ComplexPair a) { return {s * a.re, s * a.im}; }
inline ComplexPair Conj(ComplexPair a) { return {a.re, -a.im}; }
inline ComplexPair MinusOne(ComplexPair a) { return {a.re - 1.0, a.im}; }
inline ComplexPair Select(Pair mask, ComplexPair if_set, ComplexPair if_clear) {
    return {Select(mask, if_set.re, if_clear.re), Select(mask, if_set.im, if_clear.im)};
}

// z^m for each lane of `Pairs` pairs, with m = exponents[lane], by
// right-to-left square-and-multiply: the steps of ComplexPow2, lane by lane.
// A lane whose exponent has fewer bits keeps its result while the others go
// on. Several pairs at once keep several chains of squarings in flight.
template <int Pairs>
inline void ComplexPowLanes(const int32_t* exponents, const ComplexPair* z, ComplexPair* power) {
    // lane masks by (bit of the first lane) + 2 (bit of the second)
    alignas(16) static const uint64_t kTake[4][2] = {{0, 0}, {~0ull, 0}, {0, ~0ull}, {~0ull, ~0ull}};
    ComplexPair result[Pairs], base[Pairs];
    for (int pair = 0; pair < Pairs; ++pair) {
        result[pair] = {Both(1.0), Both(0.0)};
        base[pair] = z[pair];
    }
    bool one_exponent = true;
    for (int lane = 1; lane < 2 * Pairs; ++lane) one_exponent = one_exponent && exponents[lane] == exponents[0];
    if (one_exponent) {
        // The usual case, the block's partial count in every lane: no masks.
        uint32_t bits = exponents[0] > 0 ? static_cast<uint32_t>(exponents[0]) : 0u;
        while (bits != 0u) {
            if ((bits & 1u) != 0u)
                for (int pair = 0; pair < Pairs; ++pair) result[pair] = result[pair] * base[pair];
            if (bits < 2u) break;
            bits >>= 1;
            for (int pair = 0; pair < Pairs; ++pair)
                base[pair] = {base[pair].re * base[pair].re - base[pair].im * base[pair].im,
                              2.0 * base[pair].re * base[pair].im};
        }
        for (int pair = 0; pair < Pairs; ++pair) power[pair] = result[pair];
        return;
    }
    uint32_t bits[2 * Pairs];
    uint32_t any = 0u;
    for (int lane = 0; lane < 2 * Pairs; ++lane) {
        bits[lane] = exponents[lane] > 0 ? static_cast<uint32_t>(exponents[lane]) : 0u;
        any |= bits[lane];
    }
    while (any != 0u) {
        for (int pair = 0; pair < Pairs; ++pair) {
            const uint32_t take_index = (bits[2 * pair] & 1u) | ((bits[2 * pair + 1] & 1u) << 1);
            if (take_index == 3u) {
                result[pair] = result[pair] * base[pair];
            } else if (take_index != 0u) {
                const Pair take = {_mm_load_pd(reinterpret_cast<const double*>(kTake[take_index]))};
                result[pair] = Select(take, result[pair] * base[pair], result[pair]);
            }
        }
        if (any < 2u) break;
        any = 0u;
        for (int lane = 0; lane < 2 * Pairs; ++lane) {
            bits[lane] >>= 1;
            any |= bits[lane];
        }
        for (int pair = 0; pair < Pairs; ++pair)
            base[pair] = {base[pair].re * base[pair].re - base[pair].im * base[pair].im,
                          2.0 * base[pair].re * base[pair].im};
    }
    for (int pair = 0; pair < Pairs; ++pair) power[pair] = result[pair];
}

}  // namespace ulvo
