#include "StatusRule.h"

#include <cmath>

#include "Drive.h"

namespace sepcheck {

namespace {

const char* StatusName(int32_t status) {
    switch (status) {
    case ST_STILL:
        return "still";
    case ST_CHANGED_ONCE:
        return "changed once";
    case ST_STREAMING:
        return "streaming";
    default:
        return "unknown";
    }
}

bool Same(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

StatusRule::StatusRule(const std::vector<Output>& outputs, int32_t block_size)
    : m_block_size(block_size > 0 ? uint32_t(block_size) : 0) {
    for (const Output& output : outputs) m_outputs[output.id.instance][output.id.pin].name = output.name;
}

void StatusRule::OnCallback(const sephost::CallbackRecord& call) {
    if (call.instance < 0) return;
    std::map<int32_t, Track>& outputs = m_outputs[call.instance];
    if (call.opcode == SE_CB_PIN_STATUS && outputs.count(call.index) != 0) {
        Track& track = outputs[call.index];
        track.last_announced = call.value;
        track.pending[static_cast<uint32_t>(call.ptr)] = call.value;
    }
    if (call.opcode != SE_CB_SLEEP) return;
    ++m_sleeps;
    if (!m_sleep_break.empty()) return;
    for (const auto& output : outputs)
        if (output.second.last_announced == ST_STREAMING) {
            m_sleep_break = "instance " + std::to_string(call.instance) + " asked to sleep at clock " +
                            std::to_string(call.clock) + " while output pin " + std::to_string(output.first) +
                            " was announced streaming";
            return;
        }
}

void StatusRule::OnOutputBlock(const sephost::OutputId& id, uint32_t clock, const float* samples, int32_t count) {
    auto instance = m_outputs.find(id.instance);
    if (instance == m_outputs.end()) return;
    auto found = instance->second.find(id.pin);
    if (found == instance->second.end()) return;
    Track& track = found->second;
    for (int32_t k = 0; k < count; ++k) {
        const uint32_t at = clock + static_cast<uint32_t>(k);
        while (!track.pending.empty() && track.pending.begin()->first <= at) {
            track.in_force = track.pending.begin()->second;
            track.ever_announced = true;
            if (track.in_force == ST_CHANGED_ONCE) track.settles_until = track.pending.begin()->first + m_block_size;
            track.pending.erase(track.pending.begin());
        }
        const float sample = samples[k];
        if (track.has_previous && !Same(sample, track.previous)) {
            ++m_changes;
            const bool allowed =
                track.in_force == ST_STREAMING || (track.in_force == ST_CHANGED_ONCE && at <= track.settles_until);
            if (!allowed && m_still_break.empty())
                m_still_break = "instance " + std::to_string(id.instance) + " \"" + track.name + "\" (pin " +
                                std::to_string(id.pin) + ") changed at clock " + std::to_string(at) + " from " +
                                Number(track.previous) + " to " + Number(sample) + " while announced " +
                                (!track.ever_announced ? std::string("still (never announced)")
                                 : track.in_force == ST_CHANGED_ONCE
                                     ? "changed once at clock " + std::to_string(track.settles_until - m_block_size) +
                                           ", more than a block size (" + std::to_string(m_block_size) + ") before"
                                     : StatusName(track.in_force));
        }
        track.previous = sample;
        track.has_previous = true;
    }
}

void StatusRule::Report(std::vector<std::string>* lines) const {
    lines->push_back(std::to_string(m_sleeps) + " sleep requests" +
                     (m_sleep_break.empty() ? ", each after static outputs" : "; " + m_sleep_break));
    lines->push_back(
        std::to_string(m_changes) + " output changes" +
        (m_still_break.empty() ? ", each while announced streaming or changed once" : "; " + m_still_break));
}

}  // namespace sepcheck
