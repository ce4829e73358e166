// The Windows build's own WAV writer must write the bytes libsndfile writes:
// both write the same samples here and the files are compared byte for byte.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "WavFile.h"

namespace {

using sephost::render::WavEncoding;
using sephost::render::WavFile;

std::vector<char> Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The render's settings: no peak chunk, PCM saturated.
void WriteWithLibsndfile(const std::string& path, const std::vector<float>& frames, WavEncoding encoding) {
    SF_INFO info = {};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (encoding == WavEncoding::kPcm24 ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    ASSERT_EQ(sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2)),
              static_cast<sf_count_t>(frames.size() / 2));
    sf_close(file);
}

// In two blocks, as a render hands them over.
void WriteWithOwnWriter(const std::string& path, const std::vector<float>& frames, WavEncoding encoding) {
    std::vector<float> left, right;
    for (size_t k = 0; k < frames.size(); k += 2) {
        left.push_back(frames[k]);
        right.push_back(frames[k + 1]);
    }
    const int32_t count = static_cast<int32_t>(left.size());
    const int32_t first = count / 3;
    WavFile wav;
    std::string error;
    ASSERT_TRUE(wav.Open(path, 48000, encoding, &error)) << error;
    ASSERT_TRUE(wav.Consume(left.data(), right.data(), first, &error)) << error;
    ASSERT_TRUE(wav.Consume(left.data() + first, right.data() + first, count - first, &error)) << error;
    ASSERT_TRUE(wav.Close(&error)) << error;
}

TEST(WavFileRiff, WritesTheBytesLibsndfileWrites) {
    // Full scale, beyond it, the rounding edges of the last PCM step, signed
    // zeros, tiny values and a sweep of ordinary ones.
    const float step = 1.0f / 8388608.0f;
    std::vector<float> frames = {0.0f,
                                 -0.0f,
                                 1.0f,
                                 -1.0f,
                                 1.5f,
                                 -1.5f,
                                 1e30f,
                                 -1e30f,
                                 std::nextafter(1.0f, 0.0f),
                                 -std::nextafter(1.0f, 0.0f),
                                 0.5f * step,
                                 -0.5f * step,
                                 1.5f * step,
                                 -1.5f * step,
                                 2.5f * step,
                                 -2.5f * step,
                                 1e-9f,
                                 -1e-9f,
                                 std::numeric_limits<float>::denorm_min(),
                                 1e18f};
    for (int k = 0; k < 4000; ++k) frames.push_back(1.2f * std::sin(0.0137f * k * k));
    if (frames.size() % 2 != 0) frames.push_back(0.25f);

    const std::string folder = ::testing::TempDir();
    for (const WavEncoding encoding : {WavEncoding::kFloat32, WavEncoding::kPcm24}) {
        const std::string name = encoding == WavEncoding::kFloat32 ? "float" : "pcm24";
        SCOPED_TRACE(name);
        const std::string reference = folder + "/riff_reference_" + name + ".wav";
        const std::string own = folder + "/riff_own_" + name + ".wav";
        WriteWithLibsndfile(reference, frames, encoding);
        WriteWithOwnWriter(own, frames, encoding);
        const std::vector<char> want = Bytes(reference), got = Bytes(own);
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < want.size(); ++k) ASSERT_EQ(got[k], want[k]) << "first difference at byte " << k;
    }
}

}  // namespace
