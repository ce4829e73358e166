// A null test of two sound files: are they equal, sample for sample, and if
// not, where do they first differ and by how much. Read with libsndfile, so
// on Linux only (the Windows build has no libsndfile).
#pragma once

#include <cstdint>
#include <string>

namespace sephost::render {

struct WavDifference {
    int sample_rate = 0;
    int channels = 0;
    uint64_t frames_a = 0, frames_b = 0;
    // Samples (frames times channels) compared; where one file is shorter
    // its missing samples count as silence, and differ from any other value.
    uint64_t samples = 0;
    uint64_t differing = 0;
    bool Equal() const { return differing == 0 && frames_a == frames_b; }
    // The first differing sample.
    uint64_t first_frame = 0;
    int first_channel = 0;  // from 0
    float first_a = 0.0f, first_b = 0.0f;
    // The largest magnitude of A - B (infinite where one holds NaN or
    // infinity and the other not), its frame, and the RMS of A - B over
    // every sample (finite differences only).
    double largest = 0.0;
    uint64_t largest_frame = 0;
    double rms = 0.0;
};

// Compares the files block by block. False with an error naming the file
// for a file that cannot be read, or for two files that cannot be compared
// (other sample rates or channel counts: the message gives both).
bool CompareWavFiles(const std::string& a, const std::string& b, WavDifference* difference, std::string* error);

// 20 log10(value): "-inf" below any level, "+inf" for infinity.
std::string DecibelText(double value);

}  // namespace sephost::render
