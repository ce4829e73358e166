// The run options shared by every command that runs a patch: --rate,
// --block, --samples and --voices, parsed in one place, each checked against
// the range the host accepts (Limits.h), with messages that name the range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Engine.h"

namespace septool {

struct RunOptions {
    double rate = 44100.0;     // Hz
    int32_t block = 1024;      // samples per host block
    uint32_t samples = 44100;  // samples to run
    int voices = 1;            // clones of the module
};

enum class OptionResult {
    kNotMine,  // args[*i] is not a run option
    kTaken,    // parsed; *i now at the option's value
    kError,    // `error` says what is wrong and what is accepted
};

// Looks at args[*i]; a run option takes the next argument as its value.
OptionResult ParseRunOption(const std::vector<std::string>& args, size_t* i, RunOptions* options,
                            std::string* error);

// The usage text of the run options.
const char* RunOptionsUsage();

sephost::EngineOptions ToEngineOptions(const RunOptions& options);

}  // namespace septool
