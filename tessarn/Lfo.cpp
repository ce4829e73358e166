#include "Lfo.h"

#include <cmath>
#include <cstring>

#include "EnvelopeMath.h"
#include "PortableMath.h"

namespace tessarn {

namespace {

// The part every moving shape shares: renormalise the phasor, turn it by a
// change of the phase offset, then rotate it by omega per sample and let the
// shape combine the LFO value with the envelope value.
template <class Shape>
void RunLfo(LfoState* lfo, float omega, float depth, float phase_offset, int32_t count, float* out, Shape shape) {
    const float keep = 1.0f - depth;  // K: the share of the envelope kept
    double sin_omega, cos_omega;
    portable_math::SinCos(static_cast<double>(omega), &sin_omega, &cos_omega);

    // Back onto the unit circle against rounding drift. A phasor made
    // non-finite by a bad rate or offset starts again at angle 0, so one bad
    // value does not silence the LFO for good.
    const double norm = 1.0 / std::sqrt(lfo->cosine * lfo->cosine + lfo->sine * lfo->sine);
    if (std::isfinite(norm) && std::isfinite(lfo->sine) && std::isfinite(lfo->cosine)) {
        lfo->sine *= norm;
        lfo->cosine *= norm;
    } else {
        RestartLfo(lfo);
    }

    // A new offset turns the running phasor by the difference.
    if (lfo->applied_offset != phase_offset) {
        const double delta = static_cast<double>(phase_offset) - lfo->applied_offset;
        double sin_delta, cos_delta;
        portable_math::SinCos(delta, &sin_delta, &cos_delta);
        const double sine_before = lfo->sine;
        const double cosine_before = lfo->cosine;
        lfo->cosine = cos_delta * cosine_before - sin_delta * sine_before;
        lfo->sine = sine_before * cos_delta + sin_delta * cosine_before;
        lfo->applied_offset = phase_offset;
    }

    // In registers: the output buffer could alias the state.
    double sine = lfo->sine;
    double cosine = lfo->cosine;
    const double depth_d = depth;
    const double keep_d = keep;
    for (int32_t j = 0; j < count; ++j) {
        // rotate by omega
        const double next_cosine = cos_omega * cosine - sin_omega * sine;
        const double next_sine = cos_omega * sine + sin_omega * cosine;
        cosine = next_cosine;
        sine = next_sine;
        out[j] = static_cast<float>(shape(static_cast<double>(out[j]), sine, depth_d, keep_d));
    }
    lfo->sine = sine;
    lfo->cosine = cosine;
}

}  // namespace

void LfoOff(LfoState*, float, float, float, int16_t, int32_t, float*) {}

void LfoNormalOrBottom(LfoState* lfo, float omega, float depth, float phase_offset, int16_t align, int32_t count,
                       float* out) {
    if (align <= 1) {
        // The envelope faded out, a sine from 0 to 1 faded in.
        RunLfo(lfo, omega, depth, phase_offset, count, out,
               [](double x, double a, double d, double k) { return k * x + 0.5 * d * (1.0 + a); });
    } else {
        // The envelope times a factor swinging between 1 - d and 1.
        RunLfo(lfo, omega, depth, phase_offset, count, out,
               [](double x, double a, double d, double k) { return x * (k + 0.5 * d * (1.0 + a)); });
    }
}

void LfoCenter(LfoState* lfo, float omega, float depth, float phase_offset, int16_t, int32_t count, float* out) {
    // Swings around (1 - d) x + d / 2 by d x / 2.
    RunLfo(lfo, omega, depth, phase_offset, count, out,
           [](double x, double a, double d, double k) { return k * x + 0.5 * d * (1.0 + a * x); });
}

void LfoTop(LfoState* lfo, float omega, float depth, float phase_offset, int16_t, int32_t count, float* out) {
    // Hangs from K x + d and swings down by d x.
    RunLfo(lfo, omega, depth, phase_offset, count, out,
           [](double x, double a, double d, double k) { return k * x + d * (1.0 - 0.5 * x * (1.0 + a)); });
}

LfoShapeFn LfoShapeFor(int16_t align) {
    switch (align) {
    case 0:
        return &LfoOff;
    case 1:
    case 2:
        return &LfoNormalOrBottom;
    case 3:
        return &LfoCenter;
    case 4:
        return &LfoTop;
    default:
        return nullptr;
    }
}

namespace {

// True when every sample has the bits of the first (an idle or still
// sustaining envelope without LFO). A moving block differs at its second
// sample already; only a block that does not is read to the end.
bool StillBlock(const float* out, int32_t count) {
    auto bits_at = [out](int32_t j) {
        uint32_t bits;
        std::memcpy(&bits, out + j, sizeof bits);
        return bits;
    };
    const uint32_t first = bits_at(0);
    if (count > 1 && bits_at(1) != first) return false;
    uint32_t differs = 0u;
    for (int32_t j = 2; j < count; ++j) differs |= bits_at(j) ^ first;
    return differs == 0u;
}

// Steep below the top, like a decibel scale: 1 -> 1, 0.5 -> 0.125.
double ExponentialLaw(double gain, double x) { return gain * x * FastPow2(4.0 * (x - 1.0)); }

}  // namespace

void ApplyOutputLaw(int32_t dbmode, float level, int32_t count, float* out) {
    const double gain = level;
    if (count <= 0) return;
    if (dbmode != kDbModeExponential) {
        for (int32_t j = 0; j < count; ++j) out[j] = static_cast<float>(gain * out[j]);
        return;
    }
    if (StillBlock(out, count)) {
        // One value for the whole block: map it once.
        const float value = static_cast<float>(ExponentialLaw(gain, out[0]));
        for (int32_t j = 0; j < count; ++j) out[j] = value;
        return;
    }
    // Two samples at a time in the lanes of a packed double.
    const __m128d gain_pair = _mm_set1_pd(gain);
    int32_t j = 0;
    for (; j + 1 < count; j += 2) {
        const __m128d x = LoadFloatPair(out + j);
        const __m128d exponent = _mm_mul_pd(_mm_set1_pd(4.0), _mm_sub_pd(x, _mm_set1_pd(1.0)));
        StoreFloatPair(out + j, _mm_mul_pd(_mm_mul_pd(gain_pair, x), FastPow2Pair(exponent)));
    }
    if (j < count) out[j] = static_cast<float>(ExponentialLaw(gain, out[j]));
}

}  // namespace tessarn
