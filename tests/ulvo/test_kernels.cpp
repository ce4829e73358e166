// Sine/cosine kernel against std::sin in long double, its folding points with
// their signed zeros, both variants against each other; the complex power
// against repeated multiplication; the SSE test against the compiler's own.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>

#include "Cpu.h"
#include "Kernels.h"

namespace {

using ulvo::ComplexPow2;
using ulvo::SinCosPi4;
using ulvo::SinCosPi4Scalar;
using ulvo::SinCosPi4Vector;

struct Pair {
    double sine;
    double cosine;
};

// The kernel's result for lane `lane` with `u` there and distinct values in
// the other lanes, so a lane mix-up shows.
Pair Kernel(bool vector, double u, int lane = 0) {
    double phases[4] = {0.125, -0.375, 0.625, -0.875};
    phases[lane] = u;
    double sines[4];
    double cosines[4];
    SinCosPi4(vector, phases, sines, cosines);
    return {sines[lane], cosines[lane]};
}

const long double kPiL = 3.141592653589793238462643383279502884L;

TEST(SinCosPi4, MatchesLibrarySineOverItsRanges) {
    for (bool vector : {false, true}) {
        // Single-precision pi alone costs about 3e-7 at |u| = 1; the float
        // lanes add their own rounding.
        const double margin = vector ? 1e-6 : 4e-7;
        for (int lane = 0; lane < 4; ++lane) {
            for (int step = -1500; step < 1500; ++step) {
                const double u = step / 1000.0;
                const double exact_u = vector ? static_cast<float>(u) : u;
                const Pair got = Kernel(vector, u, lane);
                EXPECT_NEAR(got.sine, static_cast<double>(std::sin(kPiL * exact_u)), margin)
                    << "u=" << u << " lane=" << lane << " vector=" << vector;
                if (std::fabs(u) <= 1.0) {
                    EXPECT_NEAR(got.cosine, static_cast<double>(std::cos(kPiL * exact_u)), margin)
                        << "u=" << u << " lane=" << lane << " vector=" << vector;
                }
            }
        }
    }
}

TEST(SinCosPi4, FoldingPointsAndSignedZeros) {
    for (bool vector : {false, true}) {
        SCOPED_TRACE(vector ? "vector" : "scalar");
        const Pair plus_half = Kernel(vector, 0.5);
        EXPECT_NEAR(plus_half.sine, 1.0, 1e-6);
        EXPECT_EQ(plus_half.cosine, 0.0);
        EXPECT_TRUE(std::signbit(plus_half.cosine)) << "cos(pi/2) comes out as -S(0), a negative zero";

        const Pair minus_half = Kernel(vector, -0.5);
        EXPECT_NEAR(minus_half.sine, -1.0, 1e-6);
        EXPECT_EQ(minus_half.cosine, 0.0);
        EXPECT_FALSE(std::signbit(minus_half.cosine));

        const Pair plus_one = Kernel(vector, 1.0);
        EXPECT_EQ(plus_one.sine, 0.0);
        EXPECT_TRUE(std::signbit(plus_one.sine));
        EXPECT_NEAR(plus_one.cosine, -1.0, 1e-6);

        const Pair minus_one = Kernel(vector, -1.0);
        EXPECT_EQ(minus_one.sine, 0.0);
        EXPECT_TRUE(std::signbit(minus_one.sine));
        EXPECT_NEAR(minus_one.cosine, -1.0, 1e-6);

        const Pair zero = Kernel(vector, 0.0);
        EXPECT_EQ(zero.sine, 0.0);
        EXPECT_NEAR(zero.cosine, 1.0, 1e-6);
    }
}

TEST(SinCosPi4, VariantsAgreeToSinglePrecision) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;  // [0, 1)
    };
    for (int trial = 0; trial < 2000; ++trial) {
        double phases[4];
        for (double& u : phases) u = next() * 2.0 - 1.0;
        double vs[4], vc[4], ss[4], sc[4];
        SinCosPi4Vector(phases, vs, vc);
        SinCosPi4Scalar(phases, ss, sc);
        for (int lane = 0; lane < 4; ++lane) {
            EXPECT_NEAR(vs[lane], ss[lane], 1e-6) << "u=" << phases[lane];
            EXPECT_NEAR(vc[lane], sc[lane], 1e-6) << "u=" << phases[lane];
        }
    }
}

std::complex<long double> PowerByProducts(std::complex<long double> z, int m) {
    std::complex<long double> p = 1.0L;
    for (int k = 0; k < m; ++k) p *= z;
    return p;
}

TEST(ComplexPow2, MatchesRepeatedMultiplication) {
    for (int32_t m : {0, -5}) {  // no power: 1 + 0i for both
        double a, b, c, d;
        ComplexPow2(m, 3.0, -2.0, 0.5, 7.0, &a, &b, &c, &d);
        EXPECT_TRUE(a == 1.0 && b == 0.0 && c == 1.0 && d == 0.0) << "m=" << m;
    }
    const std::complex<long double> z1(0.8L, -0.45L), z2(-1.02L, 0.3L);
    for (int32_t m : {1, 2, 3, 6, 7, 8, 31, 64, 100, 255}) {
        double a, b, c, d;
        ComplexPow2(m, static_cast<double>(z1.real()), static_cast<double>(z1.imag()), static_cast<double>(z2.real()),
                    static_cast<double>(z2.imag()), &a, &b, &c, &d);
        const std::complex<long double> e1 = PowerByProducts(z1, m), e2 = PowerByProducts(z2, m);
        const long double scale1 = std::abs(e1) + 1e-300L, scale2 = std::abs(e2) + 1e-300L;
        EXPECT_LT(std::abs(std::complex<long double>(a, b) - e1) / scale1, 1e-13L) << "m=" << m;
        EXPECT_LT(std::abs(std::complex<long double>(c, d) - e2) / scale2, 1e-13L) << "m=" << m;
    }
    // m = 1 hands back the inputs unchanged
    double a, b, c, d;
    ComplexPow2(1, 0.1, 0.2, 0.3, 0.4, &a, &b, &c, &d);
    EXPECT_EQ(a, 0.1);
    EXPECT_EQ(b, 0.2);
    EXPECT_EQ(c, 0.3);
    EXPECT_EQ(d, 0.4);
}

TEST(Cpu, SseDetectionAgreesWithTheCompiler) {
    __builtin_cpu_init();
    EXPECT_EQ(ulvo::HasSse(), __builtin_cpu_supports("sse") != 0);
}

}  // namespace
