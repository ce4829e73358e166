// The voice list shared by all clones of one oscillator module: the sounding
// voices in the order their notes started, the steal of the oldest voice
// beyond the polyphony, the stolen flags that make a voice fade out, and the
// shared phase-rotation state.
#pragma once

#include <cstdint>

namespace ulvo {

class UlvoVoiceList {
public:
    static constexpr int kMaxVoices = 24;

    explicit UlvoVoiceList(float sample_rate);

    // A note starts on `voice`; the oldest voices give way while the list
    // holds `poly` or more. A voice index outside 0..23 is ignored, and a
    // polyphony below 1 counts as 1.
    void StartVoice(int16_t voice, int16_t poly);

    // The voice's gate is off: it moves to the old end, first to be stolen.
    void ReleaseVoice(int16_t voice);

    // The stolen flag; false for indices the list does not hold.
    bool IsStolen(int16_t voice) const;
    bool IsListed(int16_t voice) const;

    double m_fade_step;  // gain lost per sample by a stolen voice: 1/20 s from 1 to 0
    int32_t m_count;
    int16_t m_newest;
    int16_t m_oldest;
    int16_t m_prev[kMaxVoices];  // toward the old end; the old end holds its own index
    int16_t m_next[kMaxVoices];  // toward the new end; -1 at the new end
    uint8_t m_stolen[kMaxVoices];
    float m_incr;
    float m_rotation;

private:
    static bool Holds(int16_t voice) { return voice >= 0 && voice < kMaxVoices; }
    void Steal();
};

}  // namespace ulvo
