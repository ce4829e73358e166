// GenerateBlock: per sample, a carrier times a geometric series of partials
// summed in closed form, so the cost of a sample does not depend on the
// number of partials.
#include <cmath>
#include <cstdint>

#include "Kernels.h"
#include "Module.h"
#include "UlvoVoiceList.h"

namespace ulvo {

namespace {

constexpr double kA4Hz = 440.0;                 // "fc" 0.5
constexpr double kOctavesPerFcUnit = 10.0;      // every 0.1 of "fc" is one octave
constexpr double kMinSpacingHz = 0.0001;        // below this the spacing counts as none
constexpr double kRatioGuardBand = 0.0001;      // "a" this close to 1 ...
constexpr double kRatioNearOne = 1.0001;        // ... is used as this
constexpr double kCountLimit = 1073741824.0;    // 2^30: partial counts saturate here
constexpr int32_t kCountLimitInt = 1073741824;  // the same as an integer
constexpr double kLoopWrapLimit = 16.0;         // the wrap loop runs at most 8 steps up to here

enum CombMode : int16_t { kCombOff = 1, kCombStatic = 2, kCombDynamic = 3, kCombWahWah = 4 };

struct Complex {
    double re;
    double im;
};

Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
Complex operator*(double s, Complex a) { return {s * a.re, s * a.im}; }
Complex Conj(Complex a) { return {a.re, -a.im}; }
Complex MinusOne(Complex a) { return {a.re - 1.0, a.im}; }

// (x^terms - 1) / (x - 1) given numerator and denominator, formed as the
// numerator times the conjugate of the denominator times the reciprocal of
// its squared magnitude. At x = 1 both are 0; the geometric sum then has
// the limit `terms` (no terms when terms is 0 or below).
Complex GeometricQuotient(Complex numerator, Complex denominator, int32_t terms) {
    const double magnitude2 = denominator.re * denominator.re + denominator.im * denominator.im;
    if (magnitude2 == 0.0) return {terms > 0 ? static_cast<double>(terms) : 0.0, 0.0};
    const double reciprocal = 1.0 / magnitude2;
    return {(numerator.re * denominator.re + numerator.im * denominator.im) * reciprocal,
            (numerator.im * denominator.re - numerator.re * denominator.im) * reciprocal};
}

// One wrap step: values beyond +-3 stay outside [-1, 1]. A non-finite phase
// restarts at 0 so that the state stays finite.
double WrapOnce(double phase) {
    if (!std::isfinite(phase)) return 0.0;
    if (phase < -1.0) return phase + 2.0;
    if (phase > 1.0) return phase - 2.0;
    return phase;
}

// Full wrap into [-1, 1]. Far from the range, the exact remainder gives what
// stepping by 2 would reach, without stepping billions of times (or forever,
// once 2 is below the spacing of doubles).
double WrapFull(double phase) {
    if (!std::isfinite(phase)) return 0.0;
    if (std::fabs(phase) <= kLoopWrapLimit) {
        while (phase < -1.0) phase += 2.0;
        while (phase > 1.0) phase -= 2.0;
        return phase;
    }
    double remainder = std::fmod(phase, 2.0);  // exact, with the sign of phase
    if (remainder > 1.0) {
        remainder -= 2.0;
    } else if (remainder < -1.0) {
        remainder += 2.0;
    }
    return remainder + 0.0;  // stepping ends on +0, never on -0
}

// Nearest integer, ties to even, and the remainder. The count saturates at
// +-2^30 (remainder 0), which the power kernel handles in 31 steps; NaN gives 0.
struct Count {
    int32_t value;
    double frac;
};

Count RoundToCount(double x) {
    if (std::isnan(x)) return {0, 0.0};
    const double nearest = std::nearbyint(x);
    if (nearest > kCountLimit) return {kCountLimitInt, 0.0};
    if (nearest < -kCountLimit) return {-kCountLimitInt, 0.0};
    return {static_cast<int32_t>(nearest), x - nearest};
}

// What the series sum hands to the normalization and the output.
struct Series {
    double x;                      // real part of the shaped sum
    double y;                      // imaginary part
    double ratio_power_magnitude;  // |w^(n+1)|
    double sin_carrier;
    double cos_carrier;
};

struct SampleInputs {
    int32_t partials;
    double frac;
    double ratio;
    double modulator_step;
    double fund;
    double comb_freq_in;
    double comb_phase_in;
};

void StoreCombFreqSinCos(Module& module, double sin_comb_freq, double cos_comb_freq) {
    // A comb frequency far outside the kernel's range can overflow the
    // polynomial; the wah-wah depth of the next sample must not inherit that.
    if (std::isfinite(sin_comb_freq) && std::isfinite(cos_comb_freq)) {
        module.m_comb_freq_sin = sin_comb_freq;
        module.m_comb_freq_cos = cos_comb_freq;
    } else {
        module.m_comb_freq_sin = 0.0;
        module.m_comb_freq_cos = 1.0;
    }
}

// The sines and cosines of the four phases as they now stand (carrier,
// modulator, comb frequency, comb phase); the comb frequency's pair is kept
// for the next sample.
void PhaseSinCos(Module& module, double sines[kKernelLanes], double cosines[kKernelLanes]) {
    const double phases[kKernelLanes] = {module.m_carrier_phase, module.m_modulator_phase, module.m_comb_freq,
                                         module.m_comb_phase};
    SinCosPi4(module.m_has_sse, phases, sines, cosines);
    StoreCombFreqSinCos(module, sines[2], cosines[2]);
}

// One comb quantity (frequency or phase) in the modes "off" (the pin value),
// "static" (turning at 4 times the pin value in Hz) and "dynamic" (turning
// at pin/8 + 1/4 times the spacing frequency); any other mode holds it.
double CombStep(int16_t mode, double value, double input, double dt, double modulator_step) {
    switch (mode) {
    case kCombOff:
        return WrapOnce(input);
    case kCombStatic:
        return WrapOnce(value + 4.0 * input * dt);
    case kCombDynamic:
        return WrapFull(value + (input * 0.125 + 0.25) * modulator_step);
    default:
        return value;
    }
}

// Comb modes "off", "static" and "dynamic": partial k weighted by
// cos(pi (k comb_freq + comb_phase)).
Series CombSeries(Module& module, const SampleInputs& in) {
    const double dt = module.m_two_over_sr;

    // comb update: frequency first, then phase
    module.m_comb_freq = CombStep(module.m_cfmode, module.m_comb_freq, in.comb_freq_in, dt, in.modulator_step);
    module.m_comb_phase = CombStep(module.m_cpmode, module.m_comb_phase, in.comb_phase_in, dt, in.modulator_step);

    // sines and cosines
    double sines[kKernelLanes];
    double cosines[kKernelLanes];
    PhaseSinCos(module, sines, cosines);

    // series sum
    const int32_t terms = in.partials + 1;
    const Complex ratio_step = {-in.ratio * cosines[1], -in.ratio * sines[1]};  // w
    const Complex comb_step = {cosines[2], sines[2]};                           // E
    Complex ratio_power;                                                        // P = w^(n+1)
    Complex comb_power;                                                         // Q = E^(n+1)
    ComplexPow2(terms, ratio_step.re, ratio_step.im, comb_step.re, comb_step.im, &ratio_power.re, &ratio_power.im,
                &comb_power.re, &comb_power.im);
    const Complex upper_power = ratio_power * comb_power;
    const Complex upper = GeometricQuotient(MinusOne(upper_power), MinusOne(ratio_step * comb_step), terms);
    const Complex upper_sum = {upper.re - 1.0 + in.frac * upper_power.re, upper.im + in.frac * upper_power.im};
    const Complex lower =
        GeometricQuotient(MinusOne(ratio_power * Conj(comb_power)), MinusOne(ratio_step * Conj(comb_step)), terms);
    const Complex lower_sum = {lower.re - 1.0, lower.im};
    const Complex comb_turn = {cosines[3], sines[3]};
    const Complex shaped = 0.5 * (comb_turn * upper_sum + Conj(comb_turn) * lower_sum);

    return {shaped.re + in.fund * cosines[3], shaped.im,
            std::sqrt(ratio_power.re * ratio_power.re + ratio_power.im * ratio_power.im), sines[0], cosines[0]};
}

// "wah-wah": four series whose ratios are turned and shrunk by powers of
// V = r e^(i pi (comb_freq + comb_phase)), the comb phase following the
// previous sample's comb frequency.
Series WahWahSeries(Module& module, const SampleInputs& in) {
    const double dt = module.m_two_over_sr;

    // wah depth from the previous sample: 0.5 at multiples of 1/2, 0 at odd quarters
    const double depth = 0.5 - std::fabs(module.m_comb_freq_sin * module.m_comb_freq_cos);

    // comb frequency at this mode's rates
    switch (module.m_cfmode) {
    case kCombOff:
        module.m_comb_freq = std::fabs(WrapOnce(in.comb_freq_in));
        break;
    case kCombStatic:
        module.m_comb_freq = WrapOnce(module.m_comb_freq + 0.2 * in.comb_freq_in * dt);
        break;
    case kCombDynamic:
        module.m_comb_freq =
            WrapFull(module.m_comb_freq + (in.comb_freq_in * 0.125 + 0.25) * 0.0125 * in.modulator_step);
        break;
    default:
        break;
    }

    // derived comb phase, not wrapped
    module.m_comb_phase = (in.comb_phase_in + 2.0) * 0.25 * depth;
    const double radius = 1.0 - depth * depth;

    // sines and cosines
    double sines[kKernelLanes];
    double cosines[kKernelLanes];
    PhaseSinCos(module, sines, cosines);

    // ratios and powers
    const int32_t terms = in.partials + 1;
    const Complex ratio_step = {-in.ratio * cosines[1], -in.ratio * sines[1]};                             // w
    const Complex turn = Complex{radius * cosines[3], radius * sines[3]} * Complex{cosines[2], sines[2]};  // V
    Complex ratio_power;  // P = w^(n+1)
    Complex turn_power;   // Q = V^(n+1)
    ComplexPow2(terms, ratio_step.re, ratio_step.im, turn.re, turn.im, &ratio_power.re, &ratio_power.im, &turn_power.re,
                &turn_power.im);
    const Complex turn2 = turn * turn;
    const Complex turn3 = turn2 * turn;
    const Complex turn_power2 = turn_power * turn_power;
    const Complex turn_power3 = turn_power2 * turn_power;

    // four series, ratio w V^j
    const Complex step0 = ratio_step;
    const Complex step1 = ratio_step * turn;
    const Complex step2 = ratio_step * turn2;
    const Complex step3 = ratio_step * turn3;
    const Complex series0 = GeometricQuotient(MinusOne(ratio_power), MinusOne(step0), terms);
    const Complex series1 = GeometricQuotient(MinusOne(ratio_power * turn_power), MinusOne(step1), terms);
    const Complex series2 = GeometricQuotient(MinusOne(ratio_power * turn_power2), MinusOne(step2), terms);
    const Complex series3 = GeometricQuotient(MinusOne(ratio_power * turn_power3), MinusOne(step3), terms);

    // sum: each series enters at half weight, less its k = 0 term
    const double real_sum =
        series0.re + series1.re + series2.re + series3.re + in.frac * (step0.re + step1.re + step2.re + step3.re);
    const double imag_sum =
        series0.im + series1.im + series2.im + series3.im + in.frac * (step0.im + step1.im + step2.im + step3.im);

    return {(real_sum * 0.25 - 1.0) * 2.0 + in.fund, 0.5 * imag_sum,
            std::sqrt(ratio_power.re * ratio_power.re + ratio_power.im * ratio_power.im), sines[0], cosines[0]};
}

}  // namespace

void Module::GenerateBlock(int32_t start, int32_t count) {
    // The host binds every buffer at open; without them there is nothing to do.
    if (m_fc == nullptr || m_fm1 == nullptr || m_n == nullptr || m_a == nullptr || m_gate == nullptr ||
        m_detune == nullptr || m_wave == nullptr || m_combfreq == nullptr || m_combphase == nullptr ||
        m_fund == nullptr || m_rotate == nullptr || m_outputl == nullptr || m_outputr == nullptr)
        return;

    // block head: fade of a stolen voice, release at a gate that starts at 0
    const double fade_step = m_voices != nullptr && m_voices->IsStolen(m_voice_index) ? m_voices->m_fade_step : 0.0;
    if (m_gate[start] == 0.0f) {
        if (m_voices != nullptr) m_voices->ReleaseVoice(m_voice_index);
        GoToSleep();
    } else if (m_gain == 0.0) {
        GoToSleep();
    }
    const Count block_partials = RoundToCount(m_n[start]);  // "N" is read once per block

    for (int32_t i = start; i < start + count; ++i) {
        // gain
        m_gain -= fade_step;
        if (m_gain < 0.0) m_gain = 0.0;

        // gate: silence, phases held
        if (m_gate[i] == 0.0f) {
            m_outputl[i] = 0.0f;
            m_outputr[i] = 0.0f;
            continue;
        }

        // base frequency, derived only when "fc" changes
        if (m_fc[i] != m_last_fc) {
            m_base_freq = static_cast<float>(kA4Hz * std::exp2(kOctavesPerFcUnit * m_fc[i] - 5.0));
            m_last_fc = m_fc[i];
        }
        const double base_freq = m_base_freq;
        const double abs_base_freq = std::fabs(base_freq);

        // spacing frequency
        const double spacing_freq = abs_base_freq * m_fm1[i] + m_detune[i];
        const double abs_spacing_freq = std::fabs(spacing_freq);

        // partial count
        int32_t partials = block_partials.value;
        double frac = block_partials.frac;

        // band limit: the highest partial stays at or below m_max_freq
        bool band_limit_silence = false;
        if (abs_spacing_freq > kMinSpacingHz) {
            const double highest = (m_max_freq - abs_base_freq) / abs_spacing_freq - 0.5;
            if (std::isnan(highest)) {
                band_limit_silence = true;  // an infinite carrier with an infinite spacing
            } else {
                const Count limit = RoundToCount(highest);
                if (limit.value < partials) {
                    partials = limit.value;
                    frac = 0.0;
                    band_limit_silence = limit.value < 0;
                }
            }
        } else {
            band_limit_silence = abs_base_freq > m_max_freq;
        }
        if (band_limit_silence) {
            m_outputl[i] = 0.0f;
            m_outputr[i] = 0.0f;
            m_carrier_phase = 0.0;
            m_modulator_phase = 0.0;
            continue;
        }

        // ratio: 1 itself would make the normalization 0/0
        double ratio = m_a[i];
        if (std::fabs(ratio - 1.0) < kRatioGuardBand) ratio = kRatioNearOne;

        // modulator increment
        const double modulator_step = spacing_freq * m_two_over_sr;

        // rotation, applied as the difference to what is already in the carrier
        const float rotate = m_rotate[i];
        if (rotate != m_applied_offset) {
            m_carrier_phase =
                WrapFull(m_carrier_phase + (static_cast<double>(rotate) - static_cast<double>(m_applied_offset)));
            m_applied_offset = rotate;
        }

        // comb update, sines and cosines, series sum
        const double fund = m_fund[i];
        const SampleInputs inputs = {partials, frac, ratio, modulator_step, fund, m_combfreq[i], m_combphase[i]};
        const Series series = m_cpmode == kCombWahWah ? WahWahSeries(*this, inputs) : CombSeries(*this, inputs);

        // normalization: m_gain / (fund + 1 + a + ... + a^n) for a > 0
        const double norm = m_gain * (ratio - 1.0) / ((ratio - 1.0) * fund + series.ratio_power_magnitude - 1.0);

        // output: crossfade between the partials above the carrier and their mirror images
        const double wave = m_wave[i];
        const double x_cos = series.x * series.cos_carrier;
        const double y_sin = series.y * series.sin_carrier;
        const double x_sin = series.x * series.sin_carrier;
        const double y_cos = series.y * series.cos_carrier;
        const float out_l = static_cast<float>(norm * ((x_cos + y_sin) * (1.0 - wave) + (x_cos - y_sin) * wave));
        const float out_r = static_cast<float>(norm * ((x_sin - y_cos) * (1.0 - wave) + (x_sin + y_cos) * wave));
        // Singular points and overflow of the arithmetic give silence, never NaN.
        const bool finite = std::isfinite(out_l) && std::isfinite(out_r);
        m_outputl[i] = finite ? out_l : 0.0f;
        m_outputr[i] = finite ? out_r : 0.0f;

        // advance
        m_carrier_phase = WrapOnce(m_carrier_phase + base_freq * m_two_over_sr);
        m_modulator_phase = WrapFull(m_modulator_phase + modulator_step);
    }
}

}  // namespace ulvo
