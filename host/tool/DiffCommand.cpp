// sep-host diff: the null test of two renders (host/render/WavDiff.h).
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Command.h"
#include "CommandLine.h"
#include "WavDiff.h"

namespace septool {

namespace {

using sephost::render::DecibelText;
using sephost::render::WavDifference;

std::string ChannelName(int channel, int channels) {
    if (channels == 2) return channel == 0 ? "left" : "right";
    return "channel " + std::to_string(channel + 1);
}

std::string Seconds(uint64_t frame, int rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f s", static_cast<double>(frame) / rate);
    return text;
}

std::string Sample(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// A level for JSON: null below any level (no difference) and for infinity.
nlohmann::ordered_json Level(double value) {
    if (!(value > 0.0) || std::isinf(value)) return nullptr;
    return 20.0 * std::log10(value);
}

std::string Text(const std::string& a, const std::string& b, const WavDifference& d) {
    const uint64_t frames = std::max(d.frames_a, d.frames_b);
    std::string text = a + " and " + b + (d.Equal() ? " are equal: " : " differ: ");
    if (d.Equal())
        return text + std::to_string(frames) + " frames, " + std::to_string(d.channels) + " channels, " +
               std::to_string(d.sample_rate) + " Hz\n";
    if (d.frames_a != d.frames_b)
        text +=
            "the lengths differ (" + std::to_string(d.frames_a) + " and " + std::to_string(d.frames_b) + " frames); ";
    text += std::to_string(d.differing) + " of " + std::to_string(d.samples) + " samples; the first at frame " +
            std::to_string(d.first_frame) + " (" + Seconds(d.first_frame, d.sample_rate) + "), " +
            ChannelName(d.first_channel, d.channels) + ": " + Sample(d.first_a) + " against " + Sample(d.first_b) +
            "; the largest difference " + DecibelText(d.largest) + " at frame " + std::to_string(d.largest_frame) +
            " (" + Seconds(d.largest_frame, d.sample_rate) + "); the RMS of the difference " + DecibelText(d.rms) +
            "\n";
    return text;
}

std::string Json(const std::string& a, const std::string& b, const WavDifference& d, double threshold,
                 bool has_threshold, bool passed) {
    nlohmann::ordered_json doc;
    doc["a"] = a;
    doc["b"] = b;
    doc["equal"] = d.Equal();
    doc["sample_rate"] = d.sample_rate;
    doc["channels"] = d.channels;
    doc["frames"] = {d.frames_a, d.frames_b};
    doc["differing_samples"] = d.differing;
    if (d.differing > 0)
        doc["first_difference"] = {{"frame", d.first_frame},
                                   {"seconds", static_cast<double>(d.first_frame) / d.sample_rate},
                                   {"channel", ChannelName(d.first_channel, d.channels)},
                                   {"a", std::isfinite(d.first_a) ? nlohmann::ordered_json(d.first_a) : nullptr},
                                   {"b", std::isfinite(d.first_b) ? nlohmann::ordered_json(d.first_b) : nullptr}};
    else
        doc["first_difference"] = nullptr;
    doc["largest_difference_dbfs"] = Level(d.largest);
    doc["largest_difference_infinite"] = std::isinf(d.largest);
    doc["rms_difference_dbfs"] = Level(d.rms);
    doc["threshold_dbfs"] = has_threshold ? nlohmann::ordered_json(threshold) : nullptr;
    doc["passed"] = passed;
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

const char kDiffHelp[] =
    "The null test of two renders: says whether A and B hold the same samples and, if not, how many\n"
    "differ, the first (frame, time, channel, both values), the largest difference in dBFS and the\n"
    "RMS of the difference. Any file libsndfile reads (WAV, FLAC, AIFF, OGG); both at one sample\n"
    "rate and channel count. Exits 0 when equal, or when --threshold DB is given, the lengths agree\n"
    "and the largest difference is below DB; 1 otherwise.";

constexpr sephost::HostRange kThresholdRange = {"dBFS", -400.0, 400.0, false};

int DiffCommand(const std::vector<std::string>& args) {
    CommandLine options("diff", kDiffHelp);
    std::vector<std::string> files;
    bool json = false, has_threshold = false;
    double threshold = 0.0;
    AddNumberOption(
        options, "--threshold", kThresholdRange,
        [&](double value) {
            threshold = value;
            has_threshold = true;
        },
        "pass when the largest difference is below this level", "DB");
    options.add_flag("--json", json, "print one JSON document instead");
    options.add_option("A.wav B.wav", files, "the two sound files")->required()->expected(2);
    int status = kExitOk;
    if (!options.Parse(args, &status)) return status;
    // CLI11 takes a single file for the pair too.
    if (files.size() != 2) return options.Usage("diff compares two files");
    WavDifference d;
    std::string error;
    if (!sephost::render::CompareWavFiles(files[0], files[1], &d, &error)) return Failure(error);
    // A threshold forgives small differences, never other lengths or a
    // NaN against a number.
    const bool passed = d.Equal() || (has_threshold && d.frames_a == d.frames_b && std::isfinite(d.largest) &&
                                      20.0 * std::log10(d.largest) < threshold);
    std::cout << (json ? Json(files[0], files[1], d, threshold, has_threshold, passed) : Text(files[0], files[1], d));
    if (!json && !d.Equal() && has_threshold)
        std::cout << (passed ? "within" : "beyond") << " the threshold of " << threshold << " dBFS\n";
    return passed ? kExitOk : kExitFailed;
}

}  // namespace septool
