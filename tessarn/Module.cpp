#include "Module.h"

#include <cmath>

#include "../se_sdk2/SEPinTable.h"

namespace tessarn {

namespace {

// The identifier doubles as the display name: one text object for both.
const char kModuleId[] = "tessarn";

using Row = SEPinRow<Module>;

const char kOffOn[] = "off=0,on=1";

// Control values beyond this (in either direction) are read as this: the
// products they enter (rate times 1 / sample rate, 2 pi times the LFO rate,
// the output law) stay finite.
constexpr float kMaxControlValue = 1.0e30f;

constexpr Row kPins[PIN_COUNT] = {
    Row::Samples(&Module::m_gate, DR_IN, "Gate", "1"),
    Row::Samples(&Module::m_attack, DR_IN, "Attack", "0"),
    Row::Samples(&Module::m_hold, DR_IN, "Hold", "0"),
    Row::Samples(&Module::m_decay, DR_IN, "Decay", "5"),
    Row::Samples(&Module::m_sustain, DR_IN, "Sustain", "7"),
    Row::Samples(&Module::m_release, DR_IN, "Release", "4"),
    Row::Samples(&Module::m_level, DR_IN, "Overall Level", "10"),
    Row::Samples(&Module::m_attack_form, DR_IN, "AttackForm", "0"),
    Row::Samples(&Module::m_decay_form, DR_IN, "DecayForm", "0"),
    Row::Samples(&Module::m_release_form, DR_IN, "ReleaseForm", "0"),
    Row::Choice(&Module::m_full_attack, "FullAttack", "1", kOffOn),
    Row::Choice(&Module::m_no_release, "NoRelease", "0", kOffOn),
    Row::Samples(&Module::m_lfo_amt, DR_IN, "LfoAmt", "0"),
    Row::Samples(&Module::m_lfo_freq, DR_IN, "LfoFreq", "10"),
    Row::Samples(&Module::m_lfo_phase, DR_IN, "LfoPhase", "10"),
    Row::Choice(&Module::m_lfo_align, "LfoAlign", "1", "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"),
    Row::Samples(&Module::m_signal_out, DR_OUT, "Signal Out", nullptr),
    Row::Number(&Module::m_dbmode, DR_SETTING, "dbmode", "1"),
};

}  // namespace

Module::Module(seaudioMasterFn callback, void* reserved) : SEModule_base(callback, reserved) {}

Module::~Module() {}

void Module::Describe(ModuleProperties* properties) {
    properties->id = kModuleId;
    properties->name = kModuleId;
    properties->about = "tessarn envelope generator";
}

bool Module::GetPinProperties(int32_t index, SEPinProperties* properties) {
    return SEDeclarePin(this, kPins, index, properties);
}

void Module::Open() {
    SetProcessFunction<&Module::ProcessNormal>();
    SEModule_base::Open();
    m_table_complete = PinCount() >= PIN_COUNT;
    // A rate of 0, NaN or infinity would make every step non-finite.
    m_inv_sample_rate = 1.0f / SEUsableSampleRate(SampleRate());
    m_envelope = EnvelopeState();
    RestartLfo(&m_lfo);
    m_sleep_armed = false;
    m_output_static = true;
    m_streaming_inputs = 0;
    m_lfo_shape = nullptr;
}

void Module::OnPinStatusChange(SEPin* pin) {
    if (!m_table_complete) return;
    const uint32_t mask = 1u << (static_cast<uint32_t>(pin->m_index) % 32u);
    if (pin->m_status == ST_STREAMING) {
        m_streaming_inputs |= mask;
    } else {
        m_streaming_inputs &= ~mask;
    }
    // Any change, a one-off list value included, may change the output.
    WakeOutput(SampleClock());
}

void Module::Resume() {
    m_envelope.stage_phase = 0.0f;
    if (m_envelope.stage != STAGE_SUSTAIN) m_envelope.stage = STAGE_IDLE;
    SEModule_base::Resume();
}

void Module::WakeOutput(uint32_t clock) {
    if (m_output_static) {
        GetPin(PIN_SIGNAL_OUT)->TransmitStatus(clock, ST_STREAMING);
        m_output_static = false;
    }
    if (m_sleep_armed) {
        SetProcessFunction<&Module::ProcessNormal>();
        m_sleep_armed = false;
    }
}

void Module::PrepareSleep(uint32_t clock) {
    if (m_streaming_inputs != 0) return;
    if (!m_output_static) {
        GetPin(PIN_SIGNAL_OUT)->TransmitStatus(clock, ST_CHANGED_ONCE);
        m_output_static = true;
    }
    if (!m_sleep_armed) {
        m_sleep_countdown = BlockSize();
        SetProcessFunction<&Module::ProcessCountdown>();
        m_sleep_armed = true;
    }
}

void Module::ProcessNormal(int32_t start, int32_t count) {
    // An "LfoAlign" outside the list keeps the shape chosen before.
    const LfoShapeFn shape = LfoShapeFor(m_lfo_align);
    if (shape != nullptr) m_lfo_shape = shape;
    ProcessBlock(start, count);
}

void Module::ProcessCountdown(int32_t start, int32_t count) {
    ProcessBlock(start, count);
    // Saturates at 0: a host that keeps calling cannot run the count over.
    if (count >= m_sleep_countdown) {
        m_sleep_countdown = 0;
    } else if (count > 0) {
        m_sleep_countdown -= count;
    }
    if (m_sleep_countdown <= 0 && m_sleep_armed && m_streaming_inputs == 0) CallHost(SE_CB_SLEEP, 0, 0, nullptr, 0.0f);
}

float Module::PinValue(int32_t pin) {
    const float value = GetPin(pin)->GetValue();
    if (std::isnan(value)) return 0.0f;
    if (value > kMaxControlValue) return kMaxControlValue;
    if (value < -kMaxControlValue) return -kMaxControlValue;
    return value;
}

bool Module::BuffersBound() const {
    return m_table_complete && m_gate != nullptr && m_level != nullptr && m_sustain != nullptr &&
           m_attack_form != nullptr && m_decay_form != nullptr && m_release_form != nullptr && m_signal_out != nullptr;
}

void Module::RepairState() {
    // Flushed explicitly too: the processor's flush modes are not honoured
    // everywhere (emulators, instrumentation).
    auto finite_normal = [](float value) {
        return std::isfinite(value) && !(std::fabs(value) < 1.17549435e-38f) ? value : 0.0f;
    };
    m_envelope.stage_phase = finite_normal(m_envelope.stage_phase);
    m_envelope.release_level = finite_normal(m_envelope.release_level);
    if (!std::isfinite(m_lfo.sine) || !std::isfinite(m_lfo.cosine)) RestartLfo(&m_lfo);
}

namespace {

// The stage machine's output-motion requests, at offsets within the call,
// as the module's output status and sleep protocol at sample clocks.
class OutputMotionRelay final : public OutputMotion {
public:
    OutputMotionRelay(Module* module, uint32_t call_clock) : module_(module), call_clock_(call_clock) {}
    void Moves(int32_t offset) override { module_->WakeOutput(call_clock_ + static_cast<uint32_t>(offset)); }
    void Rests(int32_t offset) override { module_->PrepareSleep(call_clock_ + static_cast<uint32_t>(offset)); }

private:
    Module* module_;
    uint32_t call_clock_;
};

}  // namespace

EnvelopeSettings Module::ReadSettings(float lfo_amount) {
    // A time pin left without a buffer reads as 0 (a read through it would
    // fault).
    auto step = [this](int32_t pin, const float* buffer) {
        return buffer != nullptr ? PinValue(pin) * m_inv_sample_rate : 0.0f;
    };
    EnvelopeSettings settings;
    settings.attack_step = step(PIN_ATTACK, m_attack);
    settings.hold_step = step(PIN_HOLD, m_hold);
    settings.decay_step = step(PIN_DECAY, m_decay);
    settings.release_step = step(PIN_RELEASE, m_release);
    settings.sustain_level = PinValue(PIN_SUSTAIN);
    settings.sustain_streams = GetPin(PIN_SUSTAIN)->m_status == ST_STREAMING;
    settings.full_attack = m_full_attack;
    settings.no_release = m_no_release;
    settings.lfo_moves_idle = m_lfo_align == 1 && lfo_amount != 0.0f;
    settings.lfo_moves_sustain = lfo_amount != 0.0f && m_lfo_align != 0;
    return settings;
}

void Module::ProcessBlock(int32_t start, int32_t count) {
    if (count <= 0) return;  // nothing to write, and no sample at start to read
    if (!BuffersBound()) {
        // A host that never wrote a buffer address, or made too few pins:
        // silence where the output can be written, nothing else.
        if (m_signal_out != nullptr)
            for (int32_t j = 0; j < count; ++j) m_signal_out[start + j] = 0.0f;
        return;
    }
    const float lfo_amount = PinValue(PIN_LFO_AMT);
    const uint32_t call_clock = SampleClock();
    const float level = m_level[start];
    const float lfo_freq = GetPin(PIN_LFO_FREQ)->GetValue();
    const float lfo_phase = GetPin(PIN_LFO_PHASE)->GetValue();

    float* out = m_signal_out + start;
    const EnvelopeBuffers buffers = {m_gate + start,       m_sustain + start,      m_attack_form + start,
                                     m_decay_form + start, m_release_form + start, out};
    OutputMotionRelay motion(this, call_clock);
    RunEnvelope(&m_envelope, &m_lfo, ReadSettings(lfo_amount), buffers, count, &motion);

    if (lfo_amount != 0.0f && m_lfo_shape != nullptr) {
        float omega = kTwoPi * m_inv_sample_rate * lfo_freq;
        float phase_offset = kTwoPi * lfo_phase;
        if (!std::isfinite(omega) || !std::isfinite(phase_offset)) {
            // A rate or offset with no angle (NaN, infinity, or too large
            // for a float once in radians): the LFO starts again at angle 0
            // and stands there for this call.
            RestartLfo(&m_lfo);
            omega = 0.0f;
            phase_offset = 0.0f;
        }
        m_lfo_shape(&m_lfo, omega, lfo_amount, phase_offset, m_lfo_align, count, out);
    }
    ApplyOutputLaw(m_dbmode, level, count, out);
    RepairState();
}

}  // namespace tessarn
