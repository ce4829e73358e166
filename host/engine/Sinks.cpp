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
    return true;
}

// The blocks are kept until the next block overwrites them, so that a
// consumer may read them until then without copying them. Capacities only
// grow as blocks are written: their sum after the last one is the block's
// most.
bool StreamSink::EndBlock(uint32_t clock, int32_t count, std::string* error) {
    size_t held = 0;
    for (const auto& block : m_blocks) held += block.capacity();
    m_high_water = std::max(m_high_water, held);
    m_block.clock = clock;
    m_block.count = count;
    m_block.outputs = &m_outputs;
    m_block.channels.clear();
    for (const auto& samples : m_blocks) m_block.channels.push_back(samples.data());
    return !m_consumer || m_consumer(m_block, error);
}

}  // namespace sephost
