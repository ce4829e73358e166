// Stereo WAV output, written block by block as the render produces it:
// through libsndfile on Linux (WavFile.cpp); the Windows build, whose cross
// toolchain has no libsndfile, writes the same bytes itself (WavFileRiff.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Render.h"

namespace sephost::render {

enum class WavEncoding { kFloat32, kPcm24 };

// A WAV file's RIFF and data sizes are 32-bit, so one file holds at most
// this many stereo frames (4 GiB less the largest header, float's 80
// bytes). Both writers refuse to write more, and a render checks its length
// against it before it starts, so the two builds agree on every length.
inline uint64_t MaxWavFrames(WavEncoding encoding) {
    return (0xFFFFFFFFull - 80) / (encoding == WavEncoding::kFloat32 ? 8 : 6);
}

class WavFile : public StereoConsumer {
public:
    WavFile() = default;
    ~WavFile() override;
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    bool Open(const std::string& path, int sample_rate, WavEncoding encoding, std::string* error);
    bool Consume(const float* left, const float* right, int32_t samples, std::string* error) override;
    bool Close(std::string* error);

private:
    std::string m_path;
    void* m_file = nullptr;  // SNDFILE* or FILE*
    WavEncoding m_encoding = WavEncoding::kFloat32;
    int m_sample_rate = 0;
    uint64_t m_frames_written = 0;
    std::vector<float> m_frames;  // one block, interleaved
    std::vector<unsigned char> m_bytes;
};

}  // namespace sephost::render
