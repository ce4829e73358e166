#include "SoundIn.h"

#include <sndfile.h>

#include <algorithm>

#include "FileAccess.h"

namespace sephost::render {

namespace {

class SndfileIn : public SoundIn {
public:
    SndfileIn(SNDFILE* file, const SF_INFO& info, const std::string& path) : m_file(file), m_path(path) {
        m_channels = info.channels;
        m_sample_rate = info.samplerate;
        m_frames = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
    }
    ~SndfileIn() override { sf_close(m_file); }

    bool Read(int32_t frames, float* interleaved, std::string* error) override {
        const size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(m_channels);
        sf_count_t got = 0;
        if (!m_ended) {
            got = sf_readf_float(m_file, interleaved, frames);
            if (got < 0 || sf_error(m_file) != SF_ERR_NO_ERROR) {
                *error = m_path + ": cannot read the sound file (" + sf_strerror(m_file) + ")";
                return false;
            }
            m_ended = got < frames;
        }
        std::fill(interleaved + static_cast<size_t>(got) * static_cast<size_t>(m_channels), interleaved + samples,
                  0.0f);
        return true;
    }

private:
    SNDFILE* m_file;
    std::string m_path;
    bool m_ended = false;
};

}  // namespace

std::unique_ptr<SoundIn> OpenSoundIn(const std::string& path, std::string* error) {
    // A FIFO or a device would block or never end. (libsndfile opens the
    // path itself; the check just before keeps everything else out.)
    if (!CheckInputFile(path, error)) return nullptr;
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        *error = path + ": cannot read the sound file (" + sf_strerror(nullptr) + ")";
        return nullptr;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        *error = path + ": the sound file has no channels or no sample rate";
        return nullptr;
    }
    // libsndfile scales a float file as it is; its samples pass unchanged.
    return std::make_unique<SndfileIn>(file, info, path);
}

}  // namespace sephost::render
