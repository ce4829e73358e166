// The oscillator module: pins, control and the sleep protocol; it maps its
// pins onto the synthesis core (SynthesisCore.h), which does the samples.
#pragma once

#include <cstdint>

#include "../se_sdk2/SEModule_base.h"
#include "SynthesisCore.h"

namespace ulvo {

class UlvoVoiceList;

enum Pin : int32_t {
    PIN_FC = 0,
    PIN_FM1 = 1,
    PIN_N = 2,
    PIN_A = 3,
    PIN_GATE = 4,
    PIN_DETUNE = 5,
    PIN_SYNC = 6,
    PIN_WAVE = 7,
    PIN_COMBFREQ = 8,
    PIN_COMBPHASE = 9,
    PIN_FUND = 10,
    PIN_CPMODE = 11,
    PIN_CFMODE = 12,
    PIN_ROTATE = 13,
    PIN_POLY = 14,
    PIN_INCR = 15,
    PIN_OUTPUTL = 16,
    PIN_OUTPUTR = 17,
    PIN_COUNT = 18,
};

class Module : public SEModule_base {
public:
    Module(seaudioMasterFn callback, void* reserved);
    ~Module() override;

    void OnPinStatusChange(SEPin* pin) override;
    void Open() override;
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override;

    static void Describe(ModuleProperties* properties);

    void Process(int32_t start, int32_t count);
    void ProcessCountdown(int32_t start, int32_t count);
    void GoToSleep();
    void GenerateBlock(int32_t start, int32_t count);

    double m_sample_rate = 0.0;
    double m_two_over_sr = 0.0;
    double m_max_freq = 0.0;
    // The voice the synthesis core carries from block to block.
    VoiceState m_voice;
    float* m_fc = nullptr;
    float* m_fm1 = nullptr;
    float* m_n = nullptr;
    float* m_a = nullptr;
    float* m_gate = nullptr;
    float* m_detune = nullptr;
    float* m_sync = nullptr;
    float* m_wave = nullptr;
    float* m_combfreq = nullptr;
    float* m_combphase = nullptr;
    float* m_fund = nullptr;
    float* m_rotate = nullptr;
    float* m_incr_in = nullptr;
    float* m_outputl = nullptr;
    float* m_outputr = nullptr;
    UlvoVoiceList* m_voices = nullptr;
    int32_t m_sleep_countdown = 0;
    int16_t m_voice_index = 0;
    int16_t m_cpmode = 0;
    int16_t m_cfmode = 0;
    int16_t m_poly = 0;
    bool m_sleeping = true;
    bool m_has_sse = false;
    // The host made every declared pin; a host that answered a smaller pin
    // count gets a silent module that touches no pin.
    bool m_table_complete = false;

private:
    // The gate pin is read sample by sample: its value may change inside any
    // block without a status change telling the module.
    bool GateStreams();

    // Walks the host's clone list (this instance among them), calling
    // visit(clone, position) with positions 0, 1, 2, ...; returns the count.
    template <class Visit>
    int16_t ForEachClone(Visit visit);
};

}  // namespace ulvo
