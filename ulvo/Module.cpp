#include "Module.h"

#include <cstring>

namespace ulvo {

namespace {

struct PinDeclaration {
    float* Module::*buffer;   // DT_FSAMPLE pins
    int16_t Module::*choice;  // DT_ENUM pins
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_text;
    const char* choices;
};

const PinDeclaration kPins[PIN_COUNT] = {
    {&Module::m_fc, nullptr, DR_IN, DT_FSAMPLE, "fc", "0", nullptr},
    {&Module::m_fm1, nullptr, DR_IN, DT_FSAMPLE, "fm1", "0", nullptr},
    {&Module::m_n, nullptr, DR_IN, DT_FSAMPLE, "N", "0", nullptr},
    {&Module::m_a, nullptr, DR_IN, DT_FSAMPLE, "a", "0", nullptr},
    {&Module::m_gate, nullptr, DR_IN, DT_FSAMPLE, "gate", "0", nullptr},
    {&Module::m_detune, nullptr, DR_IN, DT_FSAMPLE, "detune", "0", nullptr},
    {&Module::m_sync, nullptr, DR_IN, DT_FSAMPLE, "sync", "0", nullptr},
    {&Module::m_wave, nullptr, DR_IN, DT_FSAMPLE, "Wave", "0", nullptr},
    {&Module::m_combfreq, nullptr, DR_IN, DT_FSAMPLE, "combfreq", "0", nullptr},
    {&Module::m_combphase, nullptr, DR_IN, DT_FSAMPLE, "combphase", "0", nullptr},
    {&Module::m_fund, nullptr, DR_IN, DT_FSAMPLE, "fund", "0", nullptr},
    {nullptr, &Module::m_cpmode, DR_IN, DT_ENUM, "cpmode", "1", "off=1,static=2,dynamic=3,wah-wah=4"},
    {nullptr, &Module::m_cfmode, DR_IN, DT_ENUM, "cfmode", "1", "off=1,static=2,dynamic=3"},
    {&Module::m_rotate, nullptr, DR_IN, DT_FSAMPLE, "rotate", "0", nullptr},
    {nullptr, &Module::m_poly, DR_IN, DT_ENUM, "poly", "8",
     "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"},
    {&Module::m_incr_in, nullptr, DR_IN, DT_FSAMPLE, "incr", "0", nullptr},
    {&Module::m_outputl, nullptr, DR_OUT, DT_FSAMPLE, "outputl", nullptr, nullptr},
    {&Module::m_outputr, nullptr, DR_OUT, DT_FSAMPLE, "outputr", nullptr, nullptr},
};

}  // namespace

Module::Module(seaudioMasterFn callback, void* reserved) : SEModule_base(callback, reserved) {}

Module::~Module() {}

void Module::Describe(ModuleProperties* properties) {
    properties->id = "ulvo";
    properties->name = "ulvo Module";
    properties->about = "ulvo closed-form quadrature oscillator";
}

bool Module::GetPinProperties(int32_t index, SEPinProperties* properties) {
    if (index < 0 || index >= PIN_COUNT) return false;
    const PinDeclaration& pin = kPins[index];
    properties->value_address =
        pin.buffer != nullptr ? static_cast<void*>(&(this->*pin.buffer)) : static_cast<void*>(&(this->*pin.choice));
    properties->direction = pin.direction;
    properties->datatype = pin.datatype;
    properties->name = pin.name;
    properties->default_text = pin.default_text;
    properties->choices = pin.choices;
    return true;
}

void Module::Open() {
    SetProcessFunction<&Module::Process>();
    SEModule_base::Open();
}

void Module::OnPinStatusChange(SEPin*) {}

void Module::Process(int32_t start, int32_t count) { GenerateBlock(start, count); }

void Module::ProcessCountdown(int32_t start, int32_t count) { Process(start, count); }

void Module::GoToSleep() {}

void Module::GenerateBlock(int32_t start, int32_t count) {
    // Silence until the synthesis is in place.
    if (m_outputl != nullptr) std::memset(m_outputl + start, 0, sizeof(float) * (count > 0 ? count : 0));
    if (m_outputr != nullptr) std::memset(m_outputr + start, 0, sizeof(float) * (count > 0 ? count : 0));
}

}  // namespace ulvo
