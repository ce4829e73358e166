#include "RenderHost.h"

#include <algorithm>

namespace sephost::render {

namespace {

// A declaration that only talks to a user interface gets no pin on the
// audio side.
bool GetsPin(const PinDescription& declaration) {
    return (declaration.flags & IO_UI_COMMUNICATION) == 0 || (declaration.flags & IO_UI_DSP_DUAL) != 0;
}

}  // namespace

RenderHost::RenderHost(float sample_rate, int32_t block_size) : m_sample_rate(sample_rate), m_block_size(block_size) {
    EngineOptions options;
    options.sample_rate = sample_rate;
    options.block_size = block_size;
    options.record_callbacks = false;
    // This engine hands out blocks only through its recorded history.
    options.record_outputs = true;
    m_engine = std::make_unique<Engine>(options);
}

RenderHost::~RenderHost() { Close(); }

int RenderHost::Place(const Library& library, int voices, std::string* error) {
    return m_engine->Place(library, voices, error);
}

std::vector<PinDescription> RenderHost::Pins(int instance) const {
    std::vector<PinDescription> pins;
    for (const PinDescription& d : m_engine->Declarations(instance))
        if (GetsPin(d)) pins.push_back(d);
    return pins;
}

bool RenderHost::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    return m_engine->Connect(from, out_pin, to, in_pin, error);
}

int RenderHost::Tap(int instance, int32_t pin) {
    m_taps.push_back({instance, pin, std::vector<float>(static_cast<size_t>(m_block_size), 0.0f)});
    return static_cast<int>(m_taps.size()) - 1;
}

bool RenderHost::Open(std::string* error) { return m_engine->Open(error); }

void RenderHost::SetInput(int instance, int32_t pin, float value, uint32_t at) {
    m_engine->SetInput(instance, pin, value, at);
}

bool RenderHost::RunBlock(int32_t samples, std::string* error) {
    if (!m_engine->Run(static_cast<uint32_t>(samples), error)) return false;
    for (Tapped& tap : m_taps) {
        const std::vector<float>& history = m_engine->Output(tap.instance, tap.pin);
        std::copy(history.end() - samples, history.end(), tap.block.begin());
    }
    return true;
}

const float* RenderHost::TapBlock(int tap) const { return m_taps[static_cast<size_t>(tap)].block.data(); }

uint32_t RenderHost::Clock() const { return m_engine->Clock(); }

void RenderHost::Close() {
    if (m_engine != nullptr) m_engine->Close();
}

}  // namespace sephost::render
