// Drives one tessarn::Module through the scripted mock host: pin buffers with
// a start offset, a sample clock that advances with each call, status events
// stamped with the clock, and process calls through the record as a host
// makes them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "../support/MockHost.h"
#include "Module.h"

namespace tessarn_test {

using tessarn::Module;

class Rig {
public:
    static constexpr int32_t kStart = 3;       // first sample of each call within the buffers
    static constexpr int32_t kCapacity = 256;  // samples per buffer

    explicit Rig(float sample_rate = 8.0f, int32_t block_size = 16) {
        host.pin_count = tessarn::PIN_COUNT;
        module.SetSampleRate(sample_rate);
        module.SetBlockSize(block_size);
        module.Open();
        for (std::vector<float>& buffer : buffers) buffer.assign(kCapacity, 0.0f);
        Bind(module, buffers);
        // Plain envelope: no LFO, linear law at level 1, "FullAttack" off.
        Set(tessarn::PIN_LEVEL, 1.0f);
        module.m_full_attack = 0;
        module.m_no_release = 0;
        module.m_lfo_align = 1;
        module.m_dbmode = 0;
    }

    // Points each of the module's buffer pins at its buffer in `b`.
    static void Bind(Module& m, std::array<std::vector<float>, tessarn::PIN_COUNT>& b) {
        float** bound[] = {&m.m_gate,    &m.m_attack,     &m.m_hold,        &m.m_decay,      &m.m_sustain,
                           &m.m_release, &m.m_level,      &m.m_attack_form, &m.m_decay_form, &m.m_release_form,
                           nullptr,      nullptr,         &m.m_lfo_amt,     &m.m_lfo_freq,   &m.m_lfo_phase,
                           nullptr,      &m.m_signal_out, nullptr};
        for (int32_t pin = 0; pin < tessarn::PIN_COUNT; ++pin)
            if (bound[pin] != nullptr) *bound[pin] = b[pin].data();
    }

    // A value held from the next call on.
    void Set(int32_t pin, float value) { stream[pin].assign(1, value); }
    // Per-sample values for the next call; the last one holds after it.
    void Stream(int32_t pin, std::vector<float> samples) { stream[pin] = std::move(samples); }

    // One process call of n samples through the record's process function.
    std::vector<float> Run(int32_t n) {
        for (int32_t pin = 0; pin < tessarn::PIN_COUNT; ++pin) {
            std::vector<float>& values = stream[pin];
            if (values.empty()) continue;
            for (int32_t j = 0; j < n; ++j)
                buffers[pin][kStart + j] = values[j < int32_t(values.size()) ? j : values.size() - 1];
            values.assign(1, values.back());
        }
        host.sample_clock = clock;
        host.buffer_clock = clock - kStart;
        HostRecord* record = module.GetHostRecord();
        record->process_function(record->object, kStart, n);
        clock += n;
        const float* out = &buffers[tessarn::PIN_SIGNAL_OUT][kStart];
        return std::vector<float>(out, out + n);
    }

    // Delivers a status change of a pin at the current clock.
    void Status(int32_t pin, int32_t status) {
        host.sample_clock = clock;
        host.buffer_clock = clock - kStart;
        HostEvent event = {clock, EV_PIN_STATUS, status, 0, reinterpret_cast<void*>(intptr_t(pin)), nullptr};
        module.HandleEvent(&event);
    }

    MockHost host;
    Module module{MockHost::Callback(), nullptr};
    std::array<std::vector<float>, tessarn::PIN_COUNT> buffers;
    std::array<std::vector<float>, tessarn::PIN_COUNT> stream;
    uint32_t clock = 1000;
};

}  // namespace tessarn_test
