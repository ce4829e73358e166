// The two numeric kernels of the per-sample synthesis: sine and cosine of
// four phases at once, and two complex numbers raised to one integer power.
// Pure functions without state and without frame dependencies.
#pragma once

#include <cstdint>

namespace ulvo {

// Phases are in half-cycles: u stands for the angle pi * u.
constexpr int kKernelLanes = 4;

// Sine and cosine of pi * phases[j] for the four lanes, by a range reduction
// and one odd polynomial of degree 15. Accurate for sines with u in
// [-1.5, 1.5) and cosines with u in [-1, 1]; outside those ranges the same
// formulas run unchanged. `use_vector` picks the four-lane single-precision
// SSE variant; otherwise every lane is computed in double.
void SinCosPi4(bool use_vector, const double phases[kKernelLanes], double sines[kKernelLanes],
               double cosines[kKernelLanes]);

// The two variants, callable on their own so that they can be compared.
void SinCosPi4Vector(const double phases[kKernelLanes], double sines[kKernelLanes], double cosines[kKernelLanes]);
void SinCosPi4Scalar(const double phases[kKernelLanes], double sines[kKernelLanes], double cosines[kKernelLanes]);

// (z1^m, z2^m) by right-to-left square-and-multiply on both numbers
// together; an exponent of 0 or below gives 1 + 0i for both.
void ComplexPow2(int32_t m, double z1_re, double z1_im, double z2_re, double z2_im, double* p1_re, double* p1_im,
                 double* p2_re, double* p2_im);

}  // namespace ulvo
