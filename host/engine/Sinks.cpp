// The host's two output sinks: the bounded in-memory history and the
// streaming sink that hands finished blocks to a consumer.
#include <algorithm>

#include "OutputSink.h"

namespace sephost {

bool HistorySink::Begin(const std::vector<OutputId>& outputs, std::string*) {
    m_outputs = outputs;
    m_samples.assign(outputs.size(), {});
    m_held = 0;
    return true;
}

bool HistorySink::Write(size_t output, uint32_t clock, const float* samples, int32_t count, std::string* error) {
    if (output >= m_samples.size() || count <= 0) return true;
    if (m_held + static_cast<size_t>(count) > m_limit) {
        if (error != nullptr)
            *error = "the output history reached its limit of " + std::to_string(m_limit) +
                     " samples (all outputs together) at clock " + std::to_string(clock) +
                     "; run shorter, keep no history, or stream the outputs";
        return false;
    }
    m_samples[output].insert(m_samples[output].end(), samples, samples + count);
    m_held += static_cast<size_t>(count);
    return true;
}

const std::vector<float>& HistorySink::Samples(int instance, int32_t pin) const {
    static const std::vector<float> none;
    for (size_t k = 0; k < m_outputs.size(); ++k)
        if (m_outputs[k].instance == instance && m_outputs[k].pin == pin) return m_samples[k];
    return none;
}

bool StreamSink::Begin(const std::vector<OutputId>& outputs, std::string*) {
    m_outputs = outputs;
    m_blocks.assign(outputs.size(), {});
    return true;
}

bool StreamSink::Write(size_t output, uint32_t, const float* samples, int32_t count, std::string*) {
    if (output >= m_blocks.size() || count <= 0) return true;
    // Reused block by block: the capacity stays one host block.
    m_blocks[output].assign(samples, samples + count);
    size_t held = 0;
    for (const auto& block : m_blocks) held += block.capacity();
    m_high_water = std::max(m_high_water, held);
    return true;
}

bool StreamSink::EndBlock(uint32_t clock, int32_t count, std::string* error) {
    StreamBlock block;
    block.clock = clock;
    block.count = count;
    block.outputs = &m_outputs;
    for (const auto& samples : m_blocks) block.channels.push_back(samples.data());
    const bool ok = !m_consumer || m_consumer(block, error);
    for (auto& samples : m_blocks) samples.clear();
    return ok;
}

}  // namespace sephost
