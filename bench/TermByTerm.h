// The oscillator's sound summed partial by partial, the way the closed form
// avoids: for comparison in the benchmarks only. The same signal as ulvo with
// still pins, comb modes "off" and no band limit: carrier times
//   fund cos(pi d) + sum over k = 1..n of (-a)^k cos(pi (k g + d)) e^(i pi k b),
// normalised by fund + 1 + a + ... + a^n, with the "Wave" crossfade. No sine
// is evaluated per partial or per sample: the partial ratio, the comb weight,
// the carrier and the modulator are all advanced by complex multiplication.
#pragma once

#include <cstdint>

namespace termbyterm {

struct Settings {
    double carrier_step;    // carrier frequency times 2 / sample rate (half-cycles per sample)
    double modulator_step;  // spacing frequency times 2 / sample rate
    int32_t partials;       // n
    double ratio;           // a
    double comb_freq;       // g, half-cycles per partial
    double comb_phase;      // d, half-cycles
    double fund;
    double wave;
};

struct Voice {
    double carrier_re = 1.0, carrier_im = 0.0;
    double modulator_re = 1.0, modulator_im = 0.0;
};

// count samples of both outputs, continuing the voice's rotations.
void RenderBlock(const Settings& settings, Voice* voice, float* out_l, float* out_r, int32_t count);

}  // namespace termbyterm
