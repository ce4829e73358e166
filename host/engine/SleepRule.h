// A contract-monitor rule: a module asks to sleep (SE_CB_SLEEP) only once
// it has announced every sample output static, that is while none of them
// was last announced ST_STREAMING. Outputs start out still.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SepHost.h"

namespace sepcheck {

class SleepRule : public sephost::MonitorRule {
public:
    // The sample outputs of every instance, by table index.
    explicit SleepRule(const std::vector<sephost::OutputId>& outputs);

    void OnCallback(const sephost::CallbackRecord& record) override;
    void Report(std::vector<std::string>* lines) const override;
    bool Failed() const override { return !m_first_break.empty(); }

    const std::string& FirstBreak() const { return m_first_break; }
    size_t Sleeps() const { return m_sleeps; }

private:
    std::map<int, std::map<int32_t, int32_t>> m_announced;  // instance -> output pin -> status
    std::string m_first_break;
    size_t m_sleeps = 0;
};

}  // namespace sepcheck
