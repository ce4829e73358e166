// The oscillator's synthesis over plain numbers: a voice's running state, the
// settings fixed for a block and the block's input and output buffers. The
// module holds the state and maps its pins to the rest once per block
// (Synthesis.cpp); nothing here knows the frame.
//
// Per sample, a carrier times a geometric series of partials summed in
// closed form, so the cost of a sample does not depend on the number of
// partials. A block is worked in chunks, each in passes:
//   control  serial and cheap: gain, gate, pitch, band limit, rotation, comb
//            steps and phase wraps; silences are written here, and every
//            sounding sample leaves its numbers for the passes below;
//   depth    wah-wah only: the comb frequency's sine and cosine of every
//            sounding sample first, then each sample's derived comb phase
//            from those of the sample before;
//   kernel   the sines and cosines of the four phases of each sample;
//   series   the closed-form sums and the output, two samples at once in
//            the two lanes of SSE2 packed doubles, by exactly the operations
//            a one-sample loop would do.
#pragma once

#include <cstdint>

namespace ulvo {

// Carried from one sample to the next; the module holds one (m_voice).
struct VoiceState {
    double carrier_phase = 0.0;    // half-cycles, within [-1, 1]
    double modulator_phase = 0.0;  // half-cycles, within [-1, 1]
    double comb_phase = 0.0;       // half-cycles
    double comb_freq = 0.0;        // half-cycles per partial
    double gain = 0.0;
    double comb_freq_sin = 0.0;  // of the last sounding sample
    double comb_freq_cos = 0.0;
    float base_freq = 0.0f;       // Hz
    float last_fc = 0.0f;         // the "fc" behind base_freq
    float applied_offset = 0.0f;  // "rotate" already in the carrier phase
};

// Nearest integer, ties to even, and the remainder. The count saturates at
// +-2^30 (remainder 0), which the power kernel handles in 31 steps; NaN gives 0.
struct PartialCount {
    int32_t value;
    double frac;
};
PartialCount RoundToCount(double x);

enum CombMode : int16_t { kCombOff = 1, kCombStatic = 2, kCombDynamic = 3, kCombWahWah = 4 };

// Fixed for a block.
struct BlockSettings {
    double two_over_sr;
    double max_freq;        // Hz
    double fade_step;       // gain lost per sample: a stolen voice's fade, else 0
    PartialCount partials;  // from "N" at the block's first sample
    int16_t cpmode;
    int16_t cfmode;
    bool vector_kernel;
};

// The block's pin buffers, each at the block's first sample.
struct BlockBuffers {
    const float* fc;
    const float* fm1;
    const float* a;
    const float* gate;
    const float* detune;
    const float* wave;
    const float* combfreq;
    const float* combphase;
    const float* fund;
    const float* rotate;
    float* out_l;
    float* out_r;
};

// A gate of exactly 0 (either sign) silences its sample; any other value,
// negative or NaN included, sounds. The module's wake and sleep decisions
// follow the same rule, so an output that sounds is always announced.
inline bool GateSilences(float gate) { return gate == 0.0f; }

// count samples of both outputs; state carries over to the next block.
void RenderBlock(VoiceState& state, const BlockSettings& settings, const BlockBuffers& buffers, int32_t count);

}  // namespace ulvo
