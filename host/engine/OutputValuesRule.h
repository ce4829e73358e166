// A monitor rule: counts, per output, the samples that were NaN, infinite or
// subnormal, with the clock of the first of each. NaN or infinity fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Monitor.h"

namespace septool {

class OutputValuesRule : public sephost::MonitorRule {
public:
    struct Count {
        size_t samples = 0;
        uint32_t first_clock = 0;
    };
    struct Output {
        sephost::OutputId id;
        std::string name;
        Count nan, infinite, subnormal;
        size_t seen = 0;
    };

    // Each output named by its pin for the report.
    explicit OutputValuesRule(std::vector<Output> outputs) : m_outputs(std::move(outputs)) {}

    void OnOutputBlock(const sephost::OutputId& id, uint32_t clock, const float* samples, int32_t count) override;
    void Report(std::vector<std::string>* lines) const override;
    bool Failed() const override;
    const std::vector<Output>& Outputs() const { return m_outputs; }

private:
    std::vector<Output> m_outputs;
};

}  // namespace septool
