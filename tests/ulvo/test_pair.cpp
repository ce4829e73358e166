// The two-lane arithmetic of the synthesis core against the one-sample
// arithmetic it stands in for, bit for bit: the lane-wise power against
// ComplexPow2 (equal and unequal exponents, exponents of 0 and below, values
// that overflow and underflow), and the partial-count rounding against the
// library's nearbyint with the same saturation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "Kernels.h"
#include "Pair.h"
#include "SynthesisCore.h"

namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Complex {
    double re, im;
};

TEST(ComplexPowLanes, EveryLaneGivesComplexPow2Bits) {
    const Complex bases[4] = {{-0.8, 0.3}, {0.6, 0.8}, {0.5, -0.0}, {1.7, -2.2}};
    const int32_t exponent_sets[][4] = {
        {47, 47, 47, 47},
        {1, 1, 1, 1},
        {0, 0, 0, 0},
        {-5, 3, 0, 12},
        {1001, 11, 100001, 2},
        {1 << 30, 5, 6, 7},
        {2, 1073741825, -1, 64},
        {1500, 1500, 1024, 1025},
    };
    for (const auto& exponents : exponent_sets) {
        ulvo::ComplexPair z[2], power[2];
        z[0] = {ulvo::Lanes(bases[0].re, bases[1].re), ulvo::Lanes(bases[0].im, bases[1].im)};
        z[1] = {ulvo::Lanes(bases[2].re, bases[3].re), ulvo::Lanes(bases[2].im, bases[3].im)};
        ulvo::ComplexPowLanes<2>(exponents, z, power);
        for (int lane = 0; lane < 4; ++lane) {
            // ComplexPow2 raises two numbers; the second one here is a decoy.
            double re, im, decoy_re, decoy_im;
            ulvo::ComplexPow2(exponents[lane], bases[lane].re, bases[lane].im, 0.3, 0.4, &re, &im, &decoy_re,
                              &decoy_im);
            const ulvo::ComplexPair& p = power[lane / 2];
            const double got_re = lane % 2 == 0 ? ulvo::First(p.re) : ulvo::Second(p.re);
            const double got_im = lane % 2 == 0 ? ulvo::First(p.im) : ulvo::Second(p.im);
            EXPECT_TRUE(SameBits(got_re, re) && SameBits(got_im, im))
                << "lane " << lane << ", exponent " << exponents[lane] << ": " << got_re << " + " << got_im
                << "i, ComplexPow2 " << re << " + " << im << "i";
        }
    }
}

TEST(RoundToCount, NearestEvenAndSaturationAsTheLibraryGives) {
    constexpr double kLimit = 1073741824.0;  // 2^30
    const double inf = std::numeric_limits<double>::infinity();
    const double cases[] = {0.0,           -0.0,          -0.3,          0.5,          1.5,
                            2.5,           -2.5,          3.49999,       -3.5,         46.227,
                            1e9,           kLimit - 0.5,  kLimit,        kLimit + 0.5, kLimit + 1.0,
                            kLimit + 1.5,  -kLimit - 0.5, -kLimit - 1.0, 2147483647.5, 2147483648.0,
                            -2147483648.5, 4.0e9,         -1.0e300,      inf,          -inf};
    for (double x : cases) {
        const double nearest = std::nearbyint(x);
        int32_t value;
        double frac;
        if (nearest > kLimit) {
            value = 1073741824;
            frac = 0.0;
        } else if (nearest < -kLimit) {
            value = -1073741824;
            frac = 0.0;
        } else {
            value = static_cast<int32_t>(nearest);
            frac = x - nearest;
        }
        const ulvo::PartialCount count = ulvo::RoundToCount(x);
        EXPECT_EQ(count.value, value) << "x = " << x;
        EXPECT_TRUE(SameBits(count.frac, frac)) << "x = " << x << ": frac " << count.frac << ", expected " << frac;
    }
    const ulvo::PartialCount nan = ulvo::RoundToCount(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(nan.value, 0);
    EXPECT_EQ(nan.frac, 0.0);
}

}  // namespace
