#include "Module.h"

#include "Lfo.h"

namespace tessarn {

namespace {

// The identifier doubles as the display name: one text object for both.
const char kModuleId[] = "tessarn";

struct PinDeclaration {
    float* Module::*buffer;   // DT_FSAMPLE pins
    int16_t Module::*choice;  // DT_ENUM pins
    int32_t Module::*number;  // DT_INT pins
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_text;
    const char* choices;
};

const char kOffOn[] = "off=0,on=1";

const PinDeclaration kPins[PIN_COUNT] = {
    {&Module::m_gate, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Gate", "1", nullptr},
    {&Module::m_attack, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Attack", "0", nullptr},
    {&Module::m_hold, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Hold", "0", nullptr},
    {&Module::m_decay, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Decay", "5", nullptr},
    {&Module::m_sustain, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Sustain", "7", nullptr},
    {&Module::m_release, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Release", "4", nullptr},
    {&Module::m_level, nullptr, nullptr, DR_IN, DT_FSAMPLE, "Overall Level", "10", nullptr},
    {&Module::m_attack_form, nullptr, nullptr, DR_IN, DT_FSAMPLE, "AttackForm", "0", nullptr},
    {&Module::m_decay_form, nullptr, nullptr, DR_IN, DT_FSAMPLE, "DecayForm", "0", nullptr},
    {&Module::m_release_form, nullptr, nullptr, DR_IN, DT_FSAMPLE, "ReleaseForm", "0", nullptr},
    {nullptr, &Module::m_full_attack, nullptr, DR_IN, DT_ENUM, "FullAttack", "1", kOffOn},
    {nullptr, &Module::m_no_release, nullptr, DR_IN, DT_ENUM, "NoRelease", "0", kOffOn},
    {&Module::m_lfo_amt, nullptr, nullptr, DR_IN, DT_FSAMPLE, "LfoAmt", "0", nullptr},
    {&Module::m_lfo_freq, nullptr, nullptr, DR_IN, DT_FSAMPLE, "LfoFreq", "10", nullptr},
    {&Module::m_lfo_phase, nullptr, nullptr, DR_IN, DT_FSAMPLE, "LfoPhase", "10", nullptr},
    {nullptr, &Module::m_lfo_align, nullptr, DR_IN, DT_ENUM, "LfoAlign", "1",
     "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"},
    {&Module::m_signal_out, nullptr, nullptr, DR_OUT, DT_FSAMPLE, "Signal Out", nullptr, nullptr},
    {nullptr, nullptr, &Module::m_dbmode, DR_SETTING, DT_INT, "dbmode", "1", nullptr},
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
    if (index < 0 || index >= PIN_COUNT) return false;
    const PinDeclaration& pin = kPins[index];
    if (pin.buffer != nullptr) {
        properties->value_address = &(this->*pin.buffer);
    } else if (pin.choice != nullptr) {
        properties->value_address = &(this->*pin.choice);
    } else {
        properties->value_address = &(this->*pin.number);
    }
    properties->direction = pin.direction;
    properties->datatype = pin.datatype;
    properties->name = pin.name;
    properties->default_text = pin.default_text;
    properties->choices = pin.choices;
    return true;
}

void Module::Open() {
    SetProcessFunction<&Module::ProcessNormal>();
    SEModule_base::Open();
    m_inv_sample_rate = 1.0f / SampleRate();
    m_stage = STAGE_IDLE;
    m_phase = 0.0f;
    m_lfo_sin = 0.0;
    m_lfo_cos = 1.0;
    m_lfo_phase_applied = 0.0f;
    m_sleep_armed = false;
    m_output_static = true;
    m_streaming_inputs = 0;
    m_last_gate = 0.0f;
    m_lfo_shape = nullptr;
    m_gate_held = false;
}

void Module::OnPinStatusChange(SEPin* pin) {
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
    m_phase = 0.0f;
    if (m_stage != STAGE_SUSTAIN) m_stage = STAGE_IDLE;
    SEModule_base::Resume();
}

void Module::WakeOutput(uint32_t t) {
    if (m_output_static) {
        GetPin(PIN_SIGNAL_OUT)->TransmitStatus(t, ST_STREAMING);
        m_output_static = false;
    }
    if (m_sleep_armed) {
        SetProcessFunction<&Module::ProcessNormal>();
        m_sleep_armed = false;
    }
}

void Module::PrepareSleep(uint32_t t) {
    if (m_streaming_inputs != 0) return;
    if (!m_output_static) {
        GetPin(PIN_SIGNAL_OUT)->TransmitStatus(t, ST_CHANGED_ONCE);
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

float Module::PinValue(int32_t pin) { return GetPin(pin)->GetValue(); }

void Module::ProcessBlock(int32_t start, int32_t count) {
    if (count <= 0) return;  // nothing to write, and no sample at start to read
    m_call_lfo_amount = PinValue(PIN_LFO_AMT);
    const uint32_t t0 = SampleClock();
    const float level = m_level[start];
    const float lfo_freq = PinValue(PIN_LFO_FREQ);
    const float lfo_phase = PinValue(PIN_LFO_PHASE);

    ScanGate(t0, start, count);

    float* out = m_signal_out + start;
    if (m_call_lfo_amount != 0.0f && m_lfo_shape != nullptr) {
        const float omega = kTwoPi * m_inv_sample_rate * lfo_freq;
        const float phase_offset = kTwoPi * lfo_phase;
        m_lfo_shape(&m_lfo_sin, &m_lfo_cos, &m_lfo_phase_applied, omega, m_call_lfo_amount, phase_offset, m_lfo_align,
                    count, out);
    }
    ApplyOutputLaw(m_dbmode, level, count, out);
}

}  // namespace tessarn
