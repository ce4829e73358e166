// The WAV writer of the Windows build, which has no libsndfile: it writes
// the bytes libsndfile writes on Linux (the same header, with its "fact" and
// "PAD " chunks for float data; PCM saturated at full scale), so that one
// render gives one file on both platforms.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "WavFile.h"

namespace sephost::render {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr int kChannels = 2;

void Put16(std::vector<unsigned char>* out, uint32_t value) {
    out->push_back(static_cast<unsigned char>(value));
    out->push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(std::vector<unsigned char>* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutTag(std::vector<unsigned char>* out, const char* tag) {
    for (int k = 0; k < 4; ++k) out->push_back(static_cast<unsigned char>(tag[k]));
}

std::vector<unsigned char> Header(WavEncoding encoding, int sample_rate, uint64_t frames) {
    const bool is_float = encoding == WavEncoding::kFloat32;
    const uint32_t bytes_per_sample = is_float ? 4 : 3;
    const uint32_t block_align = kChannels * bytes_per_sample;
    const uint32_t data_bytes = static_cast<uint32_t>(frames * block_align);
    std::vector<unsigned char> h;
    PutTag(&h, "RIFF");
    Put32(&h, 0);  // filled in below
    PutTag(&h, "WAVE");
    PutTag(&h, "fmt ");
    Put32(&h, 16);
    Put16(&h, is_float ? kFormatFloat : kFormatPcm);
    Put16(&h, kChannels);
    Put32(&h, static_cast<uint32_t>(sample_rate));
    Put32(&h, static_cast<uint32_t>(sample_rate) * block_align);
    Put16(&h, block_align);
    Put16(&h, 8 * bytes_per_sample);
    if (is_float) {
        PutTag(&h, "fact");
        Put32(&h, 4);
        Put32(&h, static_cast<uint32_t>(frames));
        PutTag(&h, "PAD ");
        Put32(&h, 24);
        h.resize(h.size() + 24, 0);
    }
    PutTag(&h, "data");
    Put32(&h, data_bytes);
    const uint32_t riff_bytes = static_cast<uint32_t>(h.size() - 8 + data_bytes);
    for (int k = 0; k < 4; ++k) h[4 + k] = static_cast<unsigned char>(riff_bytes >> (8 * k));
    return h;
}

// Full scale is 2^31 and the top 24 bits are kept, rounding to nearest and
// then toward minus infinity, as libsndfile does; beyond full scale the
// sample saturates, NaN is silence.
uint32_t Pcm24(float sample) {
    const double scaled = static_cast<double>(sample) * 2147483648.0;
    int64_t value = 0;
    if (scaled >= 2147483647.0)
        value = 2147483647;
    else if (scaled <= -2147483648.0)
        value = -2147483648ll;
    else if (scaled == scaled)
        value = static_cast<int64_t>(std::nearbyint(scaled));
    const int64_t top = (value - (value & 0xFF)) / 256;  // floor(value / 256)
    return static_cast<uint32_t>(top) & 0xFFFFFF;
}

std::string SystemError() { return std::strerror(errno); }

}  // namespace

WavFile::~WavFile() {
    std::string ignored;
    Close(&ignored);
}

bool WavFile::Open(const std::string& path, int sample_rate, WavEncoding encoding, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const std::vector<unsigned char> header = Header(encoding, sample_rate, 0);
    if (file == nullptr || std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
        *error = path + ": cannot write the WAV file (" + SystemError() + ")";
        if (file != nullptr) std::fclose(file);
        return false;
    }
    m_file = file;
    m_path = path;
    m_encoding = encoding;
    m_sample_rate = sample_rate;
    m_frames_written = 0;
    return true;
}

bool WavFile::Consume(const float* left, const float* right, int32_t samples, std::string* error) {
    if (m_frames_written + static_cast<uint64_t>(samples) > MaxWavFrames(m_encoding)) {
        *error = m_path + ": writing failed (a WAV file holds at most 4 GiB)";
        return false;
    }
    m_bytes.clear();
    for (int32_t k = 0; k < samples; ++k) {
        for (const float sample : {left[k], right[k]}) {
            if (m_encoding == WavEncoding::kFloat32) {
                uint32_t bits = 0;
                std::memcpy(&bits, &sample, sizeof bits);
                Put32(&m_bytes, bits);
            } else {
                const uint32_t value = Pcm24(sample);
                Put16(&m_bytes, value & 0xFFFF);
                m_bytes.push_back(static_cast<unsigned char>(value >> 16));
            }
        }
    }
    if (std::fwrite(m_bytes.data(), 1, m_bytes.size(), static_cast<std::FILE*>(m_file)) != m_bytes.size()) {
        *error = m_path + ": writing failed (" + SystemError() + ")";
        return false;
    }
    m_frames_written += static_cast<uint64_t>(samples);
    return true;
}

bool WavFile::Close(std::string* error) {
    if (m_file == nullptr) return true;
    std::FILE* file = static_cast<std::FILE*>(m_file);
    m_file = nullptr;
    const std::vector<unsigned char> header = Header(m_encoding, m_sample_rate, m_frames_written);
    const bool written =
        std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header.data(), 1, header.size(), file) == header.size();
    if (std::fclose(file) != 0 || !written) {
        *error = m_path + ": closing failed (" + SystemError() + ")";
        return false;
    }
    return true;
}

}  // namespace sephost::render
