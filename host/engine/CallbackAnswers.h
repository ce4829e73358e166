// The host callback answered from plain fields, for a host that drives one
// module and has no patch behind it: the check's minimal host, the tests'
// scripted host and the benchmark rig each set the answers they need (and
// the odd ones a test asks for) instead of writing their own switch over the
// opcodes. The engine answers from its patch, through its monitor
// (Callbacks.cpp). Header only: it needs nothing but the boundary header.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "../../se_sdk2/SEHostInterface.h"

namespace sephost {

class CallbackAnswers {
public:
    struct Call {
        HostRecord* record;
        int32_t opcode;
        int32_t index;
        int32_t value;
        uintptr_t ptr;
        float opt;
        uint32_t clock;  // the sample clock answered at the time
    };

    // Answers.
    int32_t pin_count = 0;
    uint32_t sample_clock = 0;
    uint32_t buffer_clock = 0;        // the same for every pin
    std::vector<float*> pin_buffers;  // SE_CB_PIN_BUFFER by pin index (null past the end)
    std::vector<HostRecord*> clones;  // SE_CB_FIRST_CLONE / SE_CB_NEXT_CLONE walk, in order
    int32_t is_connected = 0;

    // Records. Off, nothing grows while a module runs (a timed loop).
    bool record = true;
    std::vector<Call> calls;
    std::vector<HostEvent> events;  // copies made in SE_CB_ADD_EVENT
    int32_t sleep_requests = 0;     // counted whether recorded or not

    int32_t Answer(HostRecord* from, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
        if (record) calls.push_back({from, opcode, index, value, reinterpret_cast<uintptr_t>(ptr), opt, sample_clock});
        switch (opcode) {
        case SE_CB_PIN_COUNT:
            return pin_count;
        case SE_CB_SAMPLE_CLOCK:
            return static_cast<int32_t>(sample_clock);
        case SE_CB_BUFFER_CLOCK:
            return static_cast<int32_t>(buffer_clock);
        case SE_CB_IS_CONNECTED:
            return is_connected;
        case SE_CB_PIN_BUFFER:
            if (index < 0 || static_cast<size_t>(index) >= pin_buffers.size()) return 0;
            return static_cast<int32_t>(reinterpret_cast<intptr_t>(pin_buffers[static_cast<size_t>(index)]));
        case SE_CB_ADD_EVENT:
            if (record && ptr != nullptr) RecordEvent(ptr);
            return 0;
        case SE_CB_SLEEP:
            ++sleep_requests;
            return 0;
        case SE_CB_FIRST_CLONE:
        case SE_CB_NEXT_CLONE:
            if (ptr != nullptr) {
                HostRecord* clone = opcode == SE_CB_FIRST_CLONE ? First() : NextAfter(from);
                std::memcpy(ptr, &clone, sizeof clone);
            }
            return 0;
        default:
            return 0;  // statuses, sends and process changes need no answer
        }
    }

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
    // Out of line: inlined into a caller whose pointer argument points at a
    // smaller object for other opcodes (a clone answer), GCC's bounds warning
    // cannot tell the opcodes' paths apart.
    [[gnu::noinline]] void RecordEvent(const void* ptr) {
        HostEvent event;
        std::memcpy(&event, ptr, sizeof event);
        events.push_back(event);
    }
    HostRecord* First() const { return clones.empty() ? nullptr : clones.front(); }
    HostRecord* NextAfter(HostRecord* from) const {
        for (size_t k = 0; k + 1 < clones.size(); ++k)
            if (clones[k] == from) return clones[k + 1];
        return nullptr;
    }
};

}  // namespace sephost
