// A scripted host for unit tests of the frame and of the module classes: it
// answers the callback opcodes from fields the test sets, and records every
// call. One mock is active at a time (the callback is a plain function).
#pragma once

#include <cstdint>
#include <vector>

#include "../../se_sdk2/SEHostInterface.h"

class MockHost {
public:
    struct Call {
        HostRecord* record;
        int32_t opcode;
        int32_t index;
        int32_t value;
        uintptr_t ptr;
        float opt;
    };

    MockHost() { Active() = this; }
    ~MockHost() {
        if (Active() == this) Active() = nullptr;
    }
    MockHost(const MockHost&) = delete;
    MockHost& operator=(const MockHost&) = delete;

    static seaudioMasterFn Callback() { return &Answer; }

    // Answers.
    int32_t pin_count = 0;
    uint32_t sample_clock = 0;
    uint32_t buffer_clock = 0;        // the same for every pin
    std::vector<float*> pin_buffers;  // SE_CB_PIN_BUFFER by pin index (null past the end)
    std::vector<HostRecord*> clones;  // SE_CB_FIRST_CLONE / SE_CB_NEXT_CLONE walk
    int32_t is_connected = 0;

    // Records.
    std::vector<Call> calls;
    std::vector<HostEvent> events;  // copies made in SE_CB_ADD_EVENT

    int Count(int32_t opcode) const {
        int n = 0;
        for (const Call& c : calls) n += c.opcode == opcode ? 1 : 0;
        return n;
    }

    std::vector<Call> CallsOf(int32_t opcode) const {
        std::vector<Call> out;
        for (const Call& c : calls)
            if (c.opcode == opcode) out.push_back(c);
        return out;
    }

private:
    static MockHost*& Active() {
        static MockHost* active = nullptr;
        return active;
    }

    static int32_t SE_CALL Answer(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                  float opt) {
        MockHost* host = Active();
        if (host == nullptr) return 0;
        host->calls.push_back({record, opcode, index, value, reinterpret_cast<uintptr_t>(ptr), opt});
        switch (opcode) {
        case SE_CB_PIN_COUNT:
            return host->pin_count;
        case SE_CB_SAMPLE_CLOCK:
            return static_cast<int32_t>(host->sample_clock);
        case SE_CB_BUFFER_CLOCK:
            return static_cast<int32_t>(host->buffer_clock);
        case SE_CB_IS_CONNECTED:
            return host->is_connected;
        case SE_CB_PIN_BUFFER:
            if (index >= 0 && static_cast<size_t>(index) < host->pin_buffers.size())
                return static_cast<int32_t>(reinterpret_cast<intptr_t>(host->pin_buffers[index]));
            return 0;
        case SE_CB_ADD_EVENT:
            host->events.push_back(*static_cast<HostEvent*>(ptr));
            return 0;
        case SE_CB_FIRST_CLONE:
            *static_cast<HostRecord**>(ptr) = host->clones.empty() ? nullptr : host->clones.front();
            return 0;
        case SE_CB_NEXT_CLONE: {
            HostRecord* next = nullptr;
            for (size_t i = 0; i + 1 < host->clones.size(); ++i)
                if (host->clones[i] == record) next = host->clones[i + 1];
            *static_cast<HostRecord**>(ptr) = next;
            return 0;
        }
        default:
            return 0;
        }
    }
};
