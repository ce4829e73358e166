// The engine's public face: each call hands over to the part that owns it
// (EngineCore.h lists them).
#include "Engine.h"

#include <cstdio>

#include "EngineCore.h"

namespace sephost {

std::string CheckEngineOptions(const EngineOptions& options) {
    if (!InRange(kSampleRateRange, options.sample_rate)) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", static_cast<double>(options.sample_rate));
        return "the sample rate must lie between " + std::to_string(static_cast<long>(kMinSampleRate)) + " and " +
               std::to_string(static_cast<long>(kMaxSampleRate)) + " Hz, not " + rate;
    }
    if (!InRange(kBlockSizeRange, options.block_size))
        return "the block size must lie between 1 and " + std::to_string(kMaxBlockSize) + " samples, not " +
               std::to_string(options.block_size);
    return "";
}

Engine::Engine(EngineOptions options) : m_impl(new Impl(options)) {}

Engine::~Engine() { Close(); }

int Engine::Place(const Library& library, int voices, std::string* error) {
    return m_impl->Place(library, voices, error);
}

int Engine::InstanceCount() const { return static_cast<int>(m_impl->instances.size()); }

size_t Engine::PinBufferBytes() const { return m_impl->buffer_bytes; }

std::vector<PinDescription> Engine::Declarations(int instance) const {
    const Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->declarations : std::vector<PinDescription>();
}

std::vector<PinDescription> Engine::Pins(int instance) const {
    std::vector<PinDescription> pins;
    if (const Instance* inst = m_impl->Get(instance))
        for (const Pin& pin : inst->pins) pins.push_back(pin.description);
    return pins;
}

bool Engine::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    return m_impl->Connect(from, out_pin, to, in_pin, error);
}

bool Engine::Open(std::string* error, const std::vector<int>& order) { return m_impl->Open(error, order); }

bool Engine::Run(uint32_t samples, std::string* error) { return m_impl->Run(samples, error); }

uint32_t Engine::Clock() const { return m_impl->clock; }

const std::vector<int>& Engine::RunOrder() const { return m_impl->run_order; }

const std::vector<float>& Engine::Output(int instance, int32_t pin) const {
    return m_impl->history.Samples(instance, pin);
}

void Engine::AddSink(OutputSink* sink) {
    if (sink != nullptr && !m_impl->started) m_impl->sinks.push_back(sink);
}

ContractMonitor& Engine::Monitor() { return m_impl->monitor; }

const ContractMonitor& Engine::Monitor() const { return m_impl->monitor; }

bool Engine::Sleeping(int instance) const {
    const Instance* inst = m_impl->Get(instance);
    return inst != nullptr && inst->sleeping;
}

int32_t Engine::PinCount(int instance) const {
    const Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? static_cast<int32_t>(inst->pins.size()) : 0;
}

int32_t Engine::PinStatus(int instance, int32_t pin) const {
    const Pin* p = m_impl->GetPin(instance, pin);
    return p != nullptr ? p->status : ST_STILL;
}

HostRecord* Engine::Record(int instance) const {
    const Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->record : nullptr;
}

void* Engine::Object(int instance) const {
    HostRecord* r = Record(instance);
    return r != nullptr ? r->object : nullptr;
}

const std::vector<Engine::ProcessCall>& Engine::ProcessCalls(int instance) const {
    static const std::vector<ProcessCall> none;
    const Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->calls : none;
}

const std::vector<CallbackRecord>& Engine::Callbacks() const { return m_impl->monitor.Records(); }

void Engine::ClearCallbacks() { m_impl->monitor.ClearRecords(); }

const std::vector<std::string>& Engine::Breaches() const { return m_impl->monitor.Breaches(); }

int32_t Engine::Dispatch(int instance, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    Instance* inst = m_impl->Get(instance);
    if (inst == nullptr || inst->record == nullptr) return 0;
    if (opcode == SE_OP_CLOSE) return m_impl->CloseInstance(inst);
    return CallDispatcher(inst, inst->record, opcode, index, value, ptr, opt);
}

void Engine::Close() { m_impl->Close(); }

}  // namespace sephost
