// The power-of-two approximation and the curve family, against independent
// computations (std::ldexp) and hand-worked values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "EnvelopeMath.h"

namespace {

using tessarn::FastPow2;
using tessarn::ShapeCurve;

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(FastPow2, HandWorkedExamples) {
    EXPECT_EQ(FastPow2(0.0), 1.0);
    EXPECT_EQ(FastPow2(-1.0), 0.5);
    EXPECT_EQ(FastPow2(-0.5), 0.75);
    EXPECT_EQ(FastPow2(-2.5), 0.1875);
    EXPECT_EQ(FastPow2(0.25), 1.25);
}

TEST(FastPow2, ExactAtIntegersAndStraightBetween) {
    for (int n = -1022; n <= 1023; ++n) ASSERT_EQ(FastPow2(n), std::ldexp(1.0, n)) << "n = " << n;
    // 2^n * (1 + f), f to within the 2^-20 step of the construction.
    for (double y = -20.0; y < 20.0; y += 0.0137) {
        const double n = std::floor(y);
        const double expected = std::ldexp(1.0 + (y - n), static_cast<int>(n));
        ASSERT_NEAR(FastPow2(y) / expected, 1.0, 0x1p-20) << "y = " << y;
    }
}

TEST(FastPow2, SaturatesOutsideTheNormalRange) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FastPow2(std::nan("")), 0.0);
    EXPECT_EQ(FastPow2(-1023.0), 0.0);  // upper word just below the smallest normal
    EXPECT_EQ(FastPow2(-1.0e6), 0.0);   // would wrap to a negative upper word
    EXPECT_EQ(FastPow2(-inf), 0.0);
    const uint64_t largest = uint64_t{0x7FEFFFFF} << 32;
    for (double y : {1023.9999999, 1024.0, 3000.0, 1.0e300, inf}) EXPECT_EQ(Bits(FastPow2(y)), largest) << "y = " << y;
}

TEST(ShapeCurve, HandWorkedValues) {
    struct Case {
        float k, p;
        double value;
    } cases[] = {
        {10, 0.25f, 0.0703125},  {10, 0.5f, 0.09375},      {10, 0.75f, 0.2109375},  {-10, 0.25f, 0.671875},
        {-10, 0.5f, 0.90625},    {-10, 0.75f, 0.98046875}, {5, 0.25f, 0.220703125}, {5, 0.5f, 0.421875},
        {5, 0.75f, 0.662109375}, {-5, 0.25f, 0.30859375},  {-5, 0.5f, 0.578125},    {-5, 0.75f, 0.80859375},
    };
    for (const Case& c : cases) EXPECT_EQ(ShapeCurve(c.p, c.k), c.value) << "k = " << c.k << ", P = " << c.p;
}

TEST(ShapeCurve, EndsLineAndOvershoot) {
    for (float k = -56.0f; k <= 74.0f; k += 0.5f) {
        EXPECT_EQ(ShapeCurve(0.0f, k), 0.0) << "k = " << k;
        EXPECT_EQ(ShapeCurve(1.0f, k), 1.0) << "k = " << k;
        // Past the end the value is above 1, the curved stages' end test
        // (for strongly negative k the excess drops below double rounding).
        if (k >= -20.0f) {
            EXPECT_GT(ShapeCurve(1.0625f, k), 1.0) << "k = " << k;
        }
    }
    for (float p = 0.0f; p <= 2.0f; p += 0.015625f) EXPECT_EQ(ShapeCurve(p, 0.0f), p) << "P = " << p;
}

// The two-lane forms used by the curve and the exponential law give, lane by
// lane, the bits of the one-sample forms, across the normal range, its edges,
// and values that saturate or vanish.
TEST(FastPow2Pair, EachLaneGivesFastPow2Bits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double exponents[] = {0.0,    -1.0,   -0.5,    -2.5,    0.25,    7.3,     -4.0,         1023.9,
                                1024.0, 2000.0, -1022.0, -1022.5, -1023.0, -1100.0, 1.0 / 3.0,    -1e-9,
                                nan,    inf,    -inf,    1e300,   -1e300,  -0.0,    0.0000004768, 3.999999};
    for (double first : exponents) {
        for (double second : {0.5, nan, -1030.0}) {
            double lanes[2];
            _mm_storeu_pd(lanes, tessarn::FastPow2Pair(_mm_setr_pd(first, second)));
            EXPECT_EQ(Bits(lanes[0]), Bits(FastPow2(first))) << "y = " << first << " beside " << second;
            EXPECT_EQ(Bits(lanes[1]), Bits(FastPow2(second))) << "y = " << second << " beside " << first;
        }
    }
}

TEST(ShapeCurvePair, EachLaneGivesShapeCurveBits) {
    const float forms[] = {0.0f, 0.3f, 1.0f, 10.0f, -0.2f, -1.0f, -10.0f};
    const float phases[] = {0.0f, 1.0e-6f, 0.25f, 0.5f, 0.999f, 1.0f, 1.001f, 3.0f, 1000.0f};
    for (float form : forms) {
        const tessarn::Curve curve = tessarn::MakeCurve(tessarn::FormValue(form));
        for (float phase : phases) {
            const __m128d pair = _mm_setr_pd(phase, 0.5);
            double lanes[2];
            _mm_storeu_pd(lanes, curve.positive ? tessarn::ShapeCurvePair<true>(pair, curve.coefficient)
                                                : tessarn::ShapeCurvePair<false>(pair, curve.coefficient));
            EXPECT_EQ(Bits(lanes[0]), Bits(ShapeCurve(phase, curve))) << "form " << form << ", phase " << phase;
            EXPECT_EQ(Bits(lanes[1]), Bits(ShapeCurve(0.5f, curve))) << "form " << form << ", phase 0.5";
        }
    }
}

}  // namespace
