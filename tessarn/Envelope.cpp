// The stage machine: gate edges, ranges and the six stages.
#include <xmmintrin.h>

#include "EnvelopeMath.h"
#include "Module.h"

namespace tessarn {

namespace {

// A gate sample at or above this is high (the float 0x33D6BF95).
constexpr float kGateThreshold = 1.0e-7f;

constexpr int32_t kGateOn = 1;
constexpr int32_t kGateOff = -1;

// k of a curved stage from its form pin at the first sample the stage writes.
// A stage entered with no samples left writes nothing, and the sample past
// the range may lie past the call, so it is not read then.
float StageForm(const float* form, int32_t s, int32_t i, int32_t n) { return i < n ? FormValue(form[s + i]) : 0.0f; }

// The first index from `from` on whose gate sample lies on the other side of
// the threshold (below it when the gate is high, at or above it when low; a
// NaN never crosses), or n. Four samples per comparison.
int32_t FindCrossing(const float* gate, int32_t from, int32_t n, bool high) {
    const __m128 threshold = _mm_set1_ps(kGateThreshold);
    int32_t j = from;
    for (; j + 4 <= n; j += 4) {
        const __m128 x = _mm_loadu_ps(gate + j);
        const int crossed = _mm_movemask_ps(high ? _mm_cmplt_ps(x, threshold) : _mm_cmpge_ps(x, threshold));
        if (crossed != 0) return j + __builtin_ctz(static_cast<unsigned>(crossed));
    }
    for (; j < n; ++j)
        if (high ? gate[j] < kGateThreshold : gate[j] >= kGateThreshold) return j;
    return n;
}

}  // namespace

void Module::RestartLfo() {
    m_lfo_sin = 0.0;
    m_lfo_cos = 1.0;
    m_lfo_phase_applied = 0.0f;
}

// A gate-on outside the attack: the attack from 0, the LFO from its start.
void Module::StartAttack() {
    m_stage = STAGE_ATTACK;
    m_phase = 0.0f;
    RestartLfo();
}

void Module::ScanGate(uint32_t t0, int32_t s, int32_t n) {
    // A gate the host holds still changes only at a call's first sample, as
    // the host cuts its blocks at event times: any change counts there.
    const float g0 = m_gate[s];
    if (g0 > m_last_gate || g0 < m_last_gate) {  // NaN compares as equal
        if (g0 > m_last_gate) {
            m_gate_held = true;
            ProcessRange(t0, s, 0, kGateOn);
        } else {
            m_gate_held = false;
            ProcessRange(t0, s, 0, m_no_release - 1);
        }
        m_last_gate = g0;
    }

    // Threshold crossings of a streaming gate cut the call into ranges.
    int32_t a = 0;
    for (;;) {
        const bool high = m_last_gate >= kGateThreshold;
        const int32_t j = FindCrossing(m_gate + s, a + 1, n, high);
        if (j >= n) {
            ProcessRange(t0 + static_cast<uint32_t>(a), s + a, n - a, 0);
            return;
        }
        m_last_gate = m_gate[s + j];
        ProcessRange(t0 + static_cast<uint32_t>(a), s + a, j - a, high ? m_no_release - 1 : kGateOn);
        a = j;
    }
}

void Module::ProcessRange(uint32_t t, int32_t s, int32_t n, int32_t e) {
    int32_t i = 0;
    // The stages form a chain without loops (attack, hold, decay, sustain;
    // hold, release, idle), so this ends after a few steps.
    for (;;) {
        bool ended = false;
        switch (m_stage) {
        case STAGE_ATTACK:
            ended = RunAttack(t, s, &i, n, e);
            break;
        case STAGE_HOLD:
            ended = RunHold(s, &i, n, e);
            break;
        case STAGE_DECAY:
            ended = RunDecay(s, &i, n, e);
            break;
        case STAGE_SUSTAIN:
            ended = RunSustain(t, s, &i, n, e);
            break;
        case STAGE_RELEASE:
            ended = RunRelease(s, &i, n, e);
            break;
        default:
            m_stage = STAGE_IDLE;
            ended = RunIdle(t, s, &i, n, e);
            break;
        }
        if (!ended) return;
    }
}

namespace {

// The curve values of one curved stage from index i to n, the branch of the
// curve chosen once. The phase, advanced by step before each sample, is a
// serial chain of float additions kept in a register (the output buffer
// could alias a member); the curve of each phase is not, so the phases are
// written first and the curve then maps them two at a time. Returns the phase.
template <bool Positive>
float CurveValues(float phase, float step, double coefficient, float* out, int32_t i, int32_t n) {
    for (int32_t j = i; j < n; ++j) {
        phase = phase + step;
        out[j] = phase;
    }
    int32_t j = i;
    for (; j + 1 < n; j += 2) StoreFloatPair(out + j, ShapeCurvePair<Positive>(LoadFloatPair(out + j), coefficient));
    if (j < n) out[j] = static_cast<float>(ShapeCurve(out[j], Curve{Positive, coefficient}));
    return phase;
}

}  // namespace

int32_t Module::RunCurve(float step, float k, float* out, int32_t i, int32_t n) {
    const Curve curve = MakeCurve(k);
    m_phase = curve.positive ? CurveValues<true>(m_phase, step, curve.coefficient, out, i, n)
                             : CurveValues<false>(m_phase, step, curve.coefficient, out, i, n);
    if (!(m_phase > 1.0f)) return n;
    // The curve is above 1 past the end: the stage ended after the last
    // sample that is not. Never before the stage's own first sample.
    int32_t m = n;
    while (m > i && out[m - 1] > 1.0f) --m;
    return m;
}

bool Module::RunIdle(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e) {
    // With "normal" alignment the LFO moves the idle output: stay awake.
    if (!(m_lfo_align == 1 && m_call_lfo_amount != 0.0f)) PrepareSleep(t + static_cast<uint32_t>(*i));
    float* out = m_signal_out + s;
    for (int32_t j = *i; j < n; ++j) out[j] = 0.0f;
    if (e == kGateOn) {
        StartAttack();
    }
    return false;
}

bool Module::RunAttack(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e) {
    WakeOutput(t + static_cast<uint32_t>(*i));
    const float step = PinValue(PIN_ATTACK) * m_inv_sample_rate;
    if (step <= 0.0f) {
        m_phase = 1.0f;
        m_stage = STAGE_HOLD;
        return true;
    }
    float* out = m_signal_out + s;
    const float k = StageForm(m_attack_form, s, *i, n);
    const int32_t m = RunCurve(step, k, out, *i, n);
    if (m_phase > 1.0f) {
        m_phase = 1.0f;
        m_stage = STAGE_HOLD;
        *i = m;
        return true;
    }
    if (e == kGateOn) {
        m_phase = 0.0f;  // attack again from 0; the LFO keeps running
    } else if (e == kGateOff && m_full_attack == 0) {
        // Release from where the attack stands at the edge.
        m_stage = STAGE_RELEASE;
        m_release_level = static_cast<float>(ShapeCurve(m_phase, FormValue(m_attack_form[s + n])));
        m_phase = 0.0f;
    }
    return false;
}

bool Module::RunHold(int32_t s, int32_t* i, int32_t n, int32_t e) {
    const float decrement = PinValue(PIN_HOLD) * m_inv_sample_rate;
    float* out = m_signal_out + s;
    float phase = m_phase;  // in a register: the output buffer could alias a member
    for (int32_t j = *i; j < n; ++j) {
        phase = phase - decrement;
        if (!(phase > 0.0f)) {
            // Sample j belongs to the next stage.
            m_phase = 0.0f;
            if (m_gate_held) {
                m_stage = STAGE_DECAY;
            } else {
                m_stage = STAGE_RELEASE;
                m_release_level = 1.0f;
            }
            *i = j;
            return true;
        }
        out[j] = 1.0f;
    }
    m_phase = phase;
    if (e == kGateOn) {
        StartAttack();
    } else if (e == kGateOff && m_full_attack == 0) {
        m_stage = STAGE_RELEASE;
        m_release_level = 1.0f;
        m_phase = 0.0f;
    }
    return false;
}

bool Module::RunDecay(int32_t s, int32_t* i, int32_t n, int32_t e) {
    const float step = PinValue(PIN_DECAY) * m_inv_sample_rate;
    if (step <= 0.0f) {
        m_stage = STAGE_SUSTAIN;
        return true;
    }
    float* out = m_signal_out + s;
    const float k = StageForm(m_decay_form, s, *i, n);
    const int32_t m = RunCurve(step, k, out, *i, n);

    // From 1 down to the sustain level, which may stream.
    const bool sustain_streams = GetPin(PIN_SUSTAIN)->m_status == ST_STREAMING;
    const float sustain_still = sustain_streams ? 0.0f : PinValue(PIN_SUSTAIN);
    // The release level follows the last decay output; kept in a register
    // and stored once.
    float level = m_release_level;
    for (int32_t j = *i; j < m; ++j) {
        const double sustain = sustain_streams ? m_sustain[s + j] : sustain_still;
        level = static_cast<float>(1.0 - (1.0 - sustain) * out[j]);
        out[j] = level;
    }
    m_release_level = level;

    if (m_phase > 1.0f) {
        m_phase = 1.0f;
        m_stage = STAGE_SUSTAIN;
        *i = m;
        return true;
    }
    if (e == kGateOn) {
        StartAttack();
    } else if (e == kGateOff) {
        // The release falls from the last decay output.
        m_stage = STAGE_RELEASE;
        m_phase = 0.0f;
    }
    return false;
}

bool Module::RunSustain(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e) {
    if (!(m_call_lfo_amount != 0.0f && m_lfo_align != 0)) PrepareSleep(t + static_cast<uint32_t>(*i));
    float* out = m_signal_out + s;
    for (int32_t j = *i; j < n; ++j) out[j] = m_sustain[s + j];
    if (e == kGateOn) {
        StartAttack();
    } else if (e == kGateOff) {
        m_stage = STAGE_RELEASE;
        WakeOutput(t + static_cast<uint32_t>(n));
        m_release_level = PinValue(PIN_SUSTAIN);
        m_phase = 0.0f;
    }
    return false;
}

bool Module::RunRelease(int32_t s, int32_t* i, int32_t n, int32_t e) {
    // A step of 0 holds the start level until the next gate-on.
    const float step = PinValue(PIN_RELEASE) * m_inv_sample_rate;
    float* out = m_signal_out + s;
    const float k = StageForm(m_release_form, s, *i, n);
    const int32_t m = RunCurve(step, k, out, *i, n);
    const double release_level = m_release_level;
    for (int32_t j = *i; j < m; ++j) out[j] = static_cast<float>((1.0 - out[j]) * release_level);

    if (m_phase > 1.0f) {
        m_phase = 0.0f;
        m_stage = STAGE_IDLE;
        *i = m;
        return true;
    }
    if (e == kGateOn) {
        StartAttack();
    }
    return false;
}

}  // namespace tessarn
