#include "Kernels.h"

#include "KernelsInline.h"

namespace ulvo {

void SinCosPi4Vector(const double phases[kKernelLanes], double sines[kKernelLanes], double cosines[kKernelLanes]) {
    kernels::SinCosPi4Vector(phases, sines, cosines);
}

void SinCosPi4Scalar(const double phases[kKernelLanes], double sines[kKernelLanes], double cosines[kKernelLanes]) {
    kernels::SinCosPi4Scalar(phases, sines, cosines);
}

void SinCosPi4(bool use_vector, const double phases[kKernelLanes], double sines[kKernelLanes],
               double cosines[kKernelLanes]) {
    if (use_vector) {
        SinCosPi4Vector(phases, sines, cosines);
    } else {
        SinCosPi4Scalar(phases, sines, cosines);
    }
}

void ComplexPow2(int32_t m, double z1_re, double z1_im, double z2_re, double z2_im, double* p1_re, double* p1_im,
                 double* p2_re, double* p2_im) {
    double r1_re = 1.0, r1_im = 0.0;
    double r2_re = 1.0, r2_im = 0.0;
    if (m > 0) {
        double b1_re = z1_re, b1_im = z1_im;
        double b2_re = z2_re, b2_im = z2_im;
        uint32_t bits = static_cast<uint32_t>(m);
        for (;;) {
            if ((bits & 1u) != 0) {
                const double t1_re = r1_re * b1_re - r1_im * b1_im;
                r1_im = r1_re * b1_im + r1_im * b1_re;
                r1_re = t1_re;
                const double t2_re = r2_re * b2_re - r2_im * b2_im;
                r2_im = r2_re * b2_im + r2_im * b2_re;
                r2_re = t2_re;
            }
            if (bits < 2u) break;
            bits >>= 1;
            const double s1_re = b1_re * b1_re - b1_im * b1_im;
            b1_im = 2.0 * b1_re * b1_im;
            b1_re = s1_re;
            const double s2_re = b2_re * b2_re - b2_im * b2_im;
            b2_im = 2.0 * b2_re * b2_im;
            b2_re = s2_re;
        }
    }
    *p1_re = r1_re;
    *p1_im = r1_im;
    *p2_re = r2_re;
    *p2_im = r2_im;
}

}  // namespace ulvo
