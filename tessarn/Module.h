// The envelope module: pins, control and the sleep protocol. It reads the
// pins into the settings of the stage machine and LFO cores (Envelope.h,
// Lfo.h) and makes the host calls their output-motion requests ask for.
#pragma once

#include <cstdint>

#include "../se_sdk2/SEModule_base.h"
#include "Envelope.h"
#include "Lfo.h"

namespace tessarn {

enum Pin : int32_t {
    PIN_GATE = 0,
    PIN_ATTACK = 1,
    PIN_HOLD = 2,
    PIN_DECAY = 3,
    PIN_SUSTAIN = 4,
    PIN_RELEASE = 5,
    PIN_LEVEL = 6,
    PIN_ATTACK_FORM = 7,
    PIN_DECAY_FORM = 8,
    PIN_RELEASE_FORM = 9,
    PIN_FULL_ATTACK = 10,
    PIN_NO_RELEASE = 11,
    PIN_LFO_AMT = 12,
    PIN_LFO_FREQ = 13,
    PIN_LFO_PHASE = 14,
    PIN_LFO_ALIGN = 15,
    PIN_SIGNAL_OUT = 16,
    PIN_DBMODE = 17,
    PIN_COUNT = 18,
};

class Module : public SEModule_base {
public:
    Module(seaudioMasterFn callback, void* reserved);
    ~Module() override;

    void OnPinStatusChange(SEPin* pin) override;
    void Open() override;
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override;
    void Resume() override;

    static void Describe(ModuleProperties* properties);

    void ProcessNormal(int32_t start, int32_t count);
    void ProcessCountdown(int32_t start, int32_t count);
    void ProcessBlock(int32_t start, int32_t count);

    // Output status and sleep protocol, at a sample clock.
    void WakeOutput(uint32_t clock);
    void PrepareSleep(uint32_t clock);

    EnvelopeState m_envelope;
    LfoState m_lfo;
    float* m_gate = nullptr;
    float* m_attack = nullptr;
    float* m_hold = nullptr;
    float* m_decay = nullptr;
    float* m_sustain = nullptr;
    float* m_release = nullptr;
    float* m_level = nullptr;
    float* m_attack_form = nullptr;
    float* m_decay_form = nullptr;
    float* m_release_form = nullptr;
    float* m_lfo_amt = nullptr;
    float* m_lfo_freq = nullptr;
    float* m_lfo_phase = nullptr;
    float* m_signal_out = nullptr;
    LfoShapeFn m_lfo_shape = nullptr;
    float m_inv_sample_rate = 0.0f;
    int32_t m_sleep_countdown = 0;
    int32_t m_dbmode = 0;
    uint32_t m_streaming_inputs = 0;
    int16_t m_full_attack = 0;
    int16_t m_no_release = 0;
    int16_t m_lfo_align = 0;
    bool m_sleep_armed = false;
    bool m_output_static = true;
    // The host made every declared pin; a host that answered a smaller pin
    // count gets a silent module that touches no pin.
    bool m_table_complete = false;

private:
    // The stage machine's settings for the current call.
    EnvelopeSettings ReadSettings(float lfo_amount);
    // A control value read once per call, made safe to compute with: NaN
    // reads as 0, magnitudes are held inside +-kMaxControlValue.
    float PinValue(int32_t pin);
    // Whether every buffer the process function reads sample by sample is
    // bound; false also when the pin table is incomplete.
    bool BuffersBound() const;
    // After a call: the state that feeds the next call is finite and normal.
    void RepairState();
};

}  // namespace tessarn
