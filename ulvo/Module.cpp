#include "Module.h"

#include <initializer_list>
#include <new>

#include "../se_sdk2/SEPinTable.h"
#include "Cpu.h"
#include "UlvoVoiceList.h"

namespace ulvo {

namespace {

using Row = SEPinRow<Module>;

constexpr Row kPins[PIN_COUNT] = {
    Row::Samples(&Module::m_fc, DR_IN, "fc", "0"),
    Row::Samples(&Module::m_fm1, DR_IN, "fm1", "0"),
    Row::Samples(&Module::m_n, DR_IN, "N", "0"),
    Row::Samples(&Module::m_a, DR_IN, "a", "0"),
    Row::Samples(&Module::m_gate, DR_IN, "gate", "0"),
    Row::Samples(&Module::m_detune, DR_IN, "detune", "0"),
    Row::Samples(&Module::m_sync, DR_IN, "sync", "0"),
    Row::Samples(&Module::m_wave, DR_IN, "Wave", "0"),
    Row::Samples(&Module::m_combfreq, DR_IN, "combfreq", "0"),
    Row::Samples(&Module::m_combphase, DR_IN, "combphase", "0"),
    Row::Samples(&Module::m_fund, DR_IN, "fund", "0"),
    Row::Choice(&Module::m_cpmode, "cpmode", "1", "off=1,static=2,dynamic=3,wah-wah=4"),
    Row::Choice(&Module::m_cfmode, "cfmode", "1", "off=1,static=2,dynamic=3"),
    Row::Samples(&Module::m_rotate, DR_IN, "rotate", "0"),
    Row::Choice(&Module::m_poly, "poly", "8",
                "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"),
    Row::Samples(&Module::m_incr_in, DR_IN, "incr", "0"),
    Row::Samples(&Module::m_outputl, DR_OUT, "outputl", nullptr),
    Row::Samples(&Module::m_outputr, DR_OUT, "outputr", nullptr),
};

}  // namespace

Module::Module(seaudioMasterFn callback, void* reserved) : SEModule_base(callback, reserved) {
    m_has_sse = HasSse();
    m_voices = nullptr;
}

Module::~Module() {
    if (m_voices != nullptr) {
        delete m_voices;
        // The other clones still point at the list: clear every pointer.
        ForEachClone([](Module* clone, int16_t) { clone->m_voices = nullptr; });
        m_voices = nullptr;
    }
}

void Module::Describe(ModuleProperties* properties) {
    properties->id = "ulvo";
    properties->name = "ulvo Module";
    properties->about = "ulvo closed-form quadrature oscillator";
}

bool Module::GetPinProperties(int32_t index, SEPinProperties* properties) {
    return SEDeclarePin(this, kPins, index, properties);
}

template <class Visit>
int16_t Module::ForEachClone(Visit visit) {
    // A host answers null at the end of the walk; the bound keeps a host that
    // never does from holding the module in this loop.
    constexpr int32_t kMaxClones = 32767;
    HostRecord* record = nullptr;
    CallHost(SE_CB_FIRST_CLONE, 0, 0, &record, 0.0f);
    int16_t position = 0;
    while (record != nullptr && position < kMaxClones) {
        Module* clone = static_cast<Module*>(static_cast<SEModule_base*>(record->object));
        visit(clone, position);
        ++position;
        HostRecord* next = nullptr;
        clone->CallHost(SE_CB_NEXT_CLONE, 0, 0, &next, 0.0f);
        record = next;
    }
    return position;
}

void Module::Open() {
    SetProcessFunction<&Module::Process>();
    SEModule_base::Open();
    m_table_complete = PinCount() >= PIN_COUNT;

    // rate-dependent constants; a rate of 0, NaN or infinity would make
    // every phase step non-finite
    constexpr double kMaxFreqPerRate = 10.0 / 21.0;
    constexpr double kMaxFreqCapHz = 21000.0;
    const float sample_rate = SEUsableSampleRate(SampleRate());
    m_sample_rate = sample_rate;
    m_two_over_sr = 2.0 / m_sample_rate;
    m_max_freq = m_sample_rate * kMaxFreqPerRate;
    if (m_max_freq > kMaxFreqCapHz) m_max_freq = kMaxFreqCapHz;

    m_voice.carrier_phase = 0.0;
    m_voice.modulator_phase = 0.0;
    m_voice.comb_phase = 0.0;
    m_voice.comb_freq = 0.0;
    m_voice.gain = 1.0;
    m_voice.comb_freq_cos = 1.0;
    m_voice.comb_freq_sin = 0.0;
    // An "fc" of -20 lies far below any useful pitch, so the first sample
    // always derives the base frequency.
    m_voice.base_freq = -20.0f;
    m_voice.last_fc = -20.0f;
    m_sleeping = true;
    m_voice.applied_offset = 0.0f;

    if (m_voices != nullptr) return;  // an earlier clone handed us its list

    // The first clone opened creates the list and numbers every clone.
    UlvoVoiceList* list = new (std::nothrow) UlvoVoiceList(sample_rate);
    if (list == nullptr) return;
    const int16_t clones = ForEachClone([list](Module* clone, int16_t position) {
        clone->m_voices = list;
        clone->m_voice_index = position;
    });
    if (m_voices == nullptr) {
        // The host's walk did not list this instance: it still owns the list
        // it made, as the next voice after the clones it reached.
        m_voices = list;
        m_voice_index = clones;
    }
}

void Module::OnPinStatusChange(SEPin* pin) {
    if (!m_table_complete) return;
    const float gate = GetPin(PIN_GATE)->GetValue();
    constexpr float kSyncThreshold = 0.1f;

    if (m_voices != nullptr) {
        if (pin->m_index == PIN_SYNC && GetPin(PIN_SYNC)->GetValue() > kSyncThreshold) {
            // note start
            m_voices->StartVoice(m_voice_index, m_poly);
            m_voice.gain = 1.0;
            m_voice.carrier_phase = 0.0;
            m_voice.modulator_phase = 0.0;
            m_voice.comb_phase = 0.0;
            m_voice.comb_freq = 0.0;

            // rotation: one correction only, so a step above 2 keeps growing
            double rotation = static_cast<double>(m_voices->m_rotation) + static_cast<double>(m_voices->m_incr);
            if (rotation < -1.0) {
                rotation += 2.0;
            } else if (rotation > 1.0) {
                rotation -= 2.0;
            }
            m_voices->m_rotation = static_cast<float>(rotation);
            // The synthesis adds rotate - m_voice.applied_offset into the carrier
            // phase, so the note starts turned by "rotate" plus the rotation.
            m_voice.applied_offset = -m_voices->m_rotation;
        } else if (pin->m_index == PIN_INCR) {
            const float incr = GetPin(PIN_INCR)->GetValue();
            if (incr != m_voices->m_incr) {
                m_voices->m_incr = incr;
                m_voices->m_rotation = 0.0f;
            }
        }
    }

    // wake test: a gate that sounds (not 0, as the synthesis silences only a
    // gate of 0) or a streaming gate
    if (GateSilences(gate) && !GateStreams()) return;
    SetProcessFunction<&Module::Process>();
    GetPin(PIN_OUTPUTL)->TransmitStatus(SampleClock(), ST_STREAMING);
    GetPin(PIN_OUTPUTR)->TransmitStatus(SampleClock(), ST_STREAMING);
    m_sleeping = false;
}

void Module::Process(int32_t start, int32_t count) {
    if (!m_table_complete) {
        // Too few pins to run: silence where the outputs can be written.
        for (float* out : {m_outputl, m_outputr})
            if (out != nullptr)
                for (int32_t i = start; i < start + count; ++i) out[i] = 0.0f;
        return;
    }
    GenerateBlock(start, count);
}

void Module::ProcessCountdown(int32_t start, int32_t count) {
    Process(start, count);
    // Counting stops at 0 or below, so a host that keeps calling cannot run
    // the count past the int32 range.
    if (m_sleep_countdown > 0) m_sleep_countdown -= count;
    if (m_sleep_countdown <= 0) CallHost(SE_CB_SLEEP, 0, 0, nullptr, 0.0f);
}

bool Module::GateStreams() { return GetPin(PIN_GATE)->m_status > ST_CHANGED_ONCE; }

void Module::GoToSleep() {
    if (m_sleeping) return;
    m_sleep_countdown = BlockSize();
    SetProcessFunction<&Module::ProcessCountdown>();
    GetPin(PIN_OUTPUTL)->TransmitStatus(SampleClock(), ST_CHANGED_ONCE);
    GetPin(PIN_OUTPUTR)->TransmitStatus(SampleClock(), ST_CHANGED_ONCE);
    m_sleeping = true;
}

}  // namespace ulvo
