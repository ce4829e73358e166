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

// (z1^m, z2^m) for the exponents m_first and m_second of the two lanes, by
// right-to-left square-and-multiply: ComplexPow2 lane by lane. A lane whose
// exponent has fewer bits keeps its result while the other one goes on.
inline void ComplexPow2Pair(int32_t m_first, int32_t m_second, ComplexPair z1, ComplexPair z2, ComplexPair* p1,
                            ComplexPair* p2) {
    // lane masks by (bit of the first lane) + 2 (bit of the second)
    alignas(16) static const uint64_t kTake[4][2] = {
        {0, 0}, {~0ull, 0}, {0, ~0ull}, {~0ull, ~0ull}};
    ComplexPair r1 = {Both(1.0), Both(0.0)};
    ComplexPair r2 = r1;
    uint32_t bits_first = m_first > 0 ? static_cast<uint32_t>(m_first) : 0u;
    uint32_t bits_second = m_second > 0 ? static_cast<uint32_t>(m_second) : 0u;
    ComplexPair b1 = z1, b2 = z2;
    while ((bits_first | bits_second) != 0u) {
        const uint32_t take_index = (bits_first & 1u) | ((bits_second & 1u) << 1);
        if (take_index == 3u) {
            r1 = r1 * b1;
            r2 = r2 * b2;
        } else if (take_index != 0u) {
            const Pair take = {_mm_load_pd(reinterpret_cast<const double*>(kTake[take_index]))};
            r1 = Select(take, r1 * b1, r1);
            r2 = Select(take, r2 * b2, r2);
        }
        if ((bits_first | bits_second) < 2u) break;
        bits_first >>= 1;
        bits_second >>= 1;
        b1 = {b1.re * b1.re - b1.im * b1.im, 2.0 * b1.re * b1.im};
        b2 = {b2.re * b2.re - b2.im * b2.im, 2.0 * b2.re * b2.im};
    }
    *p1 = r1;
    *p2 = r2;
}

}  // namespace ulvo
