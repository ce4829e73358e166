// Where the samples of output pins go once a host block is finished. The
// engine hands every sink each block of each DT_FSAMPLE output, then tells it
// the block is complete; a sink that cannot take more stops the run with its
// reason. Two sinks come with the host: the in-memory history the tests read
// (bounded, or off) and a streaming sink that passes each finished block to a
// consumer and keeps nothing beyond it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sephost {

struct OutputId {
    int instance = -1;
    int32_t pin = -1;
};

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Before the first block: the outputs, in the order their blocks arrive.
    virtual bool Begin(const std::vector<OutputId>& outputs, std::string* error) = 0;
    // Block of output number `output` (an index into Begin's list): `count`
    // samples from sample clock `clock` on, valid only during the call.
    virtual bool Write(size_t output, uint32_t clock, const float* samples, int32_t count, std::string* error) = 0;
    // Every output of the block starting at `clock` has been written.
    virtual bool EndBlock(uint32_t clock, int32_t count, std::string* error) = 0;
};

// Keeps every sample of every output, up to `limit` samples for all outputs
// together; reaching the limit stops the run with an error naming it.
class HistorySink : public OutputSink {
public:
    explicit HistorySink(size_t limit) : m_limit(limit) {}
    bool Begin(const std::vector<OutputId>& outputs, std::string* error) override;
    bool Write(size_t output, uint32_t clock, const float* samples, int32_t count, std::string* error) override;
    bool EndBlock(uint32_t, int32_t, std::string*) override { return true; }

    // Every sample the output's buffer held, from the first block on; empty
    // for an output the sink has not seen.
    const std::vector<float>& Samples(int instance, int32_t pin) const;

private:
    size_t m_limit;
    size_t m_held = 0;
    std::vector<OutputId> m_outputs;
    std::vector<std::vector<float>> m_samples;
};

// One finished block of every output: channel k holds `count` samples of
// output k of the list given to Begin, until the next block is written.
struct StreamBlock {
    uint32_t clock = 0;
    int32_t count = 0;
    const std::vector<OutputId>* outputs = nullptr;
    std::vector<const float*> channels;
};

// Gathers the outputs of one block and hands them to `consumer` together;
// the consumer answers false (with an error) to stop the run. Memory stays
// one block per output whatever the length of the run.
class StreamSink : public OutputSink {
public:
    using Consumer = std::function<bool(const StreamBlock& block, std::string* error)>;
    explicit StreamSink(Consumer consumer) : m_consumer(std::move(consumer)) {}
    bool Begin(const std::vector<OutputId>& outputs, std::string* error) override;
    bool Write(size_t output, uint32_t clock, const float* samples, int32_t count, std::string* error) override;
    bool EndBlock(uint32_t clock, int32_t count, std::string* error) override;

    // The most samples the sink has held at once, all outputs together.
    size_t HighWaterMark() const { return m_high_water; }

private:
    Consumer m_consumer;
    std::vector<OutputId> m_outputs;
    std::vector<std::vector<float>> m_blocks;
    StreamBlock m_block;  // reused: no allocation per block
    size_t m_high_water = 0;
};

}  // namespace sephost
