#include "UlvoVoiceList.h"

namespace ulvo {

namespace {
constexpr double kFadeRatePerSecond = 20.0;  // full gain to silence in 1/20 s
}

UlvoVoiceList::UlvoVoiceList(float sample_rate)
    : m_fade_step(kFadeRatePerSecond / static_cast<double>(sample_rate)),
      m_count(0),
      m_newest(-1),
      m_oldest(-1),
      m_incr(0.0f),
      m_rotation(0.0f) {
    for (int v = 0; v < kMaxVoices; ++v) {
        m_prev[v] = -1;
        m_next[v] = -1;
        m_stolen[v] = 0;
    }
}

bool UlvoVoiceList::IsStolen(int16_t voice) const { return Holds(voice) && m_stolen[voice] != 0; }

bool UlvoVoiceList::IsListed(int16_t voice) const { return Holds(voice) && m_prev[voice] >= 0; }

void UlvoVoiceList::Steal() {
    const int16_t o = m_oldest;
    if (o < 0) return;  // nothing to take out of an empty list
    const int16_t n = m_next[o];
    m_stolen[o] = 1;
    if (n >= 0) m_prev[n] = n;
    m_prev[o] = -1;
    m_next[o] = -1;
    m_oldest = n;
    --m_count;
    if (m_count == 0) m_newest = -1;
}

void UlvoVoiceList::StartVoice(int16_t voice, int16_t poly) {
    if (!Holds(voice)) return;
    const int32_t limit = poly < 1 ? 1 : poly;

    // Steal before looking at the voice's own place: a full list gives up its
    // oldest voice even when the starting voice is already listed.
    while (m_count >= limit && m_oldest >= 0) Steal();
    m_stolen[voice] = 0;

    if (m_prev[voice] < 0) {
        // append at the new end
        if (m_oldest < 0) {
            m_oldest = voice;
            m_prev[voice] = voice;
        } else {
            m_prev[voice] = m_newest;
            m_next[m_newest] = voice;
        }
        m_newest = voice;
        ++m_count;
        return;
    }
    if (voice == m_newest) return;

    // move to the new end: unlink, then relink after the old newest
    if (voice == m_oldest) {
        const int16_t n = m_next[voice];
        m_oldest = n;
        m_prev[n] = n;
    } else {
        m_prev[m_next[voice]] = m_prev[voice];
        m_next[m_prev[voice]] = m_next[voice];
    }
    m_next[voice] = -1;
    m_prev[voice] = m_newest;
    m_next[m_newest] = voice;
    m_newest = voice;
}

void UlvoVoiceList::ReleaseVoice(int16_t voice) {
    if (!IsListed(voice) || voice == m_oldest) return;

    // unlink
    if (voice == m_newest) {
        m_newest = m_prev[voice];
        m_next[m_newest] = -1;
    } else {
        m_prev[m_next[voice]] = m_prev[voice];
        m_next[m_prev[voice]] = m_next[voice];
    }

    // link at the old end
    m_prev[voice] = voice;
    m_next[voice] = m_oldest;
    m_prev[m_oldest] = voice;
    m_oldest = voice;
}

}  // namespace ulvo
