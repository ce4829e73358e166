// The project's own sine, cosine and power of two against glibc (whose
// results are within an ulp and whose argument reduction is exact) and
// against long double references, with the failing argument printed. The
// counts of last-bit differences from glibc are printed and recorded as test
// properties.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../support/Emulation.h"
#include "PortableMath.h"

namespace {

uint64_t BitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double FromBits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Distance in representable doubles (0 for identical bits, 1 for neighbours;
// +0 and -0 are 0 apart).
int64_t UlpDistance(double a, double b) {
    auto ordered = [](double x) {
        const int64_t bits = static_cast<int64_t>(BitsOf(x));
        return bits < 0 ? INT64_MIN - bits : bits;
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

std::string Hex(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", x);
    return text;
}

// --- argument sets --------------------------------------------------------------

struct ArgumentSet {
    const char* name;
    std::vector<double> args;
};

std::vector<double> Uniform(double low, double high, int count, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> pick(low, high);
    std::vector<double> out;
    for (int k = 0; k < count; ++k) out.push_back(pick(random));
    return out;
}

// Random mantissa, sign and binary exponent from min_exp to max_exp: every
// scale up to the largest double, so every stretch of the 2/pi table is used.
std::vector<double> EveryScale(int min_exp, int max_exp, int count, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<double> out;
    for (int k = 0; k < count; ++k) {
        const uint64_t sign = (random() & 1) << 63;
        const uint64_t exponent =
            static_cast<uint64_t>(min_exp + static_cast<int>(random() % (max_exp - min_exp + 1)) + 1023);
        out.push_back(FromBits(sign | (exponent << 52) | (random() & ((uint64_t{1} << 52) - 1))));
    }
    return out;
}

// The doubles nearest to n pi/2 and their neighbours: the reduction's
// hardest cases, where almost every bit cancels.
std::vector<double> NearQuarterTurns() {
    std::vector<double> out;
    const long double half_pi = 1.5707963267948966192313216916397514L;
    for (int n = 1; n < 3000; n += (n < 200 ? 1 : 37)) {
        const double x = static_cast<double>(n * half_pi);
        out.push_back(x);
        out.push_back(std::nextafter(x, 0.0));
        out.push_back(std::nextafter(x, 1e300));
    }
    out.push_back(1e22);
    out.push_back(std::ldexp(1.0, 1023) * 1.9999999999999998);
    return out;
}

// Angles as the envelope's LFO forms them: float radians per sample for
// rates up to 10 kHz at 44.1 and 48 kHz, and float phase offsets.
std::vector<double> LfoAngles() {
    std::vector<double> out;
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
        for (float hz = 0.01f; hz < 10000.0f; hz *= 1.013f) out.push_back(6.2831855f * (1.0f / rate) * hz);
    for (float turns = -4.0f; turns <= 4.0f; turns += 0.001953125f) out.push_back(6.2831855f * turns);
    for (float turns : {1e6f, 1e9f, 1e15f, 1e30f, 5e37f}) out.push_back(6.2831855f * turns);
    return out;
}

const std::vector<ArgumentSet>& SineArgumentSets() {
    static const std::vector<ArgumentSet> sets = {
        {"quarter turn", Uniform(-0.7853981633974483, 0.7853981633974483, 40000, 1)},
        {"two turns", Uniform(-12.566370614359172, 12.566370614359172, 40000, 2)},
        {"up to 1e6", Uniform(-1e6, 1e6, 40000, 3)},
        {"every scale", EveryScale(-30, 1023, 60000, 4)},
        {"near quarter turns", NearQuarterTurns()},
        {"lfo angles", LfoAngles()},
    };
    return sets;
}

// --- comparison against glibc --------------------------------------------------------

struct Agreement {
    size_t compared = 0;
    size_t last_bit = 0;  // one ulp apart
    size_t worse = 0;     // more than one ulp apart
    std::string first_worse;
};

Agreement CompareWithLibm(const std::vector<double>& args, const std::function<double(double)>& mine,
                          const std::function<double(double)>& libm) {
    Agreement result;
    for (double x : args) {
        const double ours = mine(x), theirs = libm(x);
        ++result.compared;
        const int64_t distance = UlpDistance(ours, theirs);
        if (distance == 1) ++result.last_bit;
        if (distance > 1 && result.worse++ == 0)
            result.first_worse = "x = " + Hex(x) + ": ours " + Hex(ours) + ", libm " + Hex(theirs);
    }
    return result;
}

// Both are within an ulp of the exact value, so they are at most one apart;
// ours is almost always the nearest double, so one-ulp differences are
// glibc's occasional misroundings and stay rare.
TEST(PortableMath, SineAndCosineWithinOneUlpOfLibm) {
    size_t total = 0, sine_differences = 0, cosine_differences = 0;
    for (const ArgumentSet& set : SineArgumentSets()) {
        const Agreement sine = CompareWithLibm(set.args, portable_math::Sin, [](double x) { return std::sin(x); });
        const Agreement cosine = CompareWithLibm(set.args, portable_math::Cos, [](double x) { return std::cos(x); });
        EXPECT_EQ(sine.worse, 0u) << set.name << ": sine " << sine.first_worse;
        EXPECT_EQ(cosine.worse, 0u) << set.name << ": cosine " << cosine.first_worse;
        EXPECT_LE(sine.last_bit + cosine.last_bit, (sine.compared + cosine.compared) / 200)
            << set.name << ": too many last-bit differences for a nearly correctly rounded result";
        std::printf(
            "[ counts   ] %-20s %6zu arguments: sine differs from glibc in the last bit %zu times, cosine %zu\n",
            set.name, sine.compared, sine.last_bit, cosine.last_bit);
        total += sine.compared;
        sine_differences += sine.last_bit;
        cosine_differences += cosine.last_bit;
    }
    ::testing::Test::RecordProperty("arguments", std::to_string(total));
    ::testing::Test::RecordProperty("sine_last_bit_differences", std::to_string(sine_differences));
    ::testing::Test::RecordProperty("cosine_last_bit_differences", std::to_string(cosine_differences));
}

TEST(PortableMath, SinCosAgreesWithSinAndCosAndSymmetries) {
    for (const ArgumentSet& set : SineArgumentSets()) {
        for (double x : set.args) {
            double s, c;
            portable_math::SinCos(x, &s, &c);
            ASSERT_EQ(BitsOf(s), BitsOf(portable_math::Sin(x))) << set.name << " x = " << Hex(x);
            ASSERT_EQ(BitsOf(c), BitsOf(portable_math::Cos(x))) << set.name << " x = " << Hex(x);
            ASSERT_EQ(BitsOf(-s), BitsOf(portable_math::Sin(-x))) << "odd sine at x = " << Hex(x);
            ASSERT_EQ(BitsOf(c), BitsOf(portable_math::Cos(-x))) << "even cosine at x = " << Hex(x);
        }
    }
}

std::vector<double> Exp2Arguments() {
    std::vector<double> args = Uniform(-1.0, 1.0, 40000, 5);
    for (double x : Uniform(-1074.0, 1023.9, 40000, 6)) args.push_back(x);
    // the oscillator's base frequency: 2^(fc units - 5) over the pin range
    for (float fc = -10.0f; fc <= 10.0f; fc += 0.0009765625f) args.push_back(10.0 * fc - 5.0);
    for (double x : Uniform(-1e-6, 1e-6, 2000, 7)) args.push_back(x);
    return args;
}

TEST(PortableMath, Exp2WithinOneUlpOfLibm) {
    const std::vector<double> args = Exp2Arguments();
    const Agreement agreement = CompareWithLibm(args, portable_math::Exp2, [](double x) { return std::exp2(x); });
    EXPECT_EQ(agreement.worse, 0u) << agreement.first_worse;
    EXPECT_LE(agreement.last_bit, agreement.compared / 200);
    std::printf("[ counts   ] exp2 %zu arguments: differs from glibc in the last bit %zu times\n", agreement.compared,
                agreement.last_bit);
    ::testing::Test::RecordProperty("exp2_last_bit_differences", std::to_string(agreement.last_bit));
}

// --- accuracy against long double references -----------------------------------------------

// |ours - exact| in ulps of the exact value, the reference being good to
// about 2^-62 (x87 long double with its 64-bit mantissa).
double UlpError(double ours, long double reference) {
    int exponent = 0;
    std::frexp(static_cast<double>(reference), &exponent);
    const long double ulp = std::ldexp(1.0L, exponent - 53);
    return static_cast<double>(std::fabs(static_cast<long double>(ours) - reference) / ulp);
}

// Taylor series in long double: sin for |x| <= pi/4 (first = 1) or cos
// (first = 0), all terms down to 1e-30.
long double SeriesReference(long double x, int first) {
    long double term = first == 1 ? x : 1.0L, sum = term;
    for (int n = first + 1; n < 60; n += 2) {
        term *= -x * x / (static_cast<long double>(n) * (n + 1));
        sum += term;
    }
    return sum;
}

// Every result within half an ulp (the final rounding) plus a small margin:
// a wrong coefficient or a careless step shows as an error near 0.56 or more.
TEST(PortableMath, ErrorAgainstLongDoubleReferences) {
    constexpr double kBound = 0.5 + 1.0 / 256.0;
    struct Case {
        const char* name;
        std::function<double(double)> ours;
        std::function<long double(double)> reference;
        std::vector<double> args;
    };
    const long double ln2 = 0.693147180559945309417232121458176568L;
    const std::vector<Case> cases = {
        {"sine", portable_math::Sin, [](double x) { return SeriesReference(x, 1); },
         Uniform(-0.7853981633974483, 0.7853981633974483, 50000, 8)},
        {"cosine", portable_math::Cos, [](double x) { return SeriesReference(x, 0); },
         Uniform(-0.7853981633974483, 0.7853981633974483, 50000, 9)},
        {"exp2", portable_math::Exp2,
         [ln2](double x) {
             // 2^x = 2^k e^(f ln 2), k the nearest integer: the series of e^t
             const double k = std::nearbyint(x);
             const long double t = (static_cast<long double>(x) - k) * ln2;
             long double term = 1.0L, sum = 1.0L;
             for (int n = 1; n < 30; ++n) sum += term *= t / n;
             return std::ldexp(sum, static_cast<int>(k));
         },
         Uniform(-1021.0, 1023.0, 50000, 10)},
    };
    for (const Case& c : cases) {
        double worst = 0.0, worst_at = 0.0;
        for (double x : c.args) {
            const double error = UlpError(c.ours(x), c.reference(x));
            if (error > worst) {
                worst = error;
                worst_at = x;
            }
        }
        EXPECT_LT(worst, kBound) << c.name << ": " << worst << " ulp at x = " << Hex(worst_at);
        std::printf("[ counts   ] %s: largest error %.4f ulp\n", c.name, worst);
    }
}

// --- exact values ---------------------------------------------------------------------------

// Hard arguments, with results from 1400-bit arithmetic rounded to the
// nearest double; regenerate with python3 tests/portable_math/exact_values.py.
// The first comes within 2^-61 of a multiple of pi/2 (32-bit glibc's cosine
// is 8 ulps off there); 2^63 and beyond is where fsincos gives up.
TEST(PortableMath, ExactValuesOfHardArguments) {
    struct Case {
        const char* name;
        double x, sine, cosine;
    };
    const Case cases[] = {
        {"6381956970095103 * 2^797", 0x1.6ac5b262ca1ffp+849, 0x1.0000000000000p+0, -0x1.14ae72e6ba22fp-61},
        {"1e22", 0x1.0f0cf064dd592p+73, -0x1.b453ab76bf397p-1, 0x1.0be2cef01c8f4p-1},
        {"the double nearest pi", 0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53, -0x1.0000000000000p+0},
        {"the double nearest pi/2", 0x1.921fb54442d18p+0, 0x1.0000000000000p+0, 0x1.1a62633145c07p-54},
        {"2^1023 (2 - 2^-52)", 0x1.fffffffffffffp+1023, 0x1.452fc98b34e97p-8, -0x1.fffe62ecfab75p-1},
        {"the double nearest 1e300", 0x1.7e43c8800759cp+996, -0x1.a2c16b010e385p-1, -0x1.2699022adc4c1p-1},
        {"2^63", 0x1.0000000000000p+63, 0x1.fff6dfd42dc54p-1, 0x1.82aa375b3c33ep-7},
        {"6.2831855f * 1e30f, as a float", 0x1.3d38460000000p+102, 0x1.f2f2a311ca140p-1, -0x1.cb7ac50544915p-3},
    };
    for (const Case& c : cases) {
        for (double sign : {1.0, -1.0}) {
            double s, co;
            portable_math::SinCos(sign * c.x, &s, &co);
            EXPECT_EQ(BitsOf(s), BitsOf(sign * c.sine)) << c.name << " sign " << sign << ": sine " << Hex(s);
            EXPECT_EQ(BitsOf(co), BitsOf(c.cosine)) << c.name << " sign " << sign << ": cosine " << Hex(co);
        }
    }
}

// --- edge values ----------------------------------------------------------------------------

TEST(PortableMath, EdgeValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double min_subnormal = std::numeric_limits<double>::denorm_min();
    struct Case {
        const char* name;
        double (*function)(double);
        double x;
        double expected;  // NaN: any NaN
    };
    const Case cases[] = {
        {"sin +0", portable_math::Sin, 0.0, 0.0},
        {"sin -0", portable_math::Sin, -0.0, -0.0},
        {"cos -0", portable_math::Cos, -0.0, 1.0},
        {"sin tiny", portable_math::Sin, 1e-300, 1e-300},
        {"sin subnormal", portable_math::Sin, -min_subnormal, -min_subnormal},
        {"cos 2^-27", portable_math::Cos, 0x1p-27, 1.0},
        {"cos 2^-26", portable_math::Cos, 0x1p-26, 1.0 - 0x1p-53},
        {"sin +inf", portable_math::Sin, inf, nan},
        {"cos -inf", portable_math::Cos, -inf, nan},
        {"sin NaN", portable_math::Sin, nan, nan},
        {"cos NaN", portable_math::Cos, nan, nan},
        {"exp2 0", portable_math::Exp2, 0.0, 1.0},
        {"exp2 -0", portable_math::Exp2, -0.0, 1.0},
        {"exp2 1", portable_math::Exp2, 1.0, 2.0},
        {"exp2 -1", portable_math::Exp2, -1.0, 0.5},
        {"exp2 1023", portable_math::Exp2, 1023.0, 0x1p1023},
        {"exp2 -1022", portable_math::Exp2, -1022.0, 0x1p-1022},
        {"exp2 -1074", portable_math::Exp2, -1074.0, min_subnormal},
        {"exp2 -1075.5", portable_math::Exp2, -1075.5, 0.0},
        {"exp2 -1e6", portable_math::Exp2, -1e6, 0.0},
        {"exp2 -inf", portable_math::Exp2, -inf, 0.0},
        {"exp2 1024", portable_math::Exp2, 1024.0, inf},
        {"exp2 +inf", portable_math::Exp2, inf, inf},
        {"exp2 NaN", portable_math::Exp2, nan, nan},
        {"exp2 1023.75", portable_math::Exp2, 1023.75, std::exp2(1023.75)},
        {"exp2 -1060.25", portable_math::Exp2, -1060.25, std::exp2(-1060.25)},
    };
    for (const Case& c : cases) {
        const double got = c.function(c.x);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(got)) << c.name << ": " << Hex(got);
        else
            EXPECT_EQ(BitsOf(got), BitsOf(c.expected))
                << c.name << ": " << Hex(got) << ", expected " << Hex(c.expected);
    }
    // every integer power is exact
    for (int k = -1074; k <= 1023; ++k) ASSERT_EQ(portable_math::Exp2(k), std::ldexp(1.0, k)) << "2^" << k;
}

// --- independence from the x87 unit ----------------------------------------------------------

uint16_t X87ControlWord() {
    uint16_t word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

void SetX87ControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }

// Hosts built with other compilers leave the x87 unit at 53-bit (or even
// 24-bit) precision; the results may not change by a bit.
TEST(PortableMath, ResultsDoNotDependOnX87Precision) {
    if (sep_test::RunningUnderQemuEmulation())
        GTEST_SKIP() << "runs under qemu-i386's emulation, whose results change with the x87 precision control where "
                        "the hardware's do not; measured on hardware only";
    std::vector<double> args = EveryScale(-30, 1023, 5000, 11);
    for (double x : Uniform(-1100.0, 1030.0, 5000, 12)) args.push_back(x);
    auto render = [&args] {
        std::vector<uint64_t> out;
        for (double x : args) {
            double s, c;
            portable_math::SinCos(x, &s, &c);
            out.push_back(BitsOf(s));
            out.push_back(BitsOf(c));
            out.push_back(BitsOf(portable_math::Exp2(x)));
        }
        return out;
    };
    const uint16_t saved = X87ControlWord();
    const std::vector<uint64_t> reference = render();
    for (uint16_t precision_control : {0x0000, 0x0200, 0x0300}) {  // 24, 53, 64 bits
        SetX87ControlWord(static_cast<uint16_t>((saved & ~0x0300) | precision_control));
        const std::vector<uint64_t> again = render();
        SetX87ControlWord(saved);
        EXPECT_EQ(again, reference) << "x87 precision control " << std::hex << precision_control;
    }
}

}  // namespace
