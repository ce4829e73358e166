#include "TermByTerm.h"

#include <cmath>

namespace termbyterm {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Complex {
    double re, im;
};
inline Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

Complex Turn(double half_cycles) { return {std::cos(kPi * half_cycles), std::sin(kPi * half_cycles)}; }

}  // namespace

void RenderBlock(const Settings& settings, Voice* voice, float* out_l, float* out_r, int32_t count) {
    // per block: the steps of every rotation
    const Complex carrier_step = Turn(settings.carrier_step);
    const Complex modulator_step = Turn(settings.modulator_step);
    const Complex comb_step = Turn(settings.comb_freq);  // from partial to partial
    const Complex comb_start = Turn(settings.comb_phase);
    const double ratio = settings.ratio;

    Complex carrier = {voice->carrier_re, voice->carrier_im};
    Complex modulator = {voice->modulator_re, voice->modulator_im};
    for (int32_t i = 0; i < count; ++i) {
        // partial k: (-a)^k e^(i pi k b) times the comb weight Re(e^(i pi (k g + d)))
        const Complex partial_step = {-ratio * modulator.re, -ratio * modulator.im};
        Complex partial = partial_step;
        Complex comb = comb_start * comb_step;
        double sum_re = settings.fund * comb_start.re;
        double sum_im = 0.0;
        double norm = settings.fund;
        double ratio_power = 1.0;
        for (int32_t k = 1; k <= settings.partials; ++k) {
            sum_re += comb.re * partial.re;
            sum_im += comb.re * partial.im;
            ratio_power *= ratio;
            norm += ratio_power;
            partial = partial * partial_step;
            comb = comb * comb_step;
        }
        const double gain = 1.0 / (norm + 1.0);

        // carrier and crossfade, as in the module's output step
        const double wave = settings.wave;
        const double x_cos = sum_re * carrier.re, y_sin = sum_im * carrier.im;
        const double x_sin = sum_re * carrier.im, y_cos = sum_im * carrier.re;
        out_l[i] = static_cast<float>(gain * ((x_cos + y_sin) * (1.0 - wave) + (x_cos - y_sin) * wave));
        out_r[i] = static_cast<float>(gain * ((x_sin - y_cos) * (1.0 - wave) + (x_sin + y_cos) * wave));

        carrier = carrier * carrier_step;
        modulator = modulator * modulator_step;
    }
    // back onto the unit circle once per block
    const double carrier_norm = 1.0 / std::sqrt(carrier.re * carrier.re + carrier.im * carrier.im);
    const double modulator_norm = 1.0 / std::sqrt(modulator.re * modulator.re + modulator.im * modulator.im);
    voice->carrier_re = carrier.re * carrier_norm;
    voice->carrier_im = carrier.im * carrier_norm;
    voice->modulator_re = modulator.re * modulator_norm;
    voice->modulator_im = modulator.im * modulator_norm;
}

}  // namespace termbyterm
