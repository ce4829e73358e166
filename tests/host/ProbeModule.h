// A module compiled into the host tests: it logs what the host makes it see
// (clocks inside process and event calls, buffer clocks, statuses, clone
// walks, creation and destruction) and carries out scripted actions at given
// sample clocks (status sends, sleep, events, contract breaches).
#pragma once

#include <cstdint>
#include <vector>

#include "../../se_sdk2/SEModule_base.h"

namespace probe {

enum Pin : int32_t {
    PIN_IN = 0,     // DT_FSAMPLE input, default "5" (0.5), own variable
    PIN_LEVEL = 1,  // DT_ENUM input, default "2", choices "low=1,mid=2,high=3"
    PIN_COUNT = 2,  // DT_INT setting, default "7"
    PIN_OUT = 3,    // DT_FSAMPLE output, own variable
    PIN_AUX = 4,    // DT_FSAMPLE input without a variable: asks SE_CB_PIN_BUFFER
    PIN_TOTAL = 5,
};

enum What : int32_t {
    LOG_CREATE,
    LOG_OPEN,     // a = BlockSize(), value = SampleRate()
    LOG_PROCESS,  // a = start, b = count, value = in[start], buffer_clock
    LOG_STATUS,   // a = pin, b = status seen, value = GetValue() of sample pins
    LOG_DATA,     // a = data word
    LOG_CLONE,    // a = serial of a clone met in a walk
    LOG_DESTROY,
    LOG_PROCESS_OTHER,  // the second process function: a = start, b = count
};

struct Entry {
    int32_t serial;  // the instance, numbered in construction order
    int32_t what;
    uint32_t clock;  // SampleClock() at the time
    int32_t a;
    int32_t b;
    float value;
    uint32_t buffer_clock;
};

enum ActionType : int32_t {
    ACT_SEND_STATUS,   // pin, value = status, stamped at the clock
    ACT_SLEEP,         // SE_CB_SLEEP
    ACT_ADD_EVENT,     // EV_PIN_DATA stamped at clock + delay, value_a = value
    ACT_STAMP_PAST,    // pin status on pin stamped `value` samples before the call's clock
    ACT_EVENT_PAST,    // SE_CB_ADD_EVENT stamped `value` samples before the call's clock
    ACT_NULL_PROCESS,  // record's process function set to null, then announced
    ACT_BAD_PIN,       // SE_CB_PIN_BUFFER with pin index `pin`
    ACT_SWITCH,        // installs the second process function
    ACT_FLOOD,         // `value` EV_PIN_DATA events, all stamped at clock + delay
    ACT_STRAY_RECORD,  // SE_CB_SAMPLE_CLOCK through a record the host never made
};

// Performed once, by the process call that covers `clock` (for the "past"
// actions: the call starting at `clock`).
struct Action {
    int32_t serial;  // -1: any instance
    uint32_t clock;
    int32_t type;
    int32_t pin;
    int32_t value;
    int32_t delay;  // ACT_ADD_EVENT: stamped this many samples after `clock`
    bool done;
};

inline Action At(uint32_t clock, int32_t type, int32_t pin = 0, int32_t value = 0, int32_t serial = -1,
                 int32_t delay = 0) {
    return Action{serial, clock, type, pin, value, delay, false};
}

struct Script {
    std::vector<Entry> log;
    std::vector<Action> actions;
    bool output_ramp = false;  // out[k] = clock of sample k; else out = in
    bool event_storm = false;  // each delivered data event queues another at its clock
    int32_t next_serial = 0;
};

Script& TheScript();
void Reset();

int32_t SE_CALL GetModuleProperties(int32_t index, ModuleProperties* properties);
HostRecord* SE_CALL MakeModule(int32_t index, int32_t kind, seaudioMasterFn callback, void* reserved);

class Module : public SEModule_base {
public:
    Module(seaudioMasterFn callback, void* reserved);
    ~Module() override;

    bool GetPinProperties(int32_t index, SEPinProperties* properties) override;
    void Open() override;
    void OnPinStatusChange(SEPin* pin) override;
    void OnPinData(uint32_t time_stamp, int32_t data, int16_t tag) override;

    void Process(int32_t start, int32_t count);
    void ProcessOther(int32_t start, int32_t count);
    // Walks the clones through the host and logs each one met.
    void WalkClones();

    int32_t m_serial;
    float* m_in = nullptr;
    int16_t m_level = 0;
    int32_t m_count = 0;
    float* m_out = nullptr;

private:
    void Log(int32_t what, int32_t a, int32_t b, float value, uint32_t buffer_clock = 0);
};

inline Module* FromObject(void* object) { return static_cast<Module*>(static_cast<SEModule_base*>(object)); }

}  // namespace probe
