// GenerateBlock: the block head, and the mapping of the module's pins to the
// synthesis core (SynthesisCore.h), which does the samples on m_voice.
#include "Module.h"
#include "SynthesisCore.h"
#include "UlvoVoiceList.h"

namespace ulvo {

namespace {

BlockBuffers BuffersOf(const Module& m, int32_t start) {
    return {m.m_fc + start,     m.m_fm1 + start,    m.m_a + start,        m.m_gate + start,
            m.m_detune + start, m.m_wave + start,   m.m_combfreq + start, m.m_combphase + start,
            m.m_fund + start,   m.m_rotate + start, m.m_outputl + start,  m.m_outputr + start};
}

}  // namespace

void Module::GenerateBlock(int32_t start, int32_t count) {
    // The host binds every buffer at open; without them there is nothing to do.
    if (m_fc == nullptr || m_fm1 == nullptr || m_n == nullptr || m_a == nullptr || m_gate == nullptr ||
        m_detune == nullptr || m_wave == nullptr || m_combfreq == nullptr || m_combphase == nullptr ||
        m_fund == nullptr || m_rotate == nullptr || m_outputl == nullptr || m_outputr == nullptr)
        return;

    // block head: fade of a stolen voice, release at a gate that starts at 0.
    // A streaming gate may rise later in this very block, and no status
    // change would wake a module gone to sleep, so that gate keeps it awake.
    // A gain of 0 stays 0 until a note start, which comes with a status
    // change on "sync" and so with a wake: sleep is safe then whatever the gate.
    const double fade_step = m_voices != nullptr && m_voices->IsStolen(m_voice_index) ? m_voices->m_fade_step : 0.0;
    if (GateSilences(m_gate[start])) {
        if (m_voices != nullptr) m_voices->ReleaseVoice(m_voice_index);
        if (!GateStreams()) GoToSleep();
    } else if (m_voice.gain == 0.0) {
        GoToSleep();
    }

    // "N" is read once per block
    const BlockSettings settings = {m_two_over_sr, m_max_freq, fade_step, RoundToCount(m_n[start]),
                                    m_cpmode,      m_cfmode,   m_has_sse};
    RenderBlock(m_voice, settings, BuffersOf(*this, start), count);
}

}  // namespace ulvo
