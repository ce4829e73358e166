// The host callback: one small handler per opcode, found in a table that
// reads like the callback list of the boundary header. Handlers that answer
// a value never allocate; a host failure while answering or recording stops
// the run instead of handing the module a wrong answer.
#include <cstring>
#include <new>

#include "EngineCore.h"

namespace sephost {

namespace {

struct Call {
    Engine::Impl& engine;
    Instance* inst;
    HostRecord* record;
    int32_t opcode;
    int32_t index;
    int32_t value;
    void* ptr;
};

Pin* CheckedPin(Call& c, const char* what) {
    if (!c.engine.monitor.PinInRange(c.inst->number, c.index, c.inst->pins.size(), what)) return nullptr;
    return &c.inst->pins[static_cast<size_t>(c.index)];
}

int32_t PinStatus(Call& c) {
    Pin* pin = CheckedPin(c, "pin status");
    if (pin == nullptr) return 0;
    const uint32_t stamp = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(c.ptr));
    if (!c.engine.monitor.StatusStampNotPast(c.index, stamp, c.engine.now)) return 0;
    pin->status = c.value;
    if (stamp == 0) pin->status_at_first_clock = c.value;
    // The status takes effect at its stamp for everything the pin feeds.
    HostEvent event;
    std::memset(&event, 0, sizeof event);
    event.time_stamp = stamp;
    event.kind = EV_PIN_STATUS;
    event.value_a = c.value;
    for (const auto& listener : pin->listeners) {
        Instance* to = c.engine.Get(listener.first);
        if (to == nullptr || to->record == nullptr) continue;
        event.pointer = reinterpret_cast<void*>(static_cast<intptr_t>(listener.second));
        c.engine.QueueFromModule(to, event);
    }
    return 0;
}

int32_t IsConnected(Call& c) {
    const Pin* pin = CheckedPin(c, "is-connected");
    return pin != nullptr && (pin->source_instance >= 0 || !pin->listeners.empty()) ? 1 : 0;
}

int32_t SampleClock(Call& c) { return static_cast<int32_t>(c.engine.now); }

int32_t PinSend(Call& c) {
    CheckedPin(c, "pin send");
    return 0;
}

int32_t PinBuffer(Call& c) {
    if (CheckedPin(c, "pin buffer") == nullptr) return 0;
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(c.engine.BufferOf(c.inst, c.index)));
}

int32_t BufferClock(Call& c) {
    if (CheckedPin(c, "buffer clock") == nullptr) return 0;
    return static_cast<int32_t>(c.engine.block_clock);
}

int32_t Sleep(Call& c) {
    c.inst->sleeping = true;
    return 0;
}

// FIRST: the first living clone; NEXT: the next living clone after the one
// asked through, in creation order. Asked while the clones are still being
// made, there is no walk yet: null.
int32_t Clone(Call& c) {
    if (c.ptr == nullptr) return 0;
    HostRecord* found = nullptr;
    const auto& groups = c.engine.groups;
    if (static_cast<size_t>(c.inst->group) < groups.size()) {
        bool passed = c.opcode == SE_CB_FIRST_CLONE;
        for (int member : groups[static_cast<size_t>(c.inst->group)]) {
            Instance* clone = c.engine.Get(member);
            if (passed && clone->record != nullptr) {
                found = clone->record;
                break;
            }
            if (clone == c.inst) passed = true;
        }
    }
    std::memcpy(c.ptr, &found, sizeof found);
    return 0;
}

int32_t PinCount(Call& c) { return static_cast<int32_t>(c.inst->pins.size()); }

int32_t AddEvent(Call& c) {
    if (c.ptr == nullptr) return 0;
    HostEvent event;
    std::memcpy(&event, c.ptr, sizeof event);
    if (!c.engine.monitor.EventStampNotPast(event.kind, event.time_stamp, c.engine.now)) return 0;
    c.engine.QueueFromModule(c.inst, event);
    return 0;
}

int32_t ProcessChanged(Call& c) {
    if (c.inst->record == nullptr) return 0;  // being made or closed
    const SEProcessFn next = c.inst->record->process_function;
    if (!c.engine.monitor.ProcessFunctionSet(c.inst->number, reinterpret_cast<const void*>(next))) return 0;
    c.inst->process = next;
    return 0;
}

struct Handler {
    int32_t opcode;
    const char* name;
    int32_t (*answer)(Call&);
};

constexpr Handler kHandlers[] = {
    {SE_CB_PIN_STATUS, "SE_CB_PIN_STATUS", &PinStatus},
    {SE_CB_IS_CONNECTED, "SE_CB_IS_CONNECTED", &IsConnected},
    {SE_CB_SAMPLE_CLOCK, "SE_CB_SAMPLE_CLOCK", &SampleClock},
    {SE_CB_PIN_SEND, "SE_CB_PIN_SEND", &PinSend},
    {SE_CB_PIN_BUFFER, "SE_CB_PIN_BUFFER", &PinBuffer},
    {SE_CB_BUFFER_CLOCK, "SE_CB_BUFFER_CLOCK", &BufferClock},
    {SE_CB_SLEEP, "SE_CB_SLEEP", &Sleep},
    {SE_CB_FIRST_CLONE, "SE_CB_FIRST_CLONE", &Clone},
    {SE_CB_NEXT_CLONE, "SE_CB_NEXT_CLONE", &Clone},
    {SE_CB_PIN_COUNT, "SE_CB_PIN_COUNT", &PinCount},
    {SE_CB_ADD_EVENT, "SE_CB_ADD_EVENT", &AddEvent},
    {SE_CB_PROCESS_CHANGED, "SE_CB_PROCESS_CHANGED", &ProcessChanged},
};

const Handler* Find(int32_t opcode) {
    for (const Handler& handler : kHandlers)
        if (handler.opcode == opcode) return &handler;
    return nullptr;
}

}  // namespace

const char* CallbackName(int32_t opcode) {
    const Handler* handler = Find(opcode);
    return handler != nullptr ? handler->name : nullptr;
}

int32_t SE_CALL HostCallback(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float) {
    Instance* inst = FindRecord(record);
    // A constructor may call back before makeModule has handed the record
    // out: answered for the instance being made, the record left unread.
    if (inst == nullptr && CallingInstance() != nullptr && CallingInstance()->making) inst = CallingInstance();
    if (inst == nullptr) {
        // Not a record of ours: nothing behind it may be read.
        Instance* caller = CallingInstance();
        if (caller != nullptr) {
            try {
                caller->impl->monitor.UnknownRecord(caller->number, record, opcode);
            } catch (...) {
                caller->impl->monitor.StopOutOfMemory();
            }
        }
        return 0;
    }
    Engine::Impl& engine = *inst->impl;
    Call call{engine, inst, record, opcode, index, value, ptr};
    const Handler* handler = Find(opcode);
    int32_t result = 0;  // unknown opcodes answer 0
    // No exception may travel back into module code.
    try {
        if (handler != nullptr) result = handler->answer(call);
        engine.monitor.SawCallback(
            {inst->number, engine.now, opcode, index, value, reinterpret_cast<uintptr_t>(ptr), result});
    } catch (...) {
        engine.monitor.StopOutOfMemory();
    }
    return result;
}

}  // namespace sephost
