// Pictures of a render: a spectrogram drawn by sox from the written WAV,
// and a waveform plot (SVG) drawn from the blocks as they pass.
#pragma once

#include <string>
#include <vector>

#include "Render.h"

namespace sephost::render {

// Runs `sox WAV -n spectrogram -o PNG -t TITLE`; false with a message when
// sox is missing or fails.
bool DrawSpectrogram(const std::string& wav, const std::string& png, const std::string& title, std::string* error);

// Keeps the smallest and largest sample of each channel per column of a
// plot `columns` wide over `total` frames; Write draws both channels, or one
// when the two were equal throughout.
class WaveformPlot : public StereoConsumer {
public:
    WaveformPlot(uint64_t total, int columns = 1000);
    bool Consume(const float* left, const float* right, int32_t samples, std::string* error) override;
    bool Write(const std::string& path, double sample_rate, const std::string& title, std::string* error) const;

private:
    struct Span {
        float low = 0.0f, high = 0.0f;
        bool seen = false;
    };
    // The scale both lanes share, and whether it goes below 0.
    void Scale(float* scale, bool* negative) const;

    uint64_t m_total;
    uint64_t m_done = 0;
    bool m_identical = true;
    std::vector<Span> m_channels[2];
};

}  // namespace sephost::render
