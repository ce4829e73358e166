// One oscillator instance on the scripted mock host: pins bound to buffers
// owned by the rig, events delivered through the frame's HandleEvent at the
// mock's sample clock, blocks run through the record's process function as
// a host would call it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "MockHost.h"
#include "Module.h"
#include "UlvoVoiceList.h"

class UlvoRig {
public:
    explicit UlvoRig(float sample_rate = 44100.0f, int32_t block_size = 1024) : m_block(block_size) {
        host.pin_count = ulvo::PIN_COUNT;
        module = std::make_unique<ulvo::Module>(MockHost::Callback(), nullptr);
        module->SetSampleRate(sample_rate);
        module->SetBlockSize(block_size);
        host.clones = {module->GetHostRecord()};
        module->Open();
        for (auto& buffer : buffers) buffer.assign(block_size, 0.0f);
        Bind(*module, buffers);
        module->m_cpmode = 1;
        module->m_cfmode = 1;
        module->m_poly = 8;
        Set(ulvo::PIN_GATE, 1.0f);
    }

    static void Bind(ulvo::Module& m, std::vector<float> (&b)[ulvo::PIN_COUNT]) {
        m.m_fc = b[ulvo::PIN_FC].data();
        m.m_fm1 = b[ulvo::PIN_FM1].data();
        m.m_n = b[ulvo::PIN_N].data();
        m.m_a = b[ulvo::PIN_A].data();
        m.m_gate = b[ulvo::PIN_GATE].data();
        m.m_detune = b[ulvo::PIN_DETUNE].data();
        m.m_sync = b[ulvo::PIN_SYNC].data();
        m.m_wave = b[ulvo::PIN_WAVE].data();
        m.m_combfreq = b[ulvo::PIN_COMBFREQ].data();
        m.m_combphase = b[ulvo::PIN_COMBPHASE].data();
        m.m_fund = b[ulvo::PIN_FUND].data();
        m.m_rotate = b[ulvo::PIN_ROTATE].data();
        m.m_incr_in = b[ulvo::PIN_INCR].data();
        m.m_outputl = b[ulvo::PIN_OUTPUTL].data();
        m.m_outputr = b[ulvo::PIN_OUTPUTR].data();
    }

    // The whole buffer of an input holds `value`.
    void Set(int32_t pin, float value) { buffers[pin].assign(m_block, value); }

    // Delivers a status change of `pin` at sample `offset` of the buffers.
    void Status(int32_t pin, int32_t status, uint32_t offset = 0) {
        host.sample_clock = host.buffer_clock + offset;
        HostEvent e = {};
        e.time_stamp = host.sample_clock;
        e.kind = EV_PIN_STATUS;
        e.value_a = status;
        e.pointer = reinterpret_cast<void*>(static_cast<intptr_t>(pin));
        module->GetHostRecord()->event_function(module.get(), &e);
    }

    // Sets a value and announces it, as a host does for a changed input.
    void Change(int32_t pin, float value, uint32_t offset = 0) {
        Set(pin, value);
        Status(pin, ST_CHANGED_ONCE, offset);
    }

    // One call of whatever process function is installed.
    void Run(int32_t start, int32_t count) {
        host.sample_clock = host.buffer_clock + static_cast<uint32_t>(start);
        HostRecord* record = module->GetHostRecord();
        record->process_function(record->object, start, count);
    }

    float Left(int32_t i) const { return buffers[ulvo::PIN_OUTPUTL][i]; }
    float Right(int32_t i) const { return buffers[ulvo::PIN_OUTPUTR][i]; }

    MockHost host;
    std::unique_ptr<ulvo::Module> module;
    std::vector<float> buffers[ulvo::PIN_COUNT];

private:
    int32_t m_block;
};
