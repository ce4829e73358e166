// A built plug-in driven the way a host drives it inside one block, and
// nothing else timed: the library is loaded with the test host's Library,
// every instance (clones of one module) is made and its declarations walked
// as the host walks them (sephost::WalkDeclarations), its pins get buffers
// and values at their defaults, sample rate and block size are
// sent, it is opened, and every input's status is delivered as an event at
// clock 0 (streaming for a streamed input). Then each timed block calls the
// instance's current process function over the same buffers with the
// sample clock held at the block's start, as a host does while it renders
// a block; the inputs hold still or repeat their block-long pattern.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../host/SepHost.h"

namespace benchrig {

// Directory of the plug-ins built from the baseline commit (scripts/bench.sh), or empty.
inline std::string BaselineDir() {
    const char* dir = std::getenv("SEP_BASELINE_PLUGINS");
    return dir != nullptr ? dir : "";
}

inline std::unique_ptr<sephost::Library> LoadOrDie(const std::string& path) {
    std::string error;
    std::unique_ptr<sephost::Library> library = sephost::Library::Load(path, &error);
    if (library == nullptr) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        std::exit(1);
    }
    return library;
}

// Seconds per sample and voice, printed with an SI prefix ("52.1n").
inline void CountSamples(benchmark::State& state, double samples_per_iteration) {
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * samples_per_iteration,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

class PluginRig {
public:
    PluginRig(const sephost::Library& library, int clones, float sample_rate, int32_t block)
        : m_sample_rate(sample_rate), m_block(block) {
        Active() = this;
        m_answers.record = false;  // nothing may grow while timed
        for (int k = 0; k < clones; ++k) {
            HostRecord* record = library.MakeModule()(0, 1, &Answer, nullptr);
            if (record == nullptr) Die("makeModule refused");
            Instance instance;
            instance.record = record;
            const sephost::AskDeclaration ask = [record](int32_t declaration, SEPinProperties* properties) {
                return record->dispatcher(record, SE_OP_GET_PIN_PROPERTIES, declaration, 0, properties, 0.0f) != 0;
            };
            sephost::WalkDeclarations(ask, [&instance, block](int32_t, int32_t pin_index, const SEPinProperties& p) {
                if (pin_index < 0) return;
                const sephost::PinStart start = sephost::StartValues(p);
                Pin pin;
                pin.properties = p;
                pin.buffer.assign(static_cast<size_t>(block), start.sample);
                instance.pins.push_back(pin);
                if (p.datatype != DT_FSAMPLE && p.value_address != nullptr) WriteInt(p, start.integer);
            });
            m_instances.push_back(instance);
            m_answers.clones.push_back(record);
        }
        // Clones of one module: one pin count.
        m_answers.pin_count = static_cast<int32_t>(m_instances.front().pins.size());
        // Buffers move no more: bind them.
        for (Instance& instance : m_instances)
            for (Pin& pin : instance.pins)
                if (pin.properties.datatype == DT_FSAMPLE && pin.properties.value_address != nullptr) {
                    float* data = pin.buffer.data();
                    std::memcpy(pin.properties.value_address, &data, sizeof data);
                }
    }
    ~PluginRig() {
        for (Instance& instance : m_instances)
            instance.record->dispatcher(instance.record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
        if (Active() == this) Active() = nullptr;
    }
    PluginRig(const PluginRig&) = delete;
    PluginRig& operator=(const PluginRig&) = delete;

    // Before Open: a still input, a block-long pattern (streaming), a list or integer value.
    void Set(int instance, int32_t pin, float value) { PinOf(instance, pin).buffer.assign(m_block, value); }
    void Stream(int instance, int32_t pin, const std::vector<float>& pattern) {
        Pin& p = PinOf(instance, pin);
        for (int32_t i = 0; i < m_block; ++i) p.buffer[i] = pattern[static_cast<size_t>(i) % pattern.size()];
        p.streaming = true;
    }
    void SetInt(int instance, int32_t pin, int32_t value) {
        Pin& p = PinOf(instance, pin);
        if (p.properties.value_address == nullptr) Die("pin without a value");
        WriteInt(p.properties, value);
    }

    HostRecord* Record(int instance) { return m_instances[static_cast<size_t>(instance)].record; }
    void* Object(int instance) { return Record(instance)->object; }
    const std::vector<float>& Buffer(int instance, int32_t pin) { return PinOf(instance, pin).buffer; }

    // Rate, block size, open, the inputs' statuses at clock 0, and a first block.
    void Start() {
        for (Instance& instance : m_instances) {
            HostRecord* r = instance.record;
            r->dispatcher(r, SE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, m_sample_rate);
            r->dispatcher(r, SE_OP_SET_BLOCK_SIZE, 0, m_block, nullptr, 0.0f);
        }
        for (Instance& instance : m_instances)
            instance.record->dispatcher(instance.record, SE_OP_OPEN, 0, 0, nullptr, 0.0f);
        for (Instance& instance : m_instances) {
            for (size_t index = 0; index < instance.pins.size(); ++index) {
                const Pin& pin = instance.pins[index];
                if (pin.properties.direction == DR_OUT) continue;
                HostEvent event = {0,
                                   EV_PIN_STATUS,
                                   pin.streaming ? ST_STREAMING : ST_CHANGED_ONCE,
                                   0,
                                   reinterpret_cast<void*>(static_cast<intptr_t>(index)),
                                   nullptr};
                instance.record->event_function(instance.record->object, &event);
            }
        }
        ProcessBlock();
    }

    // One block of every instance, through its current process function.
    void ProcessBlock() {
        for (Instance& instance : m_instances) instance.record->process_function(instance.record->object, 0, m_block);
    }

    bool AnyAskedToSleep() const { return m_answers.sleep_requests > 0; }

    // The timed loop: one block per iteration.
    void Time(benchmark::State& state) {
        m_answers.sleep_requests = 0;
        for (auto _ : state) {
            ProcessBlock();
            benchmark::ClobberMemory();
        }
        // A module that asked to sleep would no longer be called by a host.
        if (AnyAskedToSleep()) state.SkipWithError("an instance asked to sleep: a host would not call it");
        CountSamples(state, static_cast<double>(m_block) * static_cast<double>(m_instances.size()));
    }

private:
    struct Pin {
        SEPinProperties properties;
        std::vector<float> buffer;
        bool streaming = false;
    };
    struct Instance {
        HostRecord* record = nullptr;
        std::vector<Pin> pins;
    };

    Pin& PinOf(int instance, int32_t pin) {
        Instance& i = m_instances.at(static_cast<size_t>(instance));
        return i.pins.at(static_cast<size_t>(pin));
    }
    // A list pin's variable is 16 bits, an integer pin's 32.
    static void WriteInt(const SEPinProperties& properties, int32_t value) {
        if (properties.datatype == DT_ENUM) {
            const int16_t v = static_cast<int16_t>(value);
            std::memcpy(properties.value_address, &v, sizeof v);
        } else {
            std::memcpy(properties.value_address, &value, sizeof value);
        }
    }

    static PluginRig*& Active() {
        static PluginRig* active = nullptr;
        return active;
    }

    static int32_t SE_CALL Answer(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                  float opt) {
        PluginRig* rig = Active();
        return rig != nullptr ? rig->m_answers.Answer(record, opcode, index, value, ptr, opt) : 0;
    }

    [[noreturn]] static void Die(const char* error) {
        std::fprintf(stderr, "bench rig: %s\n", error);
        std::exit(1);
    }

    float m_sample_rate;
    int32_t m_block;
    std::vector<Instance> m_instances;
    sephost::CallbackAnswers m_answers;  // the sample clock and every buffer's clock stay at 0
};

}  // namespace benchrig
