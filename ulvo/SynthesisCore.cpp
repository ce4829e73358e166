#include "SynthesisCore.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

#include "Kernels.h"
#include "KernelsInline.h"
#include "Pair.h"
#include "PortableMath.h"

namespace ulvo {

namespace {

constexpr double kA4Hz = 440.0;                     // "fc" 0.5
constexpr double kOctavesPerFcUnit = 10.0;          // every 0.1 of "fc" is one octave
constexpr double kMinSpacingHz = 0.0001;            // below this the spacing counts as none
constexpr double kRatioGuardBand = 0.0001;          // "a" this close to 1 ...
constexpr double kRatioNearOne = 1.0001;            // ... is used as this
constexpr double kCountLimit = 1073741824.0;        // 2^30: partial counts saturate here
constexpr int32_t kCountLimitInt = 1073741824;      // the same as an integer
constexpr double kCountConvertible = 1073741825.0;  // up to here the conversion below is defined
constexpr double kLoopWrapLimit = 16.0;             // the wrap loop runs at most 8 steps up to here

// Sounding samples worked per chunk: the passes keep their numbers on the stack.
constexpr int32_t kChunk = 64;

// The passes run once per chunk; kept out of line, each shows in a profile
// under its own name at no cost worth counting.
#define ULVO_PASS __attribute__((noinline))

// ---------------------------------------------------------------------------
// Phase wraps

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

// ---------------------------------------------------------------------------
// Comb steps, one per "cfmode" / "cpmode" value, chosen once per block.
// Each takes the current value, the pin sample, 2 / sample rate and the
// modulator increment.

// "off": the pin value
struct CombOff {
    static double Step(double, double input, double, double) { return WrapOnce(input); }
};
// "static": turning at 4 times the pin value in Hz
struct CombStatic {
    static double Step(double value, double input, double dt, double) { return WrapOnce(value + 4.0 * input * dt); }
};
// "dynamic": turning at pin/8 + 1/4 times the spacing frequency
struct CombDynamic {
    static double Step(double value, double input, double, double modulator_step) {
        return WrapFull(value + (input * 0.125 + 0.25) * modulator_step);
    }
};
// any other mode value holds the quantity
struct CombHold {
    static double Step(double value, double, double, double) { return value; }
};
// The comb frequency in wah-wah mode, at that mode's rates.
struct WahOff {
    static double Step(double, double input, double, double) { return std::fabs(WrapOnce(input)); }
};
struct WahStatic {
    static double Step(double value, double input, double dt, double) { return WrapOnce(value + 0.2 * input * dt); }
};
struct WahDynamic {
    static double Step(double value, double input, double, double modulator_step) {
        return WrapFull(value + (input * 0.125 + 0.25) * 0.0125 * modulator_step);
    }
};

// ---------------------------------------------------------------------------
// Band limit for one carrier and spacing frequency (both taken absolute).
struct BandLimit {
    double base_freq;  // the frequencies it was found for
    double spacing_freq;
    bool silence;  // the carrier alone is above the limit, or the bound is NaN
    bool capped;   // highest_partial applies
    int32_t highest_partial;
};
// No absolute frequency equals -1: the first sample finds its limit.
constexpr BandLimit kNoBandLimitYet = {-1.0, -1.0, false, false, 0};

BandLimit BandLimitOf(double abs_base_freq, double abs_spacing_freq, double max_freq) {
    BandLimit limit = {abs_base_freq, abs_spacing_freq, false, false, 0};
    if (abs_spacing_freq > kMinSpacingHz) {
        const double highest = (max_freq - abs_base_freq) / abs_spacing_freq - 0.5;
        if (std::isnan(highest)) {
            limit.silence = true;  // an infinite carrier with an infinite spacing
        } else {
            limit.capped = true;
            limit.highest_partial = RoundToCount(highest).value;
        }
    } else {
        limit.silence = abs_base_freq > max_freq;
    }
    return limit;
}

// ---------------------------------------------------------------------------
// The power pass works on groups of four samples (two pairs), the series
// pass on pairs: a count that is not a multiple of four is padded with
// copies of its last sample.
constexpr int32_t kGroup = 4;
constexpr int32_t kPadded = kChunk + kGroup;

// What the control pass leaves for the other passes, one entry per sounding
// sample of the chunk, and what those passes add.
struct SoundingSamples {
    int32_t count;
    int32_t index[kPadded];                // position in the block
    int32_t terms[kPadded];                // partials + 1
    double phases[kPadded][kKernelLanes];  // carrier, modulator, comb freq, comb phase
    double sines[kPadded][kKernelLanes];
    double cosines[kPadded][kKernelLanes];
    double frac[kPadded];
    double ratio[kPadded];
    double fund[kPadded];
    double wave[kPadded];
    double gain[kPadded];
    double comb_phase_in[kPadded];  // wah-wah: "combphase", from which the comb phase follows
    double radius[kPadded];         // wah-wah: the radius of the turn V
    // power pass: the ratio w between neighbouring partials, the turn (E, or
    // V in wah-wah) and both raised to partials + 1
    double ratio_step_re[kPadded], ratio_step_im[kPadded];
    double turn_re[kPadded], turn_im[kPadded];
    double ratio_power_re[kPadded], ratio_power_im[kPadded];
    double turn_power_re[kPadded], turn_power_im[kPadded];
};

// Control-pass steps of one sample, inline in its loop.

// A silent sample: both outputs 0.
inline void WriteSilence(const BlockBuffers& in, int32_t i) {
    in.out_l[i] = 0.0f;
    in.out_r[i] = 0.0f;
}

// The base frequency, derived only when "fc" changes.
inline void FollowFc(float fc, float* base_freq, float* last_fc) {
    if (fc != *last_fc) {
        *base_freq = static_cast<float>(kA4Hz * portable_math::Exp2(kOctavesPerFcUnit * fc - 5.0));
        *last_fc = fc;
    }
}

// The series of one sample after the band limit: its partial count and
// remainder, or a band-limit silence.
struct CutSeries {
    int32_t partials;
    double frac;
    bool silence;
};

template <bool WahWah>
inline CutSeries CutAtBandLimit(const BandLimit& limit, const PartialCount& asked) {
    CutSeries series = {asked.value, asked.frac, limit.silence};
    if (limit.capped && limit.highest_partial < series.partials) {
        series.partials = limit.highest_partial;
        series.frac = 0.0;
        series.silence = limit.highest_partial < 0;
    } else if (!WahWah && limit.capped && limit.highest_partial == series.partials) {
        // the remainder fades in partial n + 1, which lies above the
        // limit here: it is left out as a cut partial would be. (In
        // wah-wah the remainder weights the first partial of each series
        // and stays.)
        series.frac = 0.0;
    }
    return series;
}

// Rotation, applied as the difference to what is already in the carrier.
inline void FollowRotate(float rotate, double* carrier_phase, float* applied_offset) {
    if (rotate != *applied_offset) {
        *carrier_phase =
            WrapFull(*carrier_phase + (static_cast<double>(rotate) - static_cast<double>(*applied_offset)));
        *applied_offset = rotate;
    }
}

// What the other passes need of one sounding sample.
template <bool WahWah>
inline void KeepSounding(const VoiceState& voice, const BlockBuffers& in, int32_t i, const CutSeries& series,
                         double ratio, SoundingSamples* sounding) {
    const int32_t count = sounding->count;
    sounding->index[count] = i;
    sounding->terms[count] = series.partials + 1;
    double* phases = sounding->phases[count];
    phases[0] = voice.carrier_phase;
    phases[1] = voice.modulator_phase;
    phases[2] = voice.comb_freq;
    phases[3] = voice.comb_phase;
    sounding->frac[count] = series.frac;
    sounding->ratio[count] = ratio;
    sounding->fund[count] = in.fund[i];
    sounding->wave[count] = in.wave[i];
    sounding->gain[count] = voice.gain;
    if (WahWah) sounding->comb_phase_in[count] = in.combphase[i];
    sounding->count = count + 1;
}

// The control pass of one chunk, [from, to) of the block, for one pair of
// comb steps (WahWah: the comb phase is left to the depth pass).
template <class FreqStep, class PhaseStep, bool WahWah>
void ControlPass(VoiceState& voice, const BlockSettings& settings, const BlockBuffers& in, int32_t from, int32_t to,
                 SoundingSamples* sounding) {
    // The state lives in a local for the chunk: stores to the outputs cannot
    // make the compiler reload it.
    VoiceState v = voice;
    const double two_over_sr = settings.two_over_sr;
    BandLimit limit = kNoBandLimitYet;
    sounding->count = 0;

    for (int32_t i = from; i < to; ++i) {
        // gain
        v.gain -= settings.fade_step;
        if (v.gain < 0.0) v.gain = 0.0;

        // gate: silence, phases held
        if (GateSilences(in.gate[i])) {
            WriteSilence(in, i);
            continue;
        }

        FollowFc(in.fc[i], &v.base_freq, &v.last_fc);
        const double base_freq = v.base_freq;
        const double abs_base_freq = std::fabs(base_freq);

        // spacing frequency
        const double spacing_freq = abs_base_freq * in.fm1[i] + in.detune[i];
        const double abs_spacing_freq = std::fabs(spacing_freq);

        // band limit: the highest partial stays at or below max_freq. It
        // depends on the two frequencies only, which still pins repeat.
        if (!(abs_base_freq == limit.base_freq && abs_spacing_freq == limit.spacing_freq))
            limit = BandLimitOf(abs_base_freq, abs_spacing_freq, settings.max_freq);
        const CutSeries series = CutAtBandLimit<WahWah>(limit, settings.partials);
        if (series.silence) {
            WriteSilence(in, i);
            v.carrier_phase = 0.0;
            v.modulator_phase = 0.0;
            continue;
        }

        // ratio: 1 itself would make the normalization 0/0
        double ratio = in.a[i];
        if (std::fabs(ratio - 1.0) < kRatioGuardBand) ratio = kRatioNearOne;

        const double modulator_step = spacing_freq * two_over_sr;
        FollowRotate(in.rotate[i], &v.carrier_phase, &v.applied_offset);

        // comb update: frequency first, then phase
        v.comb_freq = FreqStep::Step(v.comb_freq, in.combfreq[i], two_over_sr, modulator_step);
        if (!WahWah) v.comb_phase = PhaseStep::Step(v.comb_phase, in.combphase[i], two_over_sr, modulator_step);

        KeepSounding<WahWah>(v, in, i, series, ratio, sounding);

        // advance
        v.carrier_phase = WrapOnce(v.carrier_phase + base_freq * two_over_sr);
        v.modulator_phase = WrapFull(v.modulator_phase + modulator_step);
    }
    voice = v;
}

typedef void (*ControlPassFn)(VoiceState&, const BlockSettings&, const BlockBuffers&, int32_t, int32_t,
                              SoundingSamples*);

template <class FreqStep>
ControlPassFn ControlPassFor(int16_t cpmode) {
    switch (cpmode) {
    case kCombOff:
        return &ControlPass<FreqStep, CombOff, false>;
    case kCombStatic:
        return &ControlPass<FreqStep, CombStatic, false>;
    case kCombDynamic:
        return &ControlPass<FreqStep, CombDynamic, false>;
    default:
        return &ControlPass<FreqStep, CombHold, false>;
    }
}

ControlPassFn SelectControlPass(int16_t cpmode, int16_t cfmode) {
    if (cpmode == kCombWahWah) {
        switch (cfmode) {
        case kCombOff:
            return &ControlPass<WahOff, CombHold, true>;
        case kCombStatic:
            return &ControlPass<WahStatic, CombHold, true>;
        case kCombDynamic:
            return &ControlPass<WahDynamic, CombHold, true>;
        default:
            return &ControlPass<CombHold, CombHold, true>;
        }
    }
    switch (cfmode) {
    case kCombOff:
        return ControlPassFor<CombOff>(cpmode);
    case kCombStatic:
        return ControlPassFor<CombStatic>(cpmode);
    case kCombDynamic:
        return ControlPassFor<CombDynamic>(cpmode);
    default:
        return ControlPassFor<CombHold>(cpmode);
    }
}

// ---------------------------------------------------------------------------
// Depth and kernel passes

// The count rounded up to groups.
int32_t PaddedCount(const SoundingSamples& s) { return (s.count + kGroup - 1) / kGroup * kGroup; }

void PadToGroup(bool wah_wah, SoundingSamples* s) {
    const int32_t last = s->count - 1;
    for (int32_t pad = s->count; pad < PaddedCount(*s); ++pad) {
        s->index[pad] = s->index[last];
        s->terms[pad] = s->terms[last];
        for (int lane = 0; lane < kKernelLanes; ++lane) s->phases[pad][lane] = s->phases[last][lane];
        s->frac[pad] = s->frac[last];
        s->ratio[pad] = s->ratio[last];
        s->fund[pad] = s->fund[last];
        s->wave[pad] = s->wave[last];
        s->gain[pad] = s->gain[last];
        if (wah_wah) s->radius[pad] = s->radius[last];
    }
}

// A comb frequency far outside the kernel's range can overflow the
// polynomial; the wah-wah depth of the next sample must not inherit that.
void KeepCombFreqSinCos(double sine, double cosine, double* kept_sine, double* kept_cosine) {
    if (std::isfinite(sine) && std::isfinite(cosine)) {
        *kept_sine = sine;
        *kept_cosine = cosine;
    } else {
        *kept_sine = 0.0;
        *kept_cosine = 1.0;
    }
}

// Wah-wah: the comb phase of each sample follows from the comb frequency's
// sine and cosine at the sample before. Those come first, for all samples
// (each lane of the kernel computes its phase on its own, so four comb
// frequencies in one call give the bits of four separate calls); the chain
// from one sample to the next is then a few multiplications.
ULVO_PASS void DepthPass(VoiceState& voice, bool vector_kernel, SoundingSamples* s) {
    double comb_sines[kChunk + kKernelLanes];
    double comb_cosines[kChunk + kKernelLanes];
    for (int32_t first = 0; first < s->count; first += kKernelLanes) {
        double comb_freqs[kKernelLanes];
        for (int lane = 0; lane < kKernelLanes; ++lane) {
            const int32_t k = first + lane < s->count ? first + lane : s->count - 1;
            comb_freqs[lane] = s->phases[k][2];
        }
        if (vector_kernel)
            kernels::SinCosPi4Vector(comb_freqs, comb_sines + first, comb_cosines + first);
        else
            kernels::SinCosPi4Scalar(comb_freqs, comb_sines + first, comb_cosines + first);
    }
    double previous_sine = voice.comb_freq_sin;
    double previous_cosine = voice.comb_freq_cos;
    double comb_phase = voice.comb_phase;
    for (int32_t k = 0; k < s->count; ++k) {
        // wah depth: 0.5 at multiples of 1/2, 0 at odd quarters
        const double depth = 0.5 - std::fabs(previous_sine * previous_cosine);
        // derived comb phase, not wrapped
        comb_phase = (s->comb_phase_in[k] + 2.0) * 0.25 * depth;
        s->phases[k][3] = comb_phase;
        s->radius[k] = 1.0 - depth * depth;
        KeepCombFreqSinCos(comb_sines[k], comb_cosines[k], &previous_sine, &previous_cosine);
    }
    voice.comb_phase = comb_phase;
}

ULVO_PASS void KernelPass(bool vector_kernel, SoundingSamples* s) {
    const int32_t count = PaddedCount(*s);
    if (vector_kernel) {
        for (int32_t k = 0; k < count; ++k) kernels::SinCosPi4Vector(s->phases[k], s->sines[k], s->cosines[k]);
    } else {
        for (int32_t k = 0; k < count; ++k) kernels::SinCosPi4Scalar(s->phases[k], s->sines[k], s->cosines[k]);
    }
}

// ---------------------------------------------------------------------------
// Series passes, two sounding samples (k, k + 1) at a time

Pair LanePair(const double (*rows)[kKernelLanes], int32_t k, int lane) {
    return Lanes(rows[k][lane], rows[k + 1][lane]);
}

// (x^terms - 1) / (x - 1) given numerator and denominator, formed as the
// numerator times the conjugate of the denominator times the reciprocal of
// its squared magnitude. At x = 1 both are 0; the geometric sum then has
// the limit `terms` (no terms when terms is 0 or below).
ComplexPair GeometricQuotient(ComplexPair numerator, ComplexPair denominator, Pair limit) {
    const Pair magnitude2 = denominator.re * denominator.re + denominator.im * denominator.im;
    const Pair reciprocal = 1.0 / magnitude2;
    const ComplexPair quotient = {(numerator.re * denominator.re + numerator.im * denominator.im) * reciprocal,
                                  (numerator.im * denominator.re - numerator.re * denominator.im) * reciprocal};
    return Select(EqualMask(magnitude2, Both(0.0)), ComplexPair{limit, Both(0.0)}, quotient);
}

// What a series hands to the normalization and the output.
struct SeriesPair {
    Pair x;                   // real part of the shaped sum
    Pair y;                   // imaginary part
    ComplexPair ratio_power;  // w^(n+1)
};

// Normalization, crossfade between the partials above the carrier and their
// mirror images, and the stores. Singular points and overflow of the
// arithmetic give silence, never NaN.
inline __attribute__((always_inline)) void Output(const SoundingSamples& s, int32_t k, const SeriesPair& series,
                                                  const BlockBuffers& out) {
    const Pair ratio = LoadPair(s.ratio + k);
    const Pair fund = LoadPair(s.fund + k);
    const Pair gain = LoadPair(s.gain + k);
    const Pair wave = LoadPair(s.wave + k);
    const Pair sin_carrier = LanePair(s.sines, k, 0);
    const Pair cos_carrier = LanePair(s.cosines, k, 0);

    // normalization: gain / (fund + 1 + a + ... + a^n) for a > 0
    const Pair ratio_power_magnitude =
        Sqrt(series.ratio_power.re * series.ratio_power.re + series.ratio_power.im * series.ratio_power.im);
    const Pair norm = gain * (ratio - 1.0) / ((ratio - 1.0) * fund + ratio_power_magnitude - 1.0);

    const Pair x_cos = series.x * cos_carrier;
    const Pair y_sin = series.y * sin_carrier;
    const Pair x_sin = series.x * sin_carrier;
    const Pair y_cos = series.y * cos_carrier;
    const Pair left = norm * ((x_cos + y_sin) * (1.0 - wave) + (x_cos - y_sin) * wave);
    const Pair right = norm * ((x_sin - y_cos) * (1.0 - wave) + (x_sin + y_cos) * wave);

    alignas(16) float left_f[4], right_f[4];
    _mm_store_ps(left_f, _mm_cvtpd_ps(left.v));
    _mm_store_ps(right_f, _mm_cvtpd_ps(right.v));
    const int32_t lanes = k + 1 < s.count ? 2 : 1;
    for (int lane = 0; lane < lanes; ++lane) {
        const bool finite = std::isfinite(left_f[lane]) && std::isfinite(right_f[lane]);
        const int32_t i = s.index[k + lane];
        out.out_l[i] = finite ? left_f[lane] : 0.0f;
        out.out_r[i] = finite ? right_f[lane] : 0.0f;
    }
}

Pair TermLimit(const SoundingSamples& s, int32_t k) {
    return Lanes(s.terms[k] > 0 ? static_cast<double>(s.terms[k]) : 0.0,
                 s.terms[k + 1] > 0 ? static_cast<double>(s.terms[k + 1]) : 0.0);
}

// The power pass: w and the turn of every sample, and both raised to the
// partial count plus one, four samples in one square-and-multiply loop.
ULVO_PASS void PowerPass(bool wah_wah, SoundingSamples* s) {
    const int32_t count = PaddedCount(*s);
    for (int32_t k = 0; k < count; k += kGroup) {
        ComplexPair ratio_step[2], turn[2], ratio_power[2], turn_power[2];
        for (int pair = 0; pair < 2; ++pair) {
            const int32_t j = k + 2 * pair;
            const Pair minus_ratio = -LoadPair(s->ratio + j);
            ratio_step[pair] = {minus_ratio * LanePair(s->cosines, j, 1), minus_ratio * LanePair(s->sines, j, 1)};
            const ComplexPair comb_step = {LanePair(s->cosines, j, 2), LanePair(s->sines, j, 2)};
            if (wah_wah) {
                // V = r e^(i pi comb phase) e^(i pi comb freq)
                const Pair radius = LoadPair(s->radius + j);
                turn[pair] =
                    ComplexPair{radius * LanePair(s->cosines, j, 3), radius * LanePair(s->sines, j, 3)} * comb_step;
            } else {
                turn[pair] = comb_step;  // E
            }
        }
        ComplexPowLanes<2>(s->terms + k, ratio_step, ratio_power);
        ComplexPowLanes<2>(s->terms + k, turn, turn_power);
        for (int pair = 0; pair < 2; ++pair) {
            const int32_t j = k + 2 * pair;
            StorePair(s->ratio_step_re + j, ratio_step[pair].re);
            StorePair(s->ratio_step_im + j, ratio_step[pair].im);
            StorePair(s->turn_re + j, turn[pair].re);
            StorePair(s->turn_im + j, turn[pair].im);
            StorePair(s->ratio_power_re + j, ratio_power[pair].re);
            StorePair(s->ratio_power_im + j, ratio_power[pair].im);
            StorePair(s->turn_power_re + j, turn_power[pair].re);
            StorePair(s->turn_power_im + j, turn_power[pair].im);
        }
    }
}

// What the series passes read for the pair (k, k + 1).
struct PairTerms {
    Pair frac;
    Pair limit;               // the geometric sum's value where its quotient is 0/0
    ComplexPair ratio_step;   // w
    ComplexPair turn;         // E, or V in wah-wah
    ComplexPair ratio_power;  // P = w^(n+1)
    ComplexPair turn_power;   // Q = E^(n+1) or V^(n+1)
};

PairTerms TermsAt(const SoundingSamples& s, int32_t k) {
    return {LoadPair(s.frac + k),
            TermLimit(s, k),
            {LoadPair(s.ratio_step_re + k), LoadPair(s.ratio_step_im + k)},
            {LoadPair(s.turn_re + k), LoadPair(s.turn_im + k)},
            {LoadPair(s.ratio_power_re + k), LoadPair(s.ratio_power_im + k)},
            {LoadPair(s.turn_power_re + k), LoadPair(s.turn_power_im + k)}};
}

// Comb modes "off", "static" and "dynamic": partial k weighted by
// cos(pi (k comb_freq + comb_phase)).
ULVO_PASS void CombSeriesPass(const SoundingSamples& s, const BlockBuffers& out) {
    for (int32_t k = 0; k < s.count; k += 2) {
        const PairTerms terms = TermsAt(s, k);
        const Pair frac = terms.frac, limit = terms.limit;
        const ComplexPair ratio_step = terms.ratio_step, comb_step = terms.turn;
        const ComplexPair ratio_power = terms.ratio_power, comb_power = terms.turn_power;

        const ComplexPair upper_power = ratio_power * comb_power;
        const ComplexPair upper = GeometricQuotient(MinusOne(upper_power), MinusOne(ratio_step * comb_step), limit);
        const ComplexPair upper_sum = {upper.re - 1.0 + frac * upper_power.re, upper.im + frac * upper_power.im};
        const ComplexPair lower =
            GeometricQuotient(MinusOne(ratio_power * Conj(comb_power)), MinusOne(ratio_step * Conj(comb_step)), limit);
        const ComplexPair lower_sum = {lower.re - 1.0, lower.im};
        const ComplexPair comb_turn = {LanePair(s.cosines, k, 3), LanePair(s.sines, k, 3)};
        const ComplexPair shaped = 0.5 * (comb_turn * upper_sum + Conj(comb_turn) * lower_sum);

        const SeriesPair series = {shaped.re + LoadPair(s.fund + k) * comb_turn.re, shaped.im, ratio_power};
        Output(s, k, series, out);
    }
}

// "wah-wah": four series whose ratios are turned and shrunk by powers of
// V = r e^(i pi (comb_freq + comb_phase)).
ULVO_PASS void WahWahSeriesPass(const SoundingSamples& s, const BlockBuffers& out) {
    for (int32_t k = 0; k < s.count; k += 2) {
        const PairTerms terms = TermsAt(s, k);
        const Pair frac = terms.frac, limit = terms.limit;

        // ratios and powers
        const ComplexPair ratio_step = terms.ratio_step, turn = terms.turn;
        const ComplexPair ratio_power = terms.ratio_power, turn_power = terms.turn_power;
        const ComplexPair turn2 = turn * turn;
        const ComplexPair turn3 = turn2 * turn;
        const ComplexPair turn_power2 = turn_power * turn_power;
        const ComplexPair turn_power3 = turn_power2 * turn_power;

        // four series, ratio w V^j
        const ComplexPair step0 = ratio_step;
        const ComplexPair step1 = ratio_step * turn;
        const ComplexPair step2 = ratio_step * turn2;
        const ComplexPair step3 = ratio_step * turn3;
        const ComplexPair series0 = GeometricQuotient(MinusOne(ratio_power), MinusOne(step0), limit);
        const ComplexPair series1 = GeometricQuotient(MinusOne(ratio_power * turn_power), MinusOne(step1), limit);
        const ComplexPair series2 = GeometricQuotient(MinusOne(ratio_power * turn_power2), MinusOne(step2), limit);
        const ComplexPair series3 = GeometricQuotient(MinusOne(ratio_power * turn_power3), MinusOne(step3), limit);

        // sum: each series enters at half weight, less its k = 0 term
        const Pair real_sum =
            series0.re + series1.re + series2.re + series3.re + frac * (step0.re + step1.re + step2.re + step3.re);
        const Pair imag_sum =
            series0.im + series1.im + series2.im + series3.im + frac * (step0.im + step1.im + step2.im + step3.im);

        const SeriesPair series = {(real_sum * 0.25 - 1.0) * 2.0 + LoadPair(s.fund + k), 0.5 * imag_sum, ratio_power};
        Output(s, k, series, out);
    }
}

}  // namespace

PartialCount RoundToCount(double x) {
    if (std::isnan(x)) return {0, 0.0};
    // Beyond 2^30 + 1 the nearest integer is beyond the limit either way.
    if (!(std::fabs(x) <= kCountConvertible))
        return x > 0.0 ? PartialCount{kCountLimitInt, 0.0} : PartialCount{-kCountLimitInt, 0.0};
    // SSE2 conversion in the current rounding mode: to nearest, ties to even.
    // The nearest integer has the sign of x, as nearbyint gives it (-0 for
    // -0.3 and for -0), so that the remainder of -0 is +0.
    const int32_t nearest_int = _mm_cvtsd_si32(_mm_set_sd(x));
    const double nearest = std::copysign(static_cast<double>(nearest_int), x);
    if (nearest > kCountLimit) return {kCountLimitInt, 0.0};
    if (nearest < -kCountLimit) return {-kCountLimitInt, 0.0};
    return {nearest_int, x - nearest};
}

void RenderBlock(VoiceState& voice, const BlockSettings& settings, const BlockBuffers& buffers, int32_t count) {
    const ControlPassFn control_pass = SelectControlPass(settings.cpmode, settings.cfmode);
    const bool wah_wah = settings.cpmode == kCombWahWah;
    SoundingSamples sounding;
    for (int32_t from = 0; from < count; from += kChunk) {
        const int32_t to = count - from > kChunk ? from + kChunk : count;
        control_pass(voice, settings, buffers, from, to, &sounding);
        if (sounding.count == 0) continue;
        if (wah_wah) DepthPass(voice, settings.vector_kernel, &sounding);
        PadToGroup(wah_wah, &sounding);
        KernelPass(settings.vector_kernel, &sounding);
        const int32_t last = sounding.count - 1;
        KeepCombFreqSinCos(sounding.sines[last][2], sounding.cosines[last][2], &voice.comb_freq_sin,
                           &voice.comb_freq_cos);
        PowerPass(wah_wah, &sounding);
        if (wah_wah) {
            WahWahSeriesPass(sounding, buffers);
        } else {
            CombSeriesPass(sounding, buffers);
        }
    }
}

}  // namespace ulvo
