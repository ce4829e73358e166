// The sine/cosine kernel bodies, inline so that the synthesis core's kernel
// pass runs them without a call per sample. Kernels.h is their interface.
#pragma once

#include <emmintrin.h>
#include <xmmintrin.h>

#include "Kernels.h"

namespace ulvo {
namespace kernels {

// pi and the Taylor coefficients 1/k!, each rounded to single precision; the
// scalar variant uses the same rounded values so that both variants compute
// the same function.
constexpr float kPi = 3.1415927f;
constexpr float kC3 = 0.16666667f;      // 1/3!
constexpr float kC5 = 0.008333334f;     // 1/5!
constexpr float kC7 = 0.0001984127f;    // 1/7!
constexpr float kC9 = 2.7557319e-6f;    // 1/9!
constexpr float kC11 = 2.5052108e-8f;   // 1/11!
constexpr float kC13 = 1.6059044e-10f;  // 1/13!
constexpr float kC15 = 7.6471636e-13f;  // 1/15!

// x * (1 - c3 x^2 + c5 x^4 - ... - c15 x^14), Horner's rule in x^2 from the
// c15 end.
inline double SinePolynomial(double x) {
    const double x2 = x * x;
    double p = -static_cast<double>(kC15);
    p = p * x2 + static_cast<double>(kC13);
    p = p * x2 - static_cast<double>(kC11);
    p = p * x2 + static_cast<double>(kC9);
    p = p * x2 - static_cast<double>(kC7);
    p = p * x2 + static_cast<double>(kC5);
    p = p * x2 - static_cast<double>(kC3);
    p = p * x2 + 1.0;
    return x * p;
}

inline __m128 SinePolynomial(__m128 x) {
    const __m128 x2 = _mm_mul_ps(x, x);
    __m128 p = _mm_set1_ps(-kC15);
    p = _mm_add_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC13));
    p = _mm_sub_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC11));
    p = _mm_add_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC9));
    p = _mm_sub_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC7));
    p = _mm_add_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC5));
    p = _mm_sub_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kC3));
    p = _mm_add_ps(_mm_mul_ps(p, x2), _mm_set1_ps(1.0f));
    return _mm_mul_ps(x, p);
}

// mask ? a : b, lane by lane.
inline __m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }

inline void SinCosPi4Vector(const double phases[kKernelLanes], double sines[kKernelLanes],
                            double cosines[kKernelLanes]) {
    // each phase rounded to single precision, in lane order
    const __m128 u = _mm_movelh_ps(_mm_cvtpd_ps(_mm_loadu_pd(phases)), _mm_cvtpd_ps(_mm_loadu_pd(phases + 2)));
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 pi = _mm_set1_ps(kPi);

    // sine: fold [-1.5, -0.5) and [0.5, 1.5) onto [-0.5, 0.5) and flip the sign
    const __m128 k1 = _mm_and_ps(_mm_cmplt_ps(u, _mm_set1_ps(-0.5f)), one);
    const __m128 k2 = _mm_and_ps(_mm_cmpge_ps(u, half), one);
    const __m128 y = _mm_mul_ps(pi, _mm_sub_ps(_mm_add_ps(u, k1), k2));
    const __m128 sine_sign = _mm_sub_ps(one, _mm_mul_ps(_mm_set1_ps(2.0f), _mm_add_ps(k1, k2)));
    const __m128 sine = _mm_mul_ps(sine_sign, SinePolynomial(y));

    // cosine: cos(pi u) = -sin(pi (u - 1/2)) for u >= 0, sin(pi (u + 1/2)) below
    const __m128 non_negative = _mm_cmpge_ps(u, zero);
    const __m128 shift = Select(non_negative, _mm_set1_ps(-0.5f), half);
    const __m128 cosine_sign = Select(non_negative, _mm_set1_ps(-1.0f), one);
    const __m128 z = _mm_mul_ps(pi, _mm_add_ps(u, shift));
    const __m128 cosine = _mm_mul_ps(cosine_sign, SinePolynomial(z));

    // widened to double, two lanes at a time
    _mm_storeu_pd(sines, _mm_cvtps_pd(sine));
    _mm_storeu_pd(sines + 2, _mm_cvtps_pd(_mm_movehl_ps(sine, sine)));
    _mm_storeu_pd(cosines, _mm_cvtps_pd(cosine));
    _mm_storeu_pd(cosines + 2, _mm_cvtps_pd(_mm_movehl_ps(cosine, cosine)));
}

inline void SinCosPi4Scalar(const double phases[kKernelLanes], double sines[kKernelLanes],
                            double cosines[kKernelLanes]) {
    const double pi = kPi;
    for (int lane = 0; lane < kKernelLanes; ++lane) {
        const double u = phases[lane];

        // sine
        const double k1 = u < -0.5 ? 1.0 : 0.0;
        const double k2 = u >= 0.5 ? 1.0 : 0.0;
        const double y = pi * (u + k1 - k2);
        sines[lane] = (1.0 - 2.0 * (k1 + k2)) * SinePolynomial(y);

        // cosine
        const bool non_negative = u >= 0.0;
        const double shift = non_negative ? -0.5 : 0.5;
        const double cosine_sign = non_negative ? -1.0 : 1.0;
        cosines[lane] = cosine_sign * SinePolynomial(pi * (u + shift));
    }
}

}  // namespace kernels
}  // namespace ulvo
