// The shared run options, their ranges those of Limits.h.
#include "RunOptions.h"

namespace septool {

CLI::Option* AddRateOption(CLI::App& app, const std::string& name, std::function<void(double)> take,
                           const std::string& help) {
    return AddNumberOption(app, name, sephost::kSampleRateRange, std::move(take), help, "HZ");
}

CLI::Option* AddBlockOption(CLI::App& app, const std::string& name, int32_t* block, const std::string& help) {
    return AddNumberOption(
        app, name, sephost::kBlockSizeRange, [block](double value) { *block = static_cast<int32_t>(value); }, help,
        "N");
}

void AddRunOptions(CLI::App& app, RunOptions* options) {
    AddNumberOption(
        app, "--voices", sephost::kVoicesRange, [options](double value) { options->voices = static_cast<int>(value); },
        "clones of the module (default " + std::to_string(options->voices) + ")", "N");
    AddRateOption(
        app, "--rate", [options](double value) { options->rate = value; },
        "sample rate (default " + std::to_string(static_cast<long long>(options->rate)) + ")");
    AddBlockOption(app, "--block", &options->block,
                   "samples per block (default " + std::to_string(options->block) + ")");
    AddNumberOption(
        app, "--samples", sephost::kRunSamplesRange,
        [options](double value) { options->samples = static_cast<uint32_t>(value); },
        "samples to run (default " + std::to_string(options->samples) + ")", "N");
}

sephost::EngineOptions ToEngineOptions(const RunOptions& options) {
    sephost::EngineOptions engine;
    engine.sample_rate = static_cast<float>(options.rate);
    engine.block_size = options.block;
    return engine;
}

}  // namespace septool
