// Hostile input: pin values from a fixed seed, 0, negatives, 1e-45, 1e30,
// +-infinity and NaN on every audio input, list values in and out of their
// choices, status changes at random clocks. Every host block returns within
// the bound and no output sample is NaN or infinite; with inputs inside
// their useful ranges no output sample is subnormal either. And what
// subnormal inputs cost against normal ones.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "Checks.h"
#include "Drive.h"

namespace sepcheck {

namespace {

struct Session {
    std::string error;
    OutputScan scan;
    double worst = 0.0;
    uint32_t samples = 0;
};

// `sessions` patches of random settings, hostile or useful, at random block
// sizes and clone counts.
Verdict RandomSessions(const CheckContext& context, const char* name, bool hostile) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    std::mt19937 random = context.Random(name);
    const int sessions = context.Scaled(6, 12, 24, 48, 96);
    size_t samples = 0;
    double worst = 0.0;
    for (int session = 0; session < sessions; ++session) {
        sephost::EngineOptions options;
        const int32_t blocks[] = {16, 64, 256, 1024, 4096};
        options.block_size = blocks[random() % 5];
        const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f};
        options.sample_rate = rates[random() % 4];
        sephost::Engine engine(options);
        const int voices = 1 + int(random() % 4);
        if (engine.Place(*library, voices, &error) < 0) return Fail(error);
        const uint32_t span = uint32_t(options.block_size) * (4 + random() % 8);
        for (int v = 0; v < voices; ++v) DriveRandomly(engine, v, random, span, 8 + int(random() % 40), hostile);
        if (!engine.Open(&error)) return Fail(error);
        double session_worst = 0.0;
        const std::string where = "session " + std::to_string(session) + " (block " +
                                  std::to_string(options.block_size) + ", " + std::to_string(voices) + " voices)";
        if (!RunTimed(engine, span, options.block_size, context.BlockTimeBound(), &session_worst, &error))
            return Fail(where + ": " + error);
        worst = std::max(worst, session_worst);
        const OutputScan scan = ScanOutputs(engine, 0);
        samples += scan.samples;
        if (scan.nan + scan.infinite > 0)
            return Fail(where + ": " + std::to_string(scan.nan) + " NaN, " + std::to_string(scan.infinite) +
                        " infinite samples; first: " + scan.first_bad);
        if (!hostile && scan.subnormal > 0)
            return Fail(where + ": " + std::to_string(scan.subnormal) + " subnormal samples; first: " + scan.first_bad);
    }
    return Pass(std::to_string(sessions) + " sessions, " + std::to_string(samples) +
                " output samples, slowest block " + Number(worst * 1000.0) + " ms");
}

Verdict HostileValues(const CheckContext& context) { return RandomSessions(context, "hostile", true); }
Verdict UsefulValues(const CheckContext& context) { return RandomSessions(context, "useful", false); }

// Seconds for `blocks` blocks with every audio input held at `value`.
double TimeBlocks(const sephost::Library& library, float value, int32_t block, int blocks, std::string* error) {
    sephost::EngineOptions options;
    options.block_size = block;
    options.record_outputs = false;
    sephost::Engine engine(options);
    if (engine.Place(library, 1, error) < 0) return -1.0;
    for (const PinRef& input : InputPins(engine, 0))
        if (input.description.datatype == DT_FSAMPLE) engine.StreamInput(0, input.pin, std::vector<float>(8, value));
    if (!engine.Open(error)) return -1.0;
    if (!engine.Run(uint32_t(block) * 4, error)) return -1.0;  // past the start
    const double started = Seconds();
    if (!engine.Run(uint32_t(block) * uint32_t(blocks), error)) return -1.0;
    return Seconds() - started;
}

// A report more than a test; it fails only when subnormal inputs make a
// block many times slower than normal ones.
constexpr double kSubnormalCostLimit = 8.0;

Verdict SubnormalCost(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const int32_t block = 256;
    const int blocks = context.Scaled(50, 100, 200, 400, 800);
    // The median of five tries each, alternating, against a busy machine.
    std::vector<double> normal, subnormal;
    for (int k = 0; k < 5; ++k) {
        normal.push_back(TimeBlocks(*library, 0.25f, block, blocks, &error));
        subnormal.push_back(TimeBlocks(*library, 2.5e-39f, block, blocks, &error));
        if (normal.back() < 0.0 || subnormal.back() < 0.0) return Fail(error);
    }
    std::sort(normal.begin(), normal.end());
    std::sort(subnormal.begin(), subnormal.end());
    const double per_normal = normal[2] / blocks * 1e6;
    const double per_subnormal = subnormal[2] / blocks * 1e6;
    const double ratio = per_normal > 0.0 ? per_subnormal / per_normal : 1.0;
    const std::string report = "block of " + std::to_string(block) + ": " + Number(per_normal) +
                               " us with inputs 0.25, " + Number(per_subnormal) + " us with inputs 2.5e-39 (x" +
                               Number(ratio) + ")";
    if (ratio > kSubnormalCostLimit) return Fail(report + ", above x" + Number(kSubnormalCostLimit));
    return Pass(report);
}

}  // namespace

void AddHostileInputChecks(std::vector<Check>* checks) {
    checks->push_back({"hostile-input", "hostile-values",
                       "0, negatives, 1e-45, 1e30, +-inf, NaN, lists in and out: outputs finite, blocks bounded",
                       &HostileValues});
    checks->push_back({"hostile-input", "useful-values",
                       "inputs inside their useful ranges: outputs finite and never subnormal", &UsefulValues});
    checks->push_back({"subnormal-cost", "subnormal-inputs", "a block with subnormal inputs against normal ones",
                       &SubnormalCost});
}

}  // namespace sepcheck
