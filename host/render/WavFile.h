// Stereo WAV output through libsndfile, written block by block as the
// render produces it.
#pragma once

#include <string>
#include <vector>

#include "Render.h"

typedef struct sf_private_tag SNDFILE;

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
    SNDFILE* m_file = nullptr;
    std::vector<float> m_frames;  // one block, interleaved
};

}  // namespace sephost::render
