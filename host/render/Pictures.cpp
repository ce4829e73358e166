#include "Pictures.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "XmlString.h"

namespace sephost::render {

WaveformPlot::WaveformPlot(uint64_t total, int columns) : m_total(total) {
    for (auto& channel : m_channels) channel.resize(static_cast<size_t>(std::max(1, columns)));
}

bool WaveformPlot::Consume(const float* left, const float* right, int32_t samples, std::string*) {
    const size_t columns = m_channels[0].size();
    for (int32_t k = 0; k < samples; ++k, ++m_done) {
        const size_t column =
            m_total > 0 ? std::min<size_t>(columns - 1, static_cast<size_t>(m_done * columns / m_total)) : 0;
        const float values[2] = {left[k], right[k]};
        m_identical = m_identical && (left[k] == right[k] || (std::isnan(left[k]) && std::isnan(right[k])));
        for (int c = 0; c < 2; ++c) {
            Span& span = m_channels[c][column];
            // NaN and infinities are drawn at the edge of the plot.
            const float v = std::isnan(values[c]) ? 0.0f : std::max(-1e30f, std::min(1e30f, values[c]));
            span.low = span.seen ? std::min(span.low, v) : v;
            span.high = span.seen ? std::max(span.high, v) : v;
            span.seen = true;
        }
    }
    return true;
}

// Both channels share one scale: the largest magnitude, at least 1; from 0
// up when nothing is negative (an envelope), else symmetric.
void WaveformPlot::Scale(float* scale, bool* negative) const {
    for (const auto& channel : m_channels)
        for (const Span& s : channel) {
            *scale = std::max(*scale, std::max(std::fabs(s.low), std::fabs(s.high)));
            *negative = *negative || (s.seen && s.low < 0.0f);
        }
}

bool WaveformPlot::Write(const std::string& path, double sample_rate, const std::string& title,
                         std::string* error) const {
    const int columns = static_cast<int>(m_channels[0].size());
    constexpr int kLeftMargin = 50, kTop = 30, kLane = 160, kGap = 30;
    const int width = kLeftMargin + columns + 20;
    const int lanes = m_identical ? 1 : 2;
    const int height = kTop + lanes * kLane + (lanes - 1) * kGap + 40;
    float scale = 1.0f;
    bool negative = false;
    Scale(&scale, &negative);
    const float bottom = negative ? -scale : 0.0f;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << kLeftMargin << "\" y=\"18\" font-size=\"14\">" << sephost::XmlString(title) << "</text>\n";
    const char* names[2] = {m_identical ? "left = right" : "left", "right"};
    for (int c = 0; c < lanes; ++c) {
        const int top = kTop + c * (kLane + kGap);
        auto y = [&](float v) -> double { return top + kLane * static_cast<double>(scale - v) / (scale - bottom); };
        const double zero = y(0.0f);
        svg << "<rect x=\"" << kLeftMargin << "\" y=\"" << top << "\" width=\"" << columns << "\" height=\"" << kLane
            << "\" fill=\"none\" stroke=\"#bbb\"/>\n"
            << "<line x1=\"" << kLeftMargin << "\" y1=\"" << zero << "\" x2=\"" << kLeftMargin + columns << "\" y2=\""
            << zero << "\" stroke=\"#ddd\"/>\n"
            << "<text x=\"4\" y=\"" << top + 12 << "\">" << scale << "</text>\n"
            << "<text x=\"4\" y=\"" << std::min(zero + 4.0, top + kLane + 0.0) << "\">0</text>\n";
        if (negative) svg << "<text x=\"4\" y=\"" << top + kLane << "\">" << -scale << "</text>\n";
        svg << "<text x=\"" << kLeftMargin + 4 << "\" y=\"" << top + 14 << "\" fill=\"#666\">" << names[c]
            << "</text>\n<path fill=\"none\" stroke=\"#1f5fa8\" d=\"";
        for (int x = 0; x < columns; ++x) {
            const Span& s = m_channels[c][x];
            if (!s.seen) continue;
            // One vertical stroke per column, at least a pixel long.
            const double y1 = y(s.high), y2 = std::max(y(s.low), y1 + 1.0);
            svg << "M" << kLeftMargin + x << ' ' << y1 << 'V' << y2;
        }
        svg << "\"/>\n";
    }
    const double seconds = sample_rate > 0.0 ? static_cast<double>(m_total) / sample_rate : 0.0;
    for (int tick = 0; tick <= 4; ++tick) {
        const int x = kLeftMargin + tick * (columns - 1) / 4;
        svg << "<text x=\"" << x << "\" y=\"" << height - 12 << "\" text-anchor=\"middle\">" << seconds * tick / 4.0
            << " s</text>\n";
    }
    svg << "</svg>\n";
    std::ofstream out(path, std::ios::binary);
    out << svg.str();
    if (!out) {
        *error = path + ": cannot write the plot";
        return false;
    }
    return true;
}

}  // namespace sephost::render
