#include "SleepRule.h"

namespace sepcheck {

SleepRule::SleepRule(const std::vector<sephost::OutputId>& outputs) {
    for (const sephost::OutputId& output : outputs) m_announced[output.instance][output.pin] = ST_STILL;
}

void SleepRule::OnCallback(const sephost::CallbackRecord& call) {
    if (call.instance < 0) return;
    std::map<int32_t, int32_t>& outputs = m_announced[call.instance];
    if (call.opcode == SE_CB_PIN_STATUS && outputs.count(call.index) != 0) outputs[call.index] = call.value;
    if (call.opcode != SE_CB_SLEEP) return;
    ++m_sleeps;
    if (!m_first_break.empty()) return;
    for (const auto& output : outputs)
        if (output.second == ST_STREAMING) {
            m_first_break = "instance " + std::to_string(call.instance) + " asked to sleep at clock " +
                            std::to_string(call.clock) + " while output pin " + std::to_string(output.first) +
                            " was announced streaming";
            return;
        }
}

void SleepRule::Report(std::vector<std::string>* lines) const {
    lines->push_back(std::to_string(m_sleeps) + " sleep requests" +
                     (m_first_break.empty() ? ", each after static outputs" : "; " + m_first_break));
}

}  // namespace sepcheck
