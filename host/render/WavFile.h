// Stereo WAV output, written block by block as the render produces it:
// through libsndfile on Linux (WavFile.cpp); the Windows build, whose cross
// toolchain has no libsndfile, writes the same bytes itself (WavFileRiff.cpp).
#pragma once

#include <string>
#include <vector>

#include "Render.h"

namespace sephost::render {

enum class WavEncoding { kFloat32, kPcm24 };

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
