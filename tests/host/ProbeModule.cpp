#include "ProbeModule.h"

#include <cstring>
#include <new>

namespace probe {

Script& TheScript() {
    static Script script;
    return script;
}

void Reset() {
    Script& s = TheScript();
    s = Script();
    // Logging in a process call must not allocate.
    s.log.reserve(1 << 16);
}

int32_t SE_CALL GetModuleProperties(int32_t index, ModuleProperties* properties) {
    properties->sdk_version = SE_SDK_VERSION;
    if (index != 0) return 0;
    static const char kId[] = "probe";
    properties->id = kId;
    properties->name = kId;
    properties->about = "host test probe";
    return 1;
}

HostRecord* SE_CALL MakeModule(int32_t index, int32_t kind, seaudioMasterFn callback, void* reserved) {
    if (index != 0 || kind != 1) return nullptr;
    Module* module = new (std::nothrow) Module(callback, reserved);
    return module != nullptr ? module->GetHostRecord() : nullptr;
}

Module::Module(seaudioMasterFn callback, void* reserved)
    : SEModule_base(callback, reserved), m_serial(TheScript().next_serial++) {
    Log(LOG_CREATE, 0, 0, 0.0f);
}

Module::~Module() { Log(LOG_DESTROY, 0, 0, 0.0f); }

bool Module::GetPinProperties(int32_t index, SEPinProperties* p) {
    switch (index) {
    case PIN_IN:
        p->value_address = &m_in;
        p->direction = DR_IN;
        p->datatype = DT_FSAMPLE;
        p->name = "in";
        p->default_text = "5";
        return true;
    case PIN_LEVEL:
        p->value_address = &m_level;
        p->direction = DR_IN;
        p->datatype = DT_ENUM;
        p->name = "level";
        p->default_text = "2";
        p->choices = "low=1,mid=2,high=3";
        return true;
    case PIN_COUNT:
        p->value_address = &m_count;
        p->direction = DR_SETTING;
        p->datatype = DT_INT;
        p->name = "count";
        p->default_text = "7";
        return true;
    case PIN_OUT:
        p->value_address = &m_out;
        p->direction = DR_OUT;
        p->datatype = DT_FSAMPLE;
        p->name = "out";
        return true;
    case PIN_AUX:
        p->direction = DR_IN;
        p->datatype = DT_FSAMPLE;
        p->name = "aux";
        p->default_text = "-20";
        return true;
    default:
        return false;
    }
}

void Module::Open() {
    SetProcessFunction<&Module::Process>();
    SEModule_base::Open();
    Log(LOG_OPEN, BlockSize(), 0, SampleRate());
}

void Module::OnPinStatusChange(SEPin* pin) {
    const float value = pin->m_datatype == DT_FSAMPLE ? pin->GetValue() : static_cast<float>(m_level);
    const uint32_t buffer_clock = static_cast<uint32_t>(CallHost(SE_CB_BUFFER_CLOCK, pin->m_index));
    Log(LOG_STATUS, pin->m_index, pin->m_status, value, buffer_clock);
}

void Module::OnPinData(uint32_t time_stamp, int32_t data, int16_t) {
    if (TheScript().event_storm) {
        AddEvent(time_stamp, EV_PIN_DATA, data + 1, 0, nullptr);
        return;
    }
    Log(LOG_DATA, data, static_cast<int32_t>(time_stamp), 0.0f);
}

void Module::WalkClones() {
    HostRecord* clone = nullptr;
    CallHost(SE_CB_FIRST_CLONE, 0, 0, &clone);
    int32_t guard = 0;
    while (clone != nullptr && guard++ < 1000) {
        Module* other = FromObject(clone->object);
        Log(LOG_CLONE, other->m_serial, 0, 0.0f);
        other->CallHost(SE_CB_NEXT_CLONE, 0, 0, &clone);
    }
}

void Module::Process(int32_t start, int32_t count) {
    const uint32_t clock = SampleClock();
    const uint32_t buffer_clock = static_cast<uint32_t>(CallHost(SE_CB_BUFFER_CLOCK, PIN_IN));
    Log(LOG_PROCESS, start, count, m_in[start], buffer_clock);
    const float* in = m_in;
    float* out = m_out;
    for (int32_t k = start; k < start + count; ++k)
        out[k] = TheScript().output_ramp ? static_cast<float>(clock + static_cast<uint32_t>(k - start)) : in[k];

    for (Action& act : TheScript().actions) {
        if (act.done || (act.serial >= 0 && act.serial != m_serial)) continue;
        const bool covered = act.clock >= clock && act.clock - clock < static_cast<uint32_t>(count);
        if (!covered) continue;
        act.done = true;
        switch (act.type) {
        case ACT_SEND_STATUS:
            GetPin(act.pin)->TransmitStatus(act.clock, act.value);
            break;
        case ACT_SLEEP:
            CallHost(SE_CB_SLEEP);
            break;
        case ACT_ADD_EVENT:
            AddEvent(act.clock + static_cast<uint32_t>(act.delay), EV_PIN_DATA, act.value, 0, nullptr);
            break;
        case ACT_STAMP_PAST:
            GetPin(act.pin)->TransmitStatus(clock - static_cast<uint32_t>(act.value), ST_STREAMING);
            break;
        case ACT_EVENT_PAST: {
            // Straight to the host: the frame would stop on its own check.
            HostEvent e;
            std::memset(&e, 0, sizeof e);
            e.time_stamp = clock - static_cast<uint32_t>(act.value);
            e.kind = EV_PIN_DATA;
            CallHost(SE_CB_ADD_EVENT, 0, 0, &e);
            break;
        }
        case ACT_NULL_PROCESS:
            m_host_record.process_function = nullptr;
            CallHost(SE_CB_PROCESS_CHANGED);
            break;
        case ACT_SWITCH:
            SetProcessFunction<&Module::ProcessOther>();
            break;
        case ACT_FLOOD:
            for (int32_t k = 0; k < act.value; ++k)
                AddEvent(act.clock + static_cast<uint32_t>(act.delay), EV_PIN_DATA, k, 0, nullptr);
            break;
        case ACT_STRAY_RECORD:
            // An address no host record lives at: the host must not read it.
            seaudioMaster(reinterpret_cast<HostRecord*>(static_cast<uintptr_t>(16)), SE_CB_SAMPLE_CLOCK, 0, 0, nullptr,
                          0.0f);
            break;
        case ACT_BAD_PIN:
            CallHost(SE_CB_PIN_BUFFER, act.pin);
            break;
        default:
            break;
        }
    }
}

void Module::ProcessOther(int32_t start, int32_t count) { Log(LOG_PROCESS_OTHER, start, count, 0.0f); }

void Module::Log(int32_t what, int32_t a, int32_t b, float value, uint32_t buffer_clock) {
    TheScript().log.push_back({m_serial, what, SampleClock(), a, b, value, buffer_clock});
}

}  // namespace probe
