#include "WavDiff.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "FileAccess.h"

namespace sephost::render {

namespace {

struct SoundFile {
    SNDFILE* file = nullptr;
    SF_INFO info = {};
    ~SoundFile() {
        if (file != nullptr) sf_close(file);
    }
};

bool Open(const std::string& path, SoundFile* sound, std::string* error) {
    // A FIFO or a device would block or never end.
    if (!CheckInputFile(path, error)) return false;
    sound->file = sf_open(path.c_str(), SFM_READ, &sound->info);
    if (sound->file == nullptr) {
        *error = path + ": cannot read the sound file (" + sf_strerror(nullptr) + ")";
        return false;
    }
    return true;
}

// Reads up to `frames` frames; the rest of the block is silence.
sf_count_t ReadBlock(SoundFile* sound, std::vector<float>* block, sf_count_t frames) {
    std::fill(block->begin(), block->end(), 0.0f);
    return sf_readf_float(sound->file, block->data(), frames);
}

bool Same(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

std::string DecibelText(double value) {
    if (std::isinf(value)) return "+inf dBFS";
    if (!(value > 0.0)) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(value));
    return text;
}

bool CompareWavFiles(const std::string& a, const std::string& b, WavDifference* d, std::string* error) {
    *d = WavDifference();
    SoundFile fa, fb;
    if (!Open(a, &fa, error) || !Open(b, &fb, error)) return false;
    if (fa.info.samplerate != fb.info.samplerate || fa.info.channels != fb.info.channels) {
        *error = "cannot compare " + a + " (" + std::to_string(fa.info.samplerate) + " Hz, " +
                 std::to_string(fa.info.channels) + " channels) with " + b + " (" + std::to_string(fb.info.samplerate) +
                 " Hz, " + std::to_string(fb.info.channels) + " channels)";
        return false;
    }
    d->sample_rate = fa.info.samplerate;
    d->channels = fa.info.channels;
    d->frames_a = static_cast<uint64_t>(fa.info.frames);
    d->frames_b = static_cast<uint64_t>(fb.info.frames);
    const uint64_t frames = std::max(d->frames_a, d->frames_b);
    constexpr sf_count_t kBlock = 4096;
    const size_t channels = static_cast<size_t>(d->channels);
    std::vector<float> block_a(static_cast<size_t>(kBlock) * channels), block_b(block_a.size());
    double square_sum = 0.0;
    for (uint64_t at = 0; at < frames; at += kBlock) {
        const sf_count_t want = static_cast<sf_count_t>(std::min<uint64_t>(kBlock, frames - at));
        // A file that says it holds more frames than can be read is damaged.
        for (auto [sound, path, block, length] :
             {std::make_tuple(&fa, &a, &block_a, d->frames_a), std::make_tuple(&fb, &b, &block_b, d->frames_b)}) {
            const sf_count_t expected =
                static_cast<sf_count_t>(std::min<uint64_t>(want, length > at ? length - at : 0));
            if (ReadBlock(sound, block, expected) < expected) {
                *error = *path + ": reading failed at frame " + std::to_string(at) + " (the file ends early)";
                return false;
            }
        }
        for (size_t k = 0; k < static_cast<size_t>(want) * channels; ++k) {
            const uint64_t frame = at + k / channels;
            // Past its end a file is silence, which differs from any sample,
            // even a zero: the lengths differ.
            const bool in_a = frame < d->frames_a, in_b = frame < d->frames_b;
            const float x = block_a[k], y = block_b[k];
            if (in_a == in_b && Same(x, y)) continue;
            if (d->differing++ == 0) {
                d->first_frame = frame;
                d->first_channel = static_cast<int>(k % channels);
                d->first_a = x;
                d->first_b = y;
            }
            const double difference = std::fabs(static_cast<double>(x) - static_cast<double>(y));
            const double magnitude = std::isfinite(difference) ? difference : HUGE_VAL;
            if (magnitude > d->largest) {
                d->largest = magnitude;
                d->largest_frame = frame;
            }
            if (std::isfinite(difference)) square_sum += difference * difference;
        }
    }
    d->samples = frames * channels;
    d->rms = d->samples > 0 ? std::sqrt(square_sum / static_cast<double>(d->samples)) : 0.0;
    return true;
}

}  // namespace sephost::render
