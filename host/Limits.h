// The ranges the host accepts and the memory it is willing to hold. The
// engine checks them itself; the command line names them in its messages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sephost {

constexpr double kMinSampleRate = 1.0;         // Hz
constexpr double kMaxSampleRate = 10000000.0;  // Hz
constexpr int32_t kMaxBlockSize = 1 << 20;     // samples per host block
constexpr int kMaxVoices = 256;                // clones of one placed module
constexpr uint32_t kMaxRunSamples = 1u << 30;  // samples of one command-line run

// All pin buffers of a patch together (voices x sample pins x block size).
constexpr size_t kMaxBufferBytes = size_t(256) << 20;
// Enumeration of declarations stops here even if a module never refuses.
constexpr int32_t kMaxDeclarations = 4096;
// Events delivered to one instance at one clock before the host gives up.
constexpr int32_t kMaxEventsAtOneClock = 100000;
// Events one instance may have waiting at any time.
constexpr size_t kMaxQueuedEvents = size_t(1) << 20;

// Defaults of the bounded records (EngineOptions may lower or raise them).
constexpr size_t kDefaultHistorySamples = size_t(64) << 20;   // all outputs together
constexpr size_t kDefaultCallbackRecords = size_t(1) << 20;   // kept callback records
constexpr size_t kDefaultProcessCallRecords = size_t(4) << 20;  // all instances together

}  // namespace sephost
