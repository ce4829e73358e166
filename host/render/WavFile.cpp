#include "WavFile.h"

#include <sndfile.h>

#include <cmath>

namespace sephost::render {

WavFile::~WavFile() {
    std::string ignored;
    Close(&ignored);
}

bool WavFile::Open(const std::string& path, int sample_rate, WavEncoding encoding, std::string* error) {
    SF_INFO info = {};
    info.samplerate = sample_rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (encoding == WavEncoding::kPcm24 ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        *error = path + ": cannot write the WAV file (" + sf_strerror(nullptr) + ")";
        return false;
    }
    m_file = file;
    m_path = path;
    m_encoding = encoding;
    m_frames_written = 0;
    // The peak chunk carries a time stamp: without it, equal renders give
    // equal files. Samples beyond full scale saturate in PCM, as a DAC would.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool WavFile::Consume(const float* left, const float* right, int32_t samples, std::string* error) {
    // libsndfile would let the 32-bit sizes of the header wrap.
    if (m_frames_written + static_cast<uint64_t>(samples) > MaxWavFrames(m_encoding)) {
        *error = m_path + ": writing failed (a WAV file holds at most 4 GiB)";
        return false;
    }
    m_frames.resize(2 * static_cast<size_t>(samples));
    for (int32_t k = 0; k < samples; ++k) {
        m_frames[2 * k] = left[k];
        m_frames[2 * k + 1] = right[k];
    }
    // libsndfile's conversion to integers leaves NaN undefined (on x86 it
    // becomes negative full scale); NaN is silence, as in the Windows writer.
    if (m_encoding == WavEncoding::kPcm24)
        for (float& sample : m_frames)
            if (std::isnan(sample)) sample = 0.0f;
    if (sf_writef_float(static_cast<SNDFILE*>(m_file), m_frames.data(), samples) != samples) {
        *error = m_path + ": writing failed (" + sf_strerror(static_cast<SNDFILE*>(m_file)) + ")";
        return false;
    }
    m_frames_written += static_cast<uint64_t>(samples);
    return true;
}

bool WavFile::Close(std::string* error) {
    if (m_file == nullptr) return true;
    const int result = sf_close(static_cast<SNDFILE*>(m_file));
    m_file = nullptr;
    if (result != 0) {
        *error = m_path + ": closing failed (" + sf_error_number(result) + ")";
        return false;
    }
    return true;
}

}  // namespace sephost::render
