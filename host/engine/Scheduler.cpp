// The scheduler: host blocks, each instance's process calls cut at its event
// times, events delivered at their own clocks, sleep and wake, and every
// finished block of every output handed to the sinks and the monitor.
#include <algorithm>
#include <cstring>

#include "EngineCore.h"

namespace sephost {

void Engine::Impl::QueueStatus(Instance* inst, int32_t pin, int32_t status, uint32_t at, EventAction action,
                               int32_t int_value) {
    HostEvent event;
    std::memset(&event, 0, sizeof event);
    event.time_stamp = at;
    event.kind = EV_PIN_STATUS;
    event.value_a = status;
    event.pointer = reinterpret_cast<void*>(static_cast<intptr_t>(pin));
    inst->queue.Push(event, action, int_value);
}

void Engine::Impl::QueueFromModule(Instance* inst, const HostEvent& event) {
    if (!monitor.QueueHasRoom(inst->number, inst->queue.Size(), kMaxQueuedEvents)) return;
    inst->queue.Push(event);
}

bool Engine::Impl::Run(uint32_t samples, std::string* error) {
    if (!opened || closed) {
        if (error != nullptr) *error = closed ? "the patch is closed" : "the patch is not open";
        return false;
    }
    const size_t breaches_before = monitor.Breaches().size();
    if (!started) Start();
    uint32_t remaining = samples;
    while (remaining > 0 && !monitor.Stopped()) {
        const int32_t n =
            static_cast<int32_t>(std::min<uint32_t>(remaining, static_cast<uint32_t>(options.block_size)));
        RunBlock(n);
        remaining -= static_cast<uint32_t>(n);
    }
    if (monitor.Stopped()) {
        if (error != nullptr) *error = monitor.StopReason();
        return false;
    }
    if (monitor.Breaches().size() > breaches_before) {
        if (error != nullptr) *error = monitor.Breaches()[breaches_before];
        return false;
    }
    return true;
}

// The outputs the sinks will see, and the starting status of every input, in
// pin order, ahead of anything else due at the first clock.
void Engine::Impl::Start() {
    started = true;
    for (const auto& inst : instances)
        for (int32_t i = 0; i < static_cast<int32_t>(inst->pins.size()); ++i)
            if (inst->pins[static_cast<size_t>(i)].description.direction == DR_OUT &&
                inst->pins[static_cast<size_t>(i)].description.datatype == DT_FSAMPLE)
                outputs.push_back({inst->number, i});
    std::string why;
    if (options.record_outputs && !history.Begin(outputs, &why)) monitor.Stop(why);
    for (OutputSink* sink : sinks)
        if (!sink->Begin(outputs, &why)) monitor.Stop(why);
    if (!options.announce_initial_status) return;
    for (auto& inst : instances) {
        const std::vector<PendingEvent> rest = inst->queue.TakeAll();
        for (int32_t i = 0; i < static_cast<int32_t>(inst->pins.size()); ++i)
            if (inst->pins[static_cast<size_t>(i)].description.direction != DR_OUT)
                QueueStatus(inst.get(), i, ST_CHANGED_ONCE, clock, EventAction::kAnnounce);
        for (const PendingEvent& p : rest) inst->queue.Push(p.event, p.action, p.int_value);
    }
}

void Engine::Impl::RunBlock(int32_t n) {
    const uint32_t block_start = clock;
    block_clock = block_start;
    for (int number : run_order) {
        if (monitor.Stopped()) return;
        RunInstance(Get(number), block_start, n);
    }
    EmitOutputs(block_start, n);
    clock = block_start + static_cast<uint32_t>(n);
    now = clock;
}

// One instance through one host block: events at their clocks, process
// calls cut at event times, none while the instance sleeps.
void Engine::Impl::RunInstance(Instance* inst, uint32_t block_start, int32_t n) {
    // Only the instance reads its driven inputs: one that sleeps through the
    // whole block (no event due in it) needs them not filled.
    const bool event_due =
        !inst->queue.Empty() && static_cast<int32_t>(inst->queue.Next().event.time_stamp - block_start) < n;
    if (!inst->sleeping || event_due) FillDrivenInputs(inst, block_start, n);
    int32_t pos = 0;
    while (inst->record != nullptr && !monitor.Stopped()) {
        if (!DeliverDue(inst, block_start, pos, n) || pos >= n) return;
        int32_t end = n;
        if (!inst->queue.Empty()) {
            const uint32_t next = inst->queue.Next().event.time_stamp;
            if (next - block_start < static_cast<uint32_t>(n)) end = static_cast<int32_t>(next - block_start);
        }
        if (!inst->sleeping && inst->process != nullptr) {
            now = block_start + static_cast<uint32_t>(pos);
            if (options.record_process_calls) {
                if (process_call_records++ >= options.process_call_limit) {
                    monitor.Stop("the host keeps at most " + std::to_string(options.process_call_limit) +
                                 " process call records; the run was stopped at clock " + std::to_string(now));
                    return;
                }
                inst->calls.push_back({now, pos, end - pos});
            }
            CallProcess(inst, pos, end - pos, options);
            monitor.SawProcess(inst->number, now, pos, end - pos);
        }
        pos = end;
    }
}

// Due events, also those stamped inside a call that already covered their
// clock: right after that call, at their stamp. An event at the next
// block's first clock waits for that block, so that it sees its buffers.
// False once the instance is gone.
bool Engine::Impl::DeliverDue(Instance* inst, uint32_t block_start, int32_t pos, int32_t n) {
    const uint32_t here = block_start + static_cast<uint32_t>(pos);
    const uint32_t block_end = block_start + static_cast<uint32_t>(n);
    int32_t delivered = 0;
    while (!inst->queue.Empty() && inst->queue.Next().event.time_stamp <= here &&
           inst->queue.Next().event.time_stamp < block_end) {
        // A module that answers each event with another one at the same
        // clock would hold the host at that clock for ever.
        if (!monitor.EventsAtOneClockWithin(inst->number, ++delivered, kMaxEventsAtOneClock,
                                            inst->queue.Next().event.time_stamp)) {
            while (!inst->queue.Empty() && inst->queue.Next().event.time_stamp <= here) inst->queue.Pop();
            break;
        }
        PendingEvent pending = inst->queue.Pop();
        Deliver(inst, pending);
        if (inst->record == nullptr) return false;
    }
    return true;
}

void Engine::Impl::Deliver(Instance* inst, PendingEvent& p) {
    if (inst->record == nullptr) return;
    now = p.event.time_stamp;
    if (p.event.kind == EV_PIN_STATUS) {
        const int32_t index = static_cast<int32_t>(reinterpret_cast<intptr_t>(p.event.pointer));
        if (index >= 0 && static_cast<size_t>(index) < inst->pins.size()) {
            Pin& pin = inst->pins[static_cast<size_t>(index)];
            if (p.action == EventAction::kWriteIntThenDeliver) {
                pin.value = p.int_value;
                WriteVariable(inst, index);
            } else if (p.action == EventAction::kAnnounce) {
                // A streamed input, or one fed by a streaming output, starts
                // streaming; every other one has its first value.
                bool streaming = pin.streamed_from_start;
                if (pin.source_instance >= 0) {
                    const Pin* source = GetPin(pin.source_instance, pin.source_pin);
                    streaming = source != nullptr && source->status_at_first_clock == ST_STREAMING;
                }
                p.event.value_a = streaming ? ST_STREAMING : ST_CHANGED_ONCE;
            }
            pin.status = p.event.value_a;
        }
        // A status change wakes a sleeping instance from this clock on.
        inst->sleeping = false;
    }
    HostEvent copy = p.event;
    CallEvent(inst, &copy);
}

void Engine::Impl::EmitOutputs(uint32_t block_start, int32_t n) {
    std::string why;
    for (size_t k = 0; k < outputs.size(); ++k) {
        const float* samples = GetPin(outputs[k].instance, outputs[k].pin)->buffer.data();
        monitor.SawOutputBlock(outputs[k], block_start, samples, n);
        if (options.record_outputs && !history.Write(k, block_start, samples, n, &why)) monitor.Stop(why);
        for (OutputSink* sink : sinks)
            if (!sink->Write(k, block_start, samples, n, &why)) monitor.Stop(why);
    }
    for (OutputSink* sink : sinks)
        if (!sink->EndBlock(block_start, n, &why)) monitor.Stop(why);
}

}  // namespace sephost
