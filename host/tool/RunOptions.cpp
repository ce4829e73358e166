// Parsing the shared run options.
#include "RunOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace septool {

namespace {

struct Range {
    const char* name;
    const char* unit;
    double min;
    double max;
    bool whole;  // a whole number
};

std::string Accepted(const Range& r) { return sephost::DescribeRange({r.unit, r.min, r.max, r.whole}); }

// The whole text as a number within the range, or the reason it is not.
bool ParseValue(const std::string& text, const Range& r, double* value, std::string* error) {
    const std::string wanted = std::string(r.name) + " needs " + Accepted(r);
    errno = 0;
    char* end = nullptr;
    const double parsed = r.whole ? static_cast<double>(std::strtoll(text.c_str(), &end, 10))
                                  : std::strtod(text.c_str(), &end);
    const bool malformed = text.empty() || end == nullptr || *end != '\0' || text[0] == ' ' || !std::isfinite(parsed);
    if (malformed) {
        *error = wanted + ", not '" + text + "'";
        return false;
    }
    if (errno == ERANGE || !sephost::InRange({r.unit, r.min, r.max, false}, parsed)) {
        *error = wanted + "; " + text + " is " + (parsed < r.min ? "too small" : "too large");
        return false;
    }
    *value = parsed;
    return true;
}

const Range kRate = {"--rate", sephost::kSampleRateRange.unit, sephost::kSampleRateRange.min,
                     sephost::kSampleRateRange.max, sephost::kSampleRateRange.whole};
const Range kBlock = {"--block", sephost::kBlockSizeRange.unit, sephost::kBlockSizeRange.min,
                      sephost::kBlockSizeRange.max, sephost::kBlockSizeRange.whole};
const Range kSamples = {"--samples", "samples", 1, sephost::kMaxRunSamples, true};
const Range kVoices = {"--voices", "voices", 1, sephost::kMaxVoices, true};

}  // namespace

OptionResult ParseRunOption(const std::vector<std::string>& args, size_t* i, RunOptions* options,
                            std::string* error) {
    const std::string& name = args[*i];
    const Range* range = name == kRate.name      ? &kRate
                         : name == kBlock.name   ? &kBlock
                         : name == kSamples.name ? &kSamples
                         : name == kVoices.name  ? &kVoices
                                                 : nullptr;
    if (range == nullptr) return OptionResult::kNotMine;
    if (*i + 1 >= args.size()) {
        *error = name + " needs a value: " + Accepted(*range);
        return OptionResult::kError;
    }
    double value = 0.0;
    if (!ParseValue(args[*i + 1], *range, &value, error)) return OptionResult::kError;
    ++*i;
    if (range == &kRate) options->rate = value;
    if (range == &kBlock) options->block = static_cast<int32_t>(value);
    if (range == &kSamples) options->samples = static_cast<uint32_t>(value);
    if (range == &kVoices) options->voices = static_cast<int>(value);
    return OptionResult::kTaken;
}

const char* RunOptionsUsage() { return "[--voices N] [--rate HZ] [--block N] [--samples N]"; }

sephost::EngineOptions ToEngineOptions(const RunOptions& options) {
    sephost::EngineOptions engine;
    engine.sample_rate = static_cast<float>(options.rate);
    engine.block_size = options.block;
    return engine;
}

}  // namespace septool
