#include "Module.h"

#include <cstring>

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
}

void Module::OnPinStatusChange(SEPin*) {}

void Module::Resume() { SEModule_base::Resume(); }

void Module::ProcessNormal(int32_t start, int32_t count) { ProcessBlock(start, count); }

void Module::ProcessCountdown(int32_t start, int32_t count) { ProcessBlock(start, count); }

void Module::ProcessBlock(int32_t start, int32_t count) {
    // Silence until the envelope is in place.
    if (m_signal_out != nullptr && count > 0) std::memset(m_signal_out + start, 0, sizeof(float) * count);
}

}  // namespace tessarn
