// Sine, cosine and power of two computed by the project's own code, so that
// a plug-in gives the same bits whichever C runtime it is linked against.
//
// The runtimes' own functions differ in the last bit: one evaluates sine and
// cosine with the x87 fsincos instruction (and reduces arguments of 2^63 and
// beyond by an approximate 2 pi), another with SSE2 polynomials. Every
// function here:
// - reduces its argument exactly for every finite double (the fraction of
//   x * 2/pi is taken from 1280 bits of 2/pi, so 1e300 is reduced as exactly
//   as 1.0);
// - evaluates in double-double arithmetic and rounds once at the end, so the
//   error stays below one unit in the last place (almost always the result
//   is the double nearest to the exact value);
// - uses SSE2 double arithmetic only: the x87 unit's precision setting does
//   not reach it, and no runtime maths function is called.
// Pure functions without state: no allocation, no exceptions, no errno.
#pragma once

namespace portable_math {

// sin x and cos x; NaN for an infinite or NaN argument.
double Sin(double x);
double Cos(double x);
void SinCos(double x, double* sine, double* cosine);

// 2^x: +inf from x = 1024 on, +0 below the smallest subnormal, NaN for NaN.
double Exp2(double x);

}  // namespace portable_math
