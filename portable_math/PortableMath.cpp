#include "PortableMath.h"

#include <cstdint>
#include <cstring>

namespace portable_math {

namespace {

// --- double-double arithmetic ---------------------------------------------------
// A value hi + lo with |lo| at most half an ulp of hi: about 106 significant
// bits from plain SSE2 doubles. Every step below is exact or rounds at the
// 2^-104 level, so a result's hi is its value rounded once to a double.

struct DoubleDouble {
    double hi;
    double lo;
};

// s + e == a + b exactly.
DoubleDouble TwoSum(double a, double b) {
    const double s = a + b;
    const double b_part = s - a;
    const double e = (a - (s - b_part)) + (b - b_part);
    return {s, e};
}

// s + e == a + b exactly, provided |a| >= |b| (or a == 0).
DoubleDouble FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split: a == hi + lo, each part with at most 26 significant bits,
// so that products of parts are exact.
void Split(double a, double* hi, double* lo) {
    const double c = 134217729.0 * a;  // (2^27 + 1) a
    *hi = c - (c - a);
    *lo = a - *hi;
}

// p + e == a * b exactly (Dekker), barring overflow and underflow.
DoubleDouble TwoProduct(double a, double b) {
    const double p = a * b;
    double a_hi, a_lo, b_hi, b_lo;
    Split(a, &a_hi, &a_lo);
    Split(b, &b_hi, &b_lo);
    const double e = ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
    return {p, e};
}

DoubleDouble Mul(DoubleDouble a, DoubleDouble b) {
    DoubleDouble p = TwoProduct(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return FastTwoSum(p.hi, p.lo);
}

// For sums without heavy cancellation (all the series below).
DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = TwoSum(a.hi, b.hi);
    s.lo += a.lo + b.lo;
    return FastTwoSum(s.hi, s.lo);
}

DoubleDouble Negate(DoubleDouble a) { return {-a.hi, -a.lo}; }

// --- constants (printed by portable_math/gen_constants.py) -------------------------

// 1/n! for n = 0 .. 23, nearest double-double.
constexpr DoubleDouble kInverseFactorial[24] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.0000000000000p-1, 0x0.0p+0},
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},
    {0x1.ae7f3e733b81fp-41, 0x1.1d8656b0ee8cbp-97},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {0x1.6827863b97d97p-53, 0x1.eec01221a8b0bp-107},
    {0x1.2f49b46814157p-57, 0x1.2650f61dbdcb4p-112},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {0x1.0ce396db7f853p-70, -0x1.aebcdbd20331cp-124},
    {0x1.761b41316381ap-75, -0x1.3423c7d91404fp-130},
};

constexpr DoubleDouble kHalfPi = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr DoubleDouble kLn2 = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};

// The double just below pi/4: arguments up to it need no reduction.
constexpr double kQuarterPiBelow = 0x1.921fb54442d18p-1;

// Bits 1 .. 1280 of 2/pi (bit 1 is worth 1/2), most significant first. The
// largest finite double needs bits up to about 1200.
constexpr int kTwoOverPiWords = 40;
constexpr uint32_t kTwoOverPi[kTwoOverPiWords] = {
    0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561,
    0xB7246E3A, 0x424DD2E0, 0x06492EEA, 0x09D1921C, 0xFE1DEB1C, 0xB129A73E, 0xE88235F5, 0x2EBB4484,
    0xE99C7026, 0xB45F7E41, 0x3991D639, 0x835339F4, 0x9C845F8B, 0xBDF9283B, 0x1FF897FF, 0xDE05980F,
    0xEF2F118B, 0x5A0A6D1F, 0x6D367ECF, 0x27CB09B7, 0x4F463F66, 0x9E5FEA2D, 0x7527BAC7, 0xEBE5F17B,
    0x3D0739F7, 0x8A5292EA, 0x6BFB5FB1, 0x1F8D5D08, 0x56033046, 0xFC7B6BAB, 0xF0CFBC20, 0x9AF4361D,
};

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

// 2^k for k in -1022 .. 1023.
double PowerOfTwo(int k) { return FromBits(static_cast<uint64_t>(k + 1023) << 52); }

// Sum over k = 0 .. terms - 1 of sign_k z^k / (first + step k)!, sign_k being
// (-1)^k when `alternating`. Horner's rule from the top: the high-order terms
// in plain double (too small for their rounding to reach the result), the
// last `exact_terms` in double-double.
DoubleDouble Series(DoubleDouble z, int first, int step, bool alternating, int terms, int exact_terms) {
    double tail = 0.0;
    for (int k = terms - 1; k >= exact_terms; --k) {
        const double c = kInverseFactorial[first + step * k].hi;
        tail = tail * z.hi + (alternating && (k & 1) != 0 ? -c : c);
    }
    DoubleDouble sum = {tail, 0.0};
    for (int k = exact_terms - 1; k >= 0; --k) {
        const DoubleDouble c = kInverseFactorial[first + step * k];
        sum = Add(Mul(sum, z), alternating && (k & 1) != 0 ? Negate(c) : c);
    }
    return sum;
}

// --- argument reduction --------------------------------------------------------------

// Bits first_bit .. first_bit + 31 of 2/pi as one word; bits before bit 1
// (worth 1 and more) are 0, as are bits past the table.
uint32_t TwoOverPiWindow(int first_bit) {
    const int offset = first_bit - 1;
    const int word = offset >= 0 ? offset / 32 : -((31 - offset) / 32);
    const int shift = offset - 32 * word;  // 0 .. 31
    auto at = [](int index) -> uint32_t { return index >= 0 && index < kTwoOverPiWords ? kTwoOverPi[index] : 0u; };
    if (shift == 0) return at(word);
    return (at(word) << shift) | (at(word + 1) >> (32 - shift));
}

// Payne and Hanek's reduction, exact for every finite positive double:
// ax = (4 m + quadrant) pi/2 + r with |r| <= pi/4, r to about 104 bits.
//
// ax = mantissa 2^exponent, so ax 2/pi mod 4 needs only the bits of 2/pi
// worth 2^1 and less once scaled by 2^exponent; the higher ones add
// multiples of 4 (whole turns). 224 bits of them from there on, times the
// 53-bit mantissa, leave the fraction with at least 100 correct bits even for
// the doubles that come closest to a multiple of pi/2 (about 2^-61 away).
void ReduceHalfPi(double ax, DoubleDouble* r, int* quadrant) {
    const uint64_t bits = BitsOf(ax);
    const int biased_exponent = static_cast<int>(bits >> 52);
    const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int exponent = biased_exponent - 1075;  // ax = mantissa 2^exponent

    // the window of 2/pi, least significant word first: a 224-bit integer
    // whose top bit is worth 2^1 after scaling, so its value is w 2^-222
    constexpr int kWords = 7;
    uint32_t window[kWords];
    for (int j = 0; j < kWords; ++j) window[kWords - 1 - j] = TwoOverPiWindow(exponent - 1 + 32 * j);

    // product = mantissa * window mod 2^224: 2 bits of quadrant, 222 of fraction
    const uint32_t mantissa_low = static_cast<uint32_t>(mantissa);
    const uint32_t mantissa_high = static_cast<uint32_t>(mantissa >> 32);
    uint32_t product[kWords];
    uint64_t carry = 0;
    for (int j = 0; j < kWords; ++j) {
        const uint64_t v = uint64_t{window[j]} * mantissa_low + carry;
        product[j] = static_cast<uint32_t>(v);
        carry = v >> 32;
    }
    carry = 0;
    for (int j = 0; j + 1 < kWords; ++j) {
        const uint64_t v = uint64_t{window[j]} * mantissa_high + product[j + 1] + carry;
        product[j + 1] = static_cast<uint32_t>(v);
        carry = v >> 32;
    }

    int turn_quarters = static_cast<int>(product[kWords - 1] >> 30);
    product[kWords - 1] &= 0x3FFFFFFFu;
    // round to the nearest quarter turn: a fraction of 1/2 or more counts as
    // the next quarter and leaves 1 - fraction below it
    const bool below_next = (product[kWords - 1] & 0x20000000u) != 0;
    if (below_next) {
        turn_quarters += 1;
        uint64_t borrow = 1;  // two's complement: ~fraction + 1
        for (int j = 0; j < kWords; ++j) {
            const uint64_t v = uint64_t{~product[j]} + borrow;
            product[j] = static_cast<uint32_t>(v);
            borrow = v >> 32;
        }
        product[kWords - 1] &= 0x3FFFFFFFu;
    }

    // the fraction's words, worth word_j 2^(32 j - 222), summed exactly
    DoubleDouble fraction = {0.0, 0.0};
    double scale = 0x1p-222;
    for (int j = 0; j < kWords; ++j) {
        fraction = Add(fraction, {static_cast<double>(product[j]) * scale, 0.0});
        scale *= 0x1p32;
    }
    const DoubleDouble reduced = Mul(fraction, kHalfPi);
    *r = below_next ? Negate(reduced) : reduced;
    *quadrant = turn_quarters & 3;
}

// sin r and cos r for |r| <= pi/4 from z = r^2, each rounded once:
// sin r = r (1 - z/3! + z^2/5! - ...), cos r = 1 - z/2! + z^2/4! - ....
// Ten and eleven terms leave truncations below 2^-72 for z <= (pi/4)^2; the
// terms from z^3 (sine) and z^4 (cosine) on are small enough (below 5e-5 and
// 4e-6 of the result) to be summed in plain double.
double SinSeries(DoubleDouble r, DoubleDouble z) { return Mul(r, Series(z, 1, 2, true, 10, 3)).hi; }
double CosSeries(DoubleDouble z) { return Series(z, 0, 2, true, 11, 4).hi; }

// |x| = quadrant pi/2 + r + whole turns, |r| <= pi/4, for finite |x| >= 2^-27.
struct Reduction {
    DoubleDouble r;
    DoubleDouble z;  // r^2
    int quadrant;
};

Reduction Reduce(double ax) {
    Reduction reduction = {{ax, 0.0}, {0.0, 0.0}, 0};
    if (ax > kQuarterPiBelow) ReduceHalfPi(ax, &reduction.r, &reduction.quadrant);
    reduction.z = Mul(reduction.r, reduction.r);
    return reduction;
}

bool NotFinite(double x) { return (BitsOf(x) & ~(uint64_t{1} << 63)) >= 0x7FF0000000000000u; }

// Below 2^-27, x^3/6 and x^2/2 are under half an ulp: sin x = x, cos x = 1.
constexpr double kTiny = 0x1p-27;

}  // namespace

// sin(q pi/2 + r) is sin r, cos r, -sin r, -cos r for q = 0 .. 3; sine is
// odd, cosine even.
double Sin(double x) {
    if (NotFinite(x)) return x - x;
    const double ax = x < 0.0 ? -x : x;
    if (ax < kTiny) return x;
    const Reduction red = Reduce(ax);
    double sine = (red.quadrant & 1) != 0 ? CosSeries(red.z) : SinSeries(red.r, red.z);
    if ((red.quadrant & 2) != 0) sine = -sine;
    return x < 0.0 ? -sine : sine;
}

// cos(q pi/2 + r) is cos r, -sin r, -cos r, sin r for q = 0 .. 3.
double Cos(double x) {
    if (NotFinite(x)) return x - x;
    const double ax = x < 0.0 ? -x : x;
    if (ax < kTiny) return 1.0;
    const Reduction red = Reduce(ax);
    const double cosine = (red.quadrant & 1) != 0 ? SinSeries(red.r, red.z) : CosSeries(red.z);
    return ((red.quadrant + 1) & 2) != 0 ? -cosine : cosine;
}

void SinCos(double x, double* sine, double* cosine) {
    if (NotFinite(x)) {
        *sine = x - x;
        *cosine = x - x;
        return;
    }
    const double ax = x < 0.0 ? -x : x;
    if (ax < kTiny) {
        *sine = x;
        *cosine = 1.0;
        return;
    }
    const Reduction red = Reduce(ax);
    const double s = SinSeries(red.r, red.z), c = CosSeries(red.z);
    const double turned_sine[4] = {s, c, -s, -c};
    const double turned_cosine[4] = {c, -s, -c, s};
    *sine = x < 0.0 ? -turned_sine[red.quadrant] : turned_sine[red.quadrant];
    *cosine = turned_cosine[red.quadrant];
}

double Exp2(double x) {
    if (x != x) return x + x;
    if (x >= 1024.0) return FromBits(0x7FF0000000000000u);
    if (x < -1080.0) return 0.0;

    // x = k + f with k the nearest integer (ties to even) and |f| <= 1/2,
    // both exact; 2^f = e^(f ln 2) by its series
    const double k = (x + 0x1.8p52) - 0x1.8p52;
    const double f = x - k;
    DoubleDouble t = TwoProduct(f, kLn2.hi);
    t = FastTwoSum(t.hi, t.lo + f * kLn2.lo);
    // |t| <= 0.35: seventeen terms leave a truncation below 2^-74; those
    // from t^5 on (below 5e-5) are summed in plain double
    const double power = Series(t, 0, 1, false, 17, 5).hi;

    // times 2^k, in two exact steps where 2^k itself is out of range; a
    // subnormal result rounds once, in the last step
    const int whole = static_cast<int>(k);
    if (whole > 1023) return power * PowerOfTwo(1023) * PowerOfTwo(whole - 1023);
    if (whole < -1022) return power * PowerOfTwo(whole + 600) * PowerOfTwo(-600);
    return power * PowerOfTwo(whole);
}

}  // namespace portable_math
