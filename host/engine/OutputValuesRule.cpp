// Counting the non-finite and subnormal samples of each output.
#include "OutputValuesRule.h"

#include <cmath>

namespace septool {

namespace {

void Note(OutputValuesRule::Count* count, uint32_t clock) {
    if (count->samples++ == 0) count->first_clock = clock;
}

std::string Describe(const char* what, const OutputValuesRule::Count& count) {
    if (count.samples == 0) return std::string("no ") + what;
    return std::to_string(count.samples) + " " + what + " (first at clock " + std::to_string(count.first_clock) + ")";
}

}  // namespace

void OutputValuesRule::OnOutputBlock(const sephost::OutputId& id, uint32_t clock, const float* samples, int32_t count) {
    for (Output& output : m_outputs) {
        if (output.id.instance != id.instance || output.id.pin != id.pin) continue;
        for (int32_t k = 0; k < count; ++k) {
            const uint32_t at = clock + static_cast<uint32_t>(k);
            switch (std::fpclassify(samples[k])) {
            case FP_NAN:
                Note(&output.nan, at);
                break;
            case FP_INFINITE:
                Note(&output.infinite, at);
                break;
            case FP_SUBNORMAL:
                Note(&output.subnormal, at);
                break;
            default:
                break;
            }
        }
        output.seen += static_cast<size_t>(count);
        return;
    }
}

void OutputValuesRule::Report(std::vector<std::string>* lines) const {
    for (const Output& output : m_outputs)
        lines->push_back("instance " + std::to_string(output.id.instance) + " pin " + std::to_string(output.id.pin) +
                         " \"" + output.name + "\": " + Describe("NaN", output.nan) + ", " +
                         Describe("infinite", output.infinite) + ", " + Describe("subnormal", output.subnormal) +
                         (output.nan.samples + output.infinite.samples > 0 ? "  FAILED" : ""));
}

bool OutputValuesRule::Failed() const {
    for (const Output& output : m_outputs)
        if (output.nan.samples + output.infinite.samples > 0) return true;
    return false;
}

}  // namespace septool
