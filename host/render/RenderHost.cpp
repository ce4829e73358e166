#include "RenderHost.h"

#include <algorithm>

#include "SampleBits.h"

namespace sephost::render {

RenderHost::RenderHost(float sample_rate, int32_t block_size, bool fill_driven_by_sample)
    : m_sample_rate(sample_rate), m_block_size(block_size) {
    EngineOptions options;
    options.sample_rate = sample_rate;
    options.block_size = block_size;
    // Nothing is kept per sample or per call: a render may be of any length.
    options.record_callbacks = false;
    options.record_outputs = false;
    options.record_process_calls = false;
    options.fill_driven_by_sample = fill_driven_by_sample;
    m_sink = std::make_unique<StreamSink>(
        [this](const StreamBlock& block, std::string* error) { return Take(block, error); });
    m_engine = std::make_unique<Engine>(options);
    m_engine->AddSink(m_sink.get());
}

RenderHost::~RenderHost() { Close(); }

int RenderHost::Place(const Library& library, int voices, std::string* error) {
    return m_engine->Place(library, voices, error);
}

std::vector<PinDescription> RenderHost::Pins(int instance) const { return m_engine->Pins(instance); }

bool RenderHost::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    if (!m_engine->Connect(from, out_pin, to, in_pin, error)) return false;
    m_used.insert({from, out_pin});
    return true;
}

int RenderHost::Tap(int instance, int32_t pin) {
    m_taps.push_back({instance, pin, {}});
    m_used.insert({instance, pin});
    return static_cast<int>(m_taps.size()) - 1;
}

size_t RenderHost::PinBufferBytes() const { return m_engine->PinBufferBytes(); }

bool RenderHost::Open(std::string* error) {
    for (Tapped& tap : m_taps) {
        tap.block.assign(static_cast<size_t>(m_block_size), 0.0f);
        tap.samples = tap.block.data();
    }
    return m_engine->Open(error);
}

void RenderHost::SetInput(int instance, int32_t pin, float value, uint32_t at) {
    m_engine->SetInput(instance, pin, value, at);
}

int RenderHost::AddFeed(int instance, int32_t pin) {
    Fed fed;
    fed.instance = instance;
    fed.pin = pin;
    m_feeds.push_back(fed);
    return static_cast<int>(m_feeds.size()) - 1;
}

void RenderHost::Feed(int feed, const float* samples, int32_t count) {
    Fed& fed = m_feeds[static_cast<size_t>(feed)];
    if (count <= 0) return;
    const uint32_t at = m_engine->Clock();
    if (!fed.started) {
        // The first sample is where the input starts: no change to tell.
        fed.started = true;
        fed.held = samples[0];
        m_engine->SetInput(fed.instance, fed.pin, fed.held, at);
    }
    // By the bits: NaN holds as NaN, and -0 differs from 0 as a module may see.
    int32_t first_change = 0;
    while (first_change < count && SameBits(samples[first_change], fed.held)) ++first_change;
    if (first_change == count) {
        if (fed.moving) m_engine->SetInput(fed.instance, fed.pin, fed.held, at);
        fed.moving = false;
        return;
    }
    if (!fed.moving) {
        // A step to a value held to the block's end is one still change at
        // its sample, as a module announces a single change.
        int32_t k = first_change + 1;
        while (k < count && SameBits(samples[k], samples[first_change])) ++k;
        if (k == count) {
            fed.held = samples[first_change];
            m_engine->SetInput(fed.instance, fed.pin, fed.held, at + static_cast<uint32_t>(first_change));
            return;
        }
    }
    const int32_t from = fed.moving ? 0 : first_change;
    m_engine->StreamInput(fed.instance, fed.pin, std::vector<float>(samples + from, samples + count),
                          at + static_cast<uint32_t>(from), !fed.moving);
    fed.moving = true;
    fed.held = samples[count - 1];
}

bool RenderHost::RunBlock(int32_t samples, std::string* error) {
    return m_engine->Run(static_cast<uint32_t>(samples), error);
}

// The stream's consumer: points each tap at its output's samples in the
// finished block, which the stream keeps until the next block.
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
    for (Tapped& tap : m_taps) tap.samples = block.channels[tap.output];
    if (!m_first_non_finite.found) FindNonFinite(block);
    return true;
}

// Looks at every output that feeds something, tapped or not: the module
// that first goes wrong may feed only other modules. An output nothing
// reads cannot spoil the render. Once one is found nothing more is looked at.
void RenderHost::FindNonFinite(const StreamBlock& block) {
    if (m_run_rank.empty()) {
        const std::vector<int>& order = m_engine->RunOrder();
        m_run_rank.assign(order.size(), 0);
        for (size_t rank = 0; rank < order.size(); ++rank)
            m_run_rank[static_cast<size_t>(order[rank])] = static_cast<int>(rank);
    }
    int32_t best_offset = block.count;
    const OutputId* best = nullptr;
    for (size_t k = 0; k < block.outputs->size(); ++k) {
        const OutputId& id = (*block.outputs)[k];
        if (m_used.count({id.instance, id.pin}) == 0) continue;
        const float* samples = block.channels[k];
        const int32_t limit = std::min(best_offset + 1, block.count);
        const int32_t offset = FirstNonFiniteSample(samples, limit);
        if (offset >= limit) continue;
        const bool earlier =
            offset < best_offset || best == nullptr ||
            m_run_rank[static_cast<size_t>(id.instance)] < m_run_rank[static_cast<size_t>(best->instance)];
        if (!earlier) continue;
        best_offset = offset;
        best = &id;
    }
    if (best == nullptr) return;
    m_first_non_finite = {true, best->instance, best->pin, block.clock + static_cast<uint32_t>(best_offset)};
}

const float* RenderHost::TapBlock(int tap) const { return m_taps[static_cast<size_t>(tap)].samples; }

uint32_t RenderHost::Clock() const { return m_engine->Clock(); }

void RenderHost::Close() {
    if (m_engine != nullptr) m_engine->Close();
}

}  // namespace sephost::render
