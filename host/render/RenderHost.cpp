#include "RenderHost.h"

#include <algorithm>

namespace sephost::render {

RenderHost::RenderHost(float sample_rate, int32_t block_size) : m_sample_rate(sample_rate), m_block_size(block_size) {
    EngineOptions options;
    options.sample_rate = sample_rate;
    options.block_size = block_size;
    // Nothing is kept per sample or per call: a render may be of any length.
    options.record_callbacks = false;
    options.record_outputs = false;
    options.record_process_calls = false;
    m_sink = std::make_unique<StreamSink>([this](const StreamBlock& block, std::string* error) {
        return Take(block, error);
    });
    m_engine = std::make_unique<Engine>(options);
    m_engine->AddSink(m_sink.get());
}

RenderHost::~RenderHost() { Close(); }

int RenderHost::Place(const Library& library, int voices, std::string* error) {
    return m_engine->Place(library, voices, error);
}

std::vector<PinDescription> RenderHost::Pins(int instance) const { return m_engine->Pins(instance); }

bool RenderHost::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    return m_engine->Connect(from, out_pin, to, in_pin, error);
}

int RenderHost::Tap(int instance, int32_t pin) {
    m_taps.push_back({instance, pin, {}});
    return static_cast<int>(m_taps.size()) - 1;
}

size_t RenderHost::PinBufferBytes() const { return m_engine->PinBufferBytes(); }

bool RenderHost::Open(std::string* error) {
    for (Tapped& tap : m_taps) tap.block.assign(static_cast<size_t>(m_block_size), 0.0f);
    return m_engine->Open(error);
}

void RenderHost::SetInput(int instance, int32_t pin, float value, uint32_t at) {
    m_engine->SetInput(instance, pin, value, at);
}

bool RenderHost::RunBlock(int32_t samples, std::string* error) {
    return m_engine->Run(static_cast<uint32_t>(samples), error);
}

// The stream's consumer: copies the tapped outputs out of the finished
// block, whose buffers are valid only during the call.
bool RenderHost::Take(const StreamBlock& block, std::string* error) {
    if (!m_mapped) {
        for (Tapped& tap : m_taps) {
            const auto& outputs = *block.outputs;
            auto found = std::find_if(outputs.begin(), outputs.end(), [&](const OutputId& id) {
                return id.instance == tap.instance && id.pin == tap.pin;
            });
            if (found == outputs.end()) {
                *error = "the host streams no output " + std::to_string(tap.pin) + " of instance " +
                         std::to_string(tap.instance);
                return false;
            }
            tap.output = static_cast<size_t>(found - outputs.begin());
        }
        m_mapped = true;
    }
    for (Tapped& tap : m_taps)
        std::copy(block.channels[tap.output], block.channels[tap.output] + block.count, tap.block.begin());
    return true;
}

const float* RenderHost::TapBlock(int tap) const { return m_taps[static_cast<size_t>(tap)].block.data(); }

uint32_t RenderHost::Clock() const { return m_engine->Clock(); }

void RenderHost::Close() {
    if (m_engine != nullptr) m_engine->Close();
}

}  // namespace sephost::render
