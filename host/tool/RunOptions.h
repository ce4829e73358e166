// The run options shared by every command that runs a patch: --rate,
// --block, --samples and --voices, added to a command's option table by one
// function, each checked against the range the host accepts (Limits.h).
#pragma once

#include <cstdint>
#include <string>

#include "CommandLine.h"
#include "Engine.h"

namespace septool {

struct RunOptions {
    double rate = 44100.0;     // Hz
    int32_t block = 1024;      // samples per host block
    uint32_t samples = 44100;  // samples to run
    int voices = 1;            // clones of the module
};

// Adds --voices, --rate, --block and --samples to `app`; their values go to
// `options`, whose values are the defaults.
void AddRunOptions(CLI::App& app, RunOptions* options);

// The sample rate option under `name`, within the host's range.
CLI::Option* AddRateOption(CLI::App& app, const std::string& name, std::function<void(double)> take,
                           const std::string& help);
// The block size option under `name`, within the host's range.
CLI::Option* AddBlockOption(CLI::App& app, const std::string& name, int32_t* block, const std::string& help);

sephost::EngineOptions ToEngineOptions(const RunOptions& options);

}  // namespace septool
