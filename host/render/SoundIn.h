// Sound files read into a render (the patch's "file" nodes): opened once,
// then read block by block; past its end a file reads as silence. On Linux
// libsndfile reads them (WAV, FLAC, AIFF, OGG and the rest it knows); the
// Windows build has no libsndfile and refuses them (WindowsStandIns.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sephost::render {

class SoundIn {
public:
    virtual ~SoundIn() = default;
    int Channels() const { return m_channels; }
    int SampleRate() const { return m_sample_rate; }
    uint64_t Frames() const { return m_frames; }
    // Fills `frames` interleaved frames: the file's next ones, then silence.
    virtual bool Read(int32_t frames, float* interleaved, std::string* error) = 0;

protected:
    int m_channels = 0;
    int m_sample_rate = 0;
    uint64_t m_frames = 0;
};

// The file at `path`, a regular file (host/FileAccess.h), or null with a
// message naming the path.
std::unique_ptr<SoundIn> OpenSoundIn(const std::string& path, std::string* error);

}  // namespace sephost::render
