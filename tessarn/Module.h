// The envelope module: pins, control, sleep protocol, stage machine, LFO and
// output law.
#pragma once

#include <cstdint>

#include "../se_sdk2/SEModule_base.h"

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

enum Stage : int32_t {
    STAGE_IDLE = 0,
    STAGE_ATTACK = 1,
    STAGE_HOLD = 2,
    STAGE_DECAY = 3,
    STAGE_SUSTAIN = 4,
    STAGE_RELEASE = 5,
};

// An LFO shape: phasor sine, cosine, applied phase offset, omega (radians per
// sample), depth, phase offset (radians), align, sample count, output.
typedef void (*LfoShapeFn)(double* lfo_sin, double* lfo_cos, float* phase_applied, float omega, float depth,
                           float phase, int16_t align, int32_t count, float* out);

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

    // Runs the stage machine over "Signal Out" samples s to s + n - 1, whose
    // first sample is at sample clock t, then applies the gate event e (+1 on,
    // -1 off, 0 none). n may be 0: the current stage is entered and applies e.
    void ProcessRange(uint32_t t, int32_t s, int32_t n, int32_t e);

    // Output status and sleep protocol, at sample clock t.
    void WakeOutput(uint32_t t);
    void PrepareSleep(uint32_t t);

    double m_lfo_sin = 0.0;
    double m_lfo_cos = 1.0;
    float m_lfo_phase_applied = 0.0f;
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
    float m_phase = 0.0f;
    float m_release_level = 0.0f;
    float m_last_gate = 0.0f;
    int32_t m_sleep_countdown = 0;
    int32_t m_dbmode = 0;
    uint32_t m_streaming_inputs = 0;
    int32_t m_stage = STAGE_IDLE;
    int16_t m_full_attack = 0;
    int16_t m_no_release = 0;
    int16_t m_lfo_align = 0;
    bool m_sleep_armed = false;
    bool m_output_static = true;
    bool m_gate_held = false;
    // The host made every declared pin; a host that answered a smaller pin
    // count gets a silent module that touches no pin.
    bool m_table_complete = false;

private:
    // Turns the gate of one process call into edges and ranges.
    void ScanGate(uint32_t t0, int32_t s, int32_t n);

    // Each stage runs from index *i of the range. It returns true when it
    // ended inside the range, with m_stage set to the next stage and *i to
    // the index where that one takes over; false once it has written the
    // rest of the range and applied the event.
    bool RunIdle(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e);
    bool RunAttack(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e);
    bool RunHold(int32_t s, int32_t* i, int32_t n, int32_t e);
    bool RunDecay(int32_t s, int32_t* i, int32_t n, int32_t e);
    bool RunSustain(uint32_t t, int32_t s, int32_t* i, int32_t n, int32_t e);
    bool RunRelease(int32_t s, int32_t* i, int32_t n, int32_t e);

    // The curved-stage loop: advances the phase by step from index i to the
    // end of the range, writes the curve values, and returns the index where
    // the stage ended (n while the phase has not passed 1).
    int32_t RunCurve(float step, float k, float* out, int32_t i, int32_t n);

    void RestartLfo();
    void StartAttack();
    // A control value read once per call, made safe to compute with: NaN
    // reads as 0, magnitudes are held inside +-kMaxControlValue.
    float PinValue(int32_t pin);
    // Whether every buffer the process function reads sample by sample is
    // bound; false also when the pin table is incomplete.
    bool BuffersBound() const;
    // After a call: the state that feeds the next call is finite and normal.
    void RepairState();

    // "LfoAmt" as read at the start of the current process call.
    float m_call_lfo_amount = 0.0f;
};

}  // namespace tessarn
