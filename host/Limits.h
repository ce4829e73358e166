// The ranges the host accepts and the memory it is willing to hold. The
// engine checks them itself; the command line names them in its messages.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sephost {

constexpr double kMinSampleRate = 1.0;         // Hz
constexpr double kMaxSampleRate = 10000000.0;  // Hz
constexpr int32_t kMaxBlockSize = 1 << 20;     // samples per host block
constexpr int kMaxVoices = 256;                // clones of one placed module

// The sample rate and the block size have one range each, wherever they are
// given: EngineOptions, the run options of the command line, a render's
// patch file and options. Every reader checks with InRange and says what it
// wants with DescribeRange.
struct HostRange {
    const char* unit;
    double min;
    double max;
    bool whole;  // a whole number
};
constexpr HostRange kSampleRateRange = {"Hz", kMinSampleRate, kMaxSampleRate, false};
constexpr HostRange kBlockSizeRange = {"samples", 1.0, static_cast<double>(kMaxBlockSize), true};

inline bool InRange(const HostRange& range, double value) {
    return value >= range.min && value <= range.max && (!range.whole || std::floor(value) == value);
}

// "a whole number of samples from 1 to 1048576"; without a unit "a whole
// number from 1 to 5".
inline std::string DescribeRange(const HostRange& range) {
    auto number = [](double value) {
        char text[48];
        std::snprintf(text, sizeof text, std::floor(value) == value ? "%.0f" : "%g", value);
        return std::string(text);
    };
    const bool unit = range.unit != nullptr && *range.unit != '\0';
    return std::string(range.whole ? "a whole number" : "a number") + (unit ? std::string(" of ") + range.unit : "") +
           " from " + number(range.min) + " to " + number(range.max);
}
constexpr uint32_t kMaxRunSamples = 1u << 30;  // samples of one command-line run
constexpr HostRange kRunSamplesRange = {"samples", 1.0, static_cast<double>(kMaxRunSamples), true};
constexpr HostRange kVoicesRange = {"voices", 1.0, static_cast<double>(kMaxVoices), true};

// All pin buffers of a patch together (voices x sample pins x block size).
constexpr size_t kMaxBufferBytes = size_t(256) << 20;
// Enumeration of declarations stops here even if a module never refuses.
constexpr int32_t kMaxDeclarations = 4096;
// Events delivered to one instance at one clock before the host gives up.
constexpr int32_t kMaxEventsAtOneClock = 100000;
// Events one instance may have waiting at any time.
constexpr size_t kMaxQueuedEvents = size_t(1) << 20;

// Defaults of the bounded records (EngineOptions may lower or raise them).
constexpr size_t kDefaultHistorySamples = size_t(64) << 20;     // all outputs together
constexpr size_t kDefaultCallbackRecords = size_t(1) << 20;     // kept callback records
constexpr size_t kDefaultProcessCallRecords = size_t(4) << 20;  // all instances together

}  // namespace sephost
