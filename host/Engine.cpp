// The engine that runs a patch of module instances: it owns the pins and
// their buffers, answers the host callback, queues events and cuts host
// blocks so that every event reaches its instance at its own sample clock.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>

#include "SepHost.h"

namespace sephost {

namespace {

const char* CallbackName(int32_t opcode) {
    switch (opcode) {
    case SE_CB_PIN_STATUS:
        return "SE_CB_PIN_STATUS";
    case SE_CB_IS_CONNECTED:
        return "SE_CB_IS_CONNECTED";
    case SE_CB_SAMPLE_CLOCK:
        return "SE_CB_SAMPLE_CLOCK";
    case SE_CB_PIN_SEND:
        return "SE_CB_PIN_SEND";
    case SE_CB_PIN_BUFFER:
        return "SE_CB_PIN_BUFFER";
    case SE_CB_BUFFER_CLOCK:
        return "SE_CB_BUFFER_CLOCK";
    case SE_CB_SLEEP:
        return "SE_CB_SLEEP";
    case SE_CB_FIRST_CLONE:
        return "SE_CB_FIRST_CLONE";
    case SE_CB_NEXT_CLONE:
        return "SE_CB_NEXT_CLONE";
    case SE_CB_PIN_COUNT:
        return "SE_CB_PIN_COUNT";
    case SE_CB_ADD_EVENT:
        return "SE_CB_ADD_EVENT";
    case SE_CB_PROCESS_CHANGED:
        return "SE_CB_PROCESS_CHANGED";
    default:
        return nullptr;
    }
}

// Float to the integer of an enum or int pin: rounded, saturated, NaN to 0.
int32_t SaturatingInt(float value) {
    if (!(value == value)) return 0;
    if (value >= 2147483520.0f) return INT32_MAX;
    if (value <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(std::lround(value));
}

bool IsUiOnly(int32_t flags) { return (flags & IO_UI_COMMUNICATION) != 0 && (flags & IO_UI_DSP_DUAL) == 0; }

// Enumeration of declarations stops here even if a module never refuses.
constexpr int32_t kMaxDeclarations = 4096;
// Events delivered to one instance at one clock before the host gives up.
constexpr int32_t kMaxEventsAtOneClock = 100000;

}  // namespace

std::string FormatCallback(const CallbackRecord& r) {
    const char* name = CallbackName(r.opcode);
    std::string opcode = name != nullptr ? name : "opcode " + std::to_string(r.opcode);
    char line[256];
    std::snprintf(line, sizeof line, "clock %u  instance %d  %s  index %d  value %d  ptr %lu  -> %d",
                  static_cast<unsigned>(r.clock), r.instance, opcode.c_str(), static_cast<int>(r.index),
                  static_cast<int>(r.value), static_cast<unsigned long>(r.ptr), static_cast<int>(r.result));
    return line;
}

struct Engine::Impl {
    // What the host does when a queued event falls due.
    enum Action { kDeliver, kWriteIntThenDeliver, kAnnounce };

    struct Pending {
        HostEvent event;
        uint64_t seq;
        Action action;
        int32_t int_value;
    };

    // A driven value of an unconnected sample input from clock `at` on.
    struct Segment {
        uint32_t at;
        float value;
        std::vector<float> samples;  // streamed when not empty
    };

    struct Pin {
        PinDescription description;
        std::vector<float> buffer;  // DT_FSAMPLE: one block, reused every block
        int32_t value = 0;          // DT_ENUM / DT_INT
        int32_t status = ST_STILL;
        int32_t status_at_first_clock = -1;  // output: status sent stamped at the first clock
        int source_instance = -1;
        int32_t source_pin = -1;
        std::vector<std::pair<int, int32_t>> listeners;
        std::vector<Segment> segments;  // sorted by `at`
        bool streamed_from_start = false;
        std::vector<float> history;  // outputs: every sample the buffer held
    };

    struct Instance {
        Impl* impl = nullptr;
        int number = -1;
        int group = -1;
        HostRecord* record = nullptr;  // null once closed
        SEProcessFn process = nullptr;
        std::vector<PinDescription> declarations;
        std::vector<Pin> pins;
        std::vector<Pending> queue;  // sorted by (time stamp, seq)
        std::vector<ProcessCall> calls;
        bool opened = false;
        bool sleeping = false;
    };

    explicit Impl(EngineOptions o) : options(o) {
        if (options.block_size < 1) options.block_size = 1;
    }

    EngineOptions options;
    std::vector<std::unique_ptr<Instance>> instances;
    std::vector<std::vector<int>> groups;
    std::vector<int> run_order;
    bool opened = false;
    bool closed = false;
    bool started = false;  // the first Run has begun
    uint32_t clock = 0;    // first clock of the next block
    uint32_t block_clock = 0;
    uint32_t now = 0;  // what SE_CB_SAMPLE_CLOCK answers
    uint64_t next_seq = 0;
    std::vector<CallbackRecord> callbacks;
    std::vector<std::string> breaches;

    // Records whose callbacks are answered: a record that does not lead to
    // one of these contexts gets 0.
    static std::set<const Instance*>& Living() {
        static std::set<const Instance*> living;
        return living;
    }

    ~Impl() {
        for (const auto& instance : instances) Living().erase(instance.get());
    }

    Instance* Get(int n) const {
        if (n < 0 || static_cast<size_t>(n) >= instances.size()) return nullptr;
        return instances[n].get();
    }
    Pin* GetPin(int n, int32_t pin) const {
        Instance* inst = Get(n);
        if (inst == nullptr || pin < 0 || static_cast<size_t>(pin) >= inst->pins.size()) return nullptr;
        return &inst->pins[pin];
    }

    void Breach(const std::string& text) { breaches.push_back(text); }

    void Queue(Instance* inst, const HostEvent& event, Action action = kDeliver, int32_t int_value = 0) {
        Pending p{event, next_seq++, action, int_value};
        p.event.next = nullptr;
        auto at = std::upper_bound(inst->queue.begin(), inst->queue.end(), p, [](const Pending& a, const Pending& b) {
            return a.event.time_stamp != b.event.time_stamp ? a.event.time_stamp < b.event.time_stamp : a.seq < b.seq;
        });
        inst->queue.insert(at, p);
    }

    void QueueStatus(Instance* inst, int32_t pin, int32_t status, uint32_t at, Action action = kDeliver,
                     int32_t int_value = 0) {
        HostEvent e;
        std::memset(&e, 0, sizeof e);
        e.time_stamp = at;
        e.kind = EV_PIN_STATUS;
        e.value_a = status;
        e.pointer = reinterpret_cast<void*>(static_cast<intptr_t>(pin));
        Queue(inst, e, action, int_value);
    }

    // Writes what a pin's module variable must hold: its buffer address (a
    // connected input reads its source's buffer) or its integer value.
    void WriteVariable(Instance* inst, int32_t index) {
        Pin& pin = inst->pins[index];
        void* address = const_cast<void*>(pin_value_address[inst->number][index]);
        if (address == nullptr || inst->record == nullptr) return;
        switch (pin.description.datatype) {
        case DT_FSAMPLE: {
            float* buffer = BufferOf(inst, index);
            std::memcpy(address, &buffer, sizeof buffer);
            break;
        }
        case DT_ENUM: {
            const int16_t v = static_cast<int16_t>(std::max<int32_t>(-32768, std::min<int32_t>(32767, pin.value)));
            std::memcpy(address, &v, sizeof v);
            break;
        }
        case DT_INT:
            std::memcpy(address, &pin.value, sizeof pin.value);
            break;
        default:
            break;
        }
    }

    float* BufferOf(Instance* inst, int32_t index) {
        Pin& pin = inst->pins[index];
        if (pin.description.datatype != DT_FSAMPLE) return nullptr;
        if (pin.source_instance >= 0) {
            Pin* source = GetPin(pin.source_instance, pin.source_pin);
            if (source != nullptr && !source->buffer.empty()) return source->buffer.data();
        }
        return pin.buffer.data();
    }

    std::vector<std::vector<const void*>> pin_value_address;

    // Value of a driven sample input at `clock`.
    static float DrivenValue(const Pin& pin, uint32_t at_clock, float fallback) {
        float value = fallback;
        for (const Segment& s : pin.segments) {
            if (s.at > at_clock) break;
            if (s.samples.empty()) {
                value = s.value;
            } else {
                const uint32_t k = std::min<uint32_t>(at_clock - s.at, static_cast<uint32_t>(s.samples.size() - 1));
                value = s.samples[k];
            }
        }
        return value;
    }

    void FillDrivenInputs(Instance* inst, uint32_t block_start, int32_t n) {
        for (Pin& pin : inst->pins) {
            if (pin.description.datatype != DT_FSAMPLE || pin.description.direction == DR_OUT) continue;
            if (pin.source_instance >= 0 || pin.segments.empty()) continue;
            const float fallback = DefaultSampleValue(pin.description.default_text.c_str());
            for (int32_t k = 0; k < n; ++k) pin.buffer[k] = DrivenValue(pin, block_start + k, fallback);
        }
    }

    void Deliver(Instance* inst, Pending& p) {
        if (inst->record == nullptr) return;
        now = p.event.time_stamp;
        if (p.event.kind == EV_PIN_STATUS) {
            const int32_t index = static_cast<int32_t>(reinterpret_cast<intptr_t>(p.event.pointer));
            if (index >= 0 && static_cast<size_t>(index) < inst->pins.size()) {
                Pin& pin = inst->pins[index];
                if (p.action == kWriteIntThenDeliver) {
                    pin.value = p.int_value;
                    WriteVariable(inst, index);
                } else if (p.action == kAnnounce) {
                    // A streamed input, or one fed by a streaming output,
                    // starts streaming; every other one has its first value.
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
        inst->record->event_function(inst->record->object, &copy);
    }

    // One instance through one host block: events at their clocks, process
    // calls cut at event times, none while the instance sleeps.
    void RunInstance(Instance* inst, uint32_t block_start, int32_t n) {
        // Only the instance reads its driven inputs: an instance that sleeps
        // through the whole block (no event due in it) needs them not filled.
        const bool event_due = !inst->queue.empty() && inst->queue.front().event.time_stamp < block_start + n;
        if (!inst->sleeping || event_due) FillDrivenInputs(inst, block_start, n);
        int32_t pos = 0;
        while (inst->record != nullptr) {
            // Due events, also those stamped inside a call that already
            // covered their clock: right after that call, at their stamp.
            // An event at the next block's first clock waits for that block,
            // so that it sees that block's buffers.
            const uint32_t block_end = block_start + static_cast<uint32_t>(n);
            int32_t delivered = 0;
            while (!inst->queue.empty() && inst->queue.front().event.time_stamp <= block_start + pos &&
                   inst->queue.front().event.time_stamp < block_end) {
                // A module that answers each event with another one at the
                // same clock would hold the host at that clock for ever.
                if (++delivered > kMaxEventsAtOneClock) {
                    Breach("more than " + std::to_string(kMaxEventsAtOneClock) + " events for instance " +
                           std::to_string(inst->number) + " at clock " +
                           std::to_string(inst->queue.front().event.time_stamp) + "; the rest were dropped");
                    while (!inst->queue.empty() && inst->queue.front().event.time_stamp <= block_start + pos)
                        inst->queue.erase(inst->queue.begin());
                    break;
                }
                Pending p = inst->queue.front();
                inst->queue.erase(inst->queue.begin());
                Deliver(inst, p);
                if (inst->record == nullptr) return;
            }
            if (pos >= n) break;
            int32_t end = n;
            if (!inst->queue.empty()) {
                const uint32_t next = inst->queue.front().event.time_stamp;
                if (next - block_start < static_cast<uint32_t>(n)) end = static_cast<int32_t>(next - block_start);
            }
            if (!inst->sleeping && inst->process != nullptr) {
                now = block_start + pos;
                inst->calls.push_back({now, pos, end - pos});
                inst->process(inst->record->object, pos, end - pos);
            }
            pos = end;
        }
    }

    int32_t Answer(Instance* inst, HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr);
    static int32_t SE_CALL Callback(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt);
};

int32_t SE_CALL Engine::Impl::Callback(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                       float) {
    // No exception may travel back into module code.
    try {
        if (record == nullptr) return 0;
        auto* inst = static_cast<Instance*>(record->host_reserved);
        if (Living().count(inst) == 0) return 0;
        Impl* impl = inst->impl;
        const int32_t result = impl->Answer(inst, record, opcode, index, value, ptr);
        if (impl->options.record_callbacks)
            impl->callbacks.push_back(
                {inst->number, impl->now, opcode, index, value, reinterpret_cast<uintptr_t>(ptr), result});
        return result;
    } catch (...) {
        return 0;
    }
}

int32_t Engine::Impl::Answer(Instance* inst, HostRecord* record, int32_t opcode, int32_t index, int32_t value,
                             void* ptr) {
    auto pin_checked = [&](const char* what) -> Pin* {
        if (index < 0 || static_cast<size_t>(index) >= inst->pins.size()) {
            Breach(std::string(what) + " on pin " + std::to_string(index) + " out of range (instance " +
                   std::to_string(inst->number) + " has " + std::to_string(inst->pins.size()) + " pins)");
            return nullptr;
        }
        return &inst->pins[index];
    };
    switch (opcode) {
    case SE_CB_PIN_STATUS: {
        Pin* pin = pin_checked("pin status");
        if (pin == nullptr) return 0;
        const uint32_t stamp = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ptr));
        if (stamp < now) {
            Breach("pin status on pin " + std::to_string(index) + " stamped at clock " + std::to_string(stamp) +
                   " before the current clock " + std::to_string(now));
            return 0;
        }
        pin->status = value;
        if (stamp == 0) pin->status_at_first_clock = value;
        // The status takes effect at its stamp for everything the pin feeds.
        for (const auto& listener : pin->listeners) {
            Instance* to = Get(listener.first);
            if (to != nullptr && to->record != nullptr) QueueStatus(to, listener.second, value, stamp);
        }
        return 0;
    }
    case SE_CB_IS_CONNECTED: {
        Pin* pin = pin_checked("is-connected");
        if (pin == nullptr) return 0;
        return pin->source_instance >= 0 || !pin->listeners.empty() ? 1 : 0;
    }
    case SE_CB_SAMPLE_CLOCK:
        return static_cast<int32_t>(now);
    case SE_CB_PIN_SEND:
        pin_checked("pin send");
        return 0;
    case SE_CB_PIN_BUFFER: {
        if (pin_checked("pin buffer") == nullptr) return 0;
        return static_cast<int32_t>(reinterpret_cast<intptr_t>(BufferOf(inst, index)));
    }
    case SE_CB_BUFFER_CLOCK:
        if (pin_checked("buffer clock") == nullptr) return 0;
        return static_cast<int32_t>(block_clock);
    case SE_CB_SLEEP:
        inst->sleeping = true;
        return 0;
    case SE_CB_FIRST_CLONE:
    case SE_CB_NEXT_CLONE: {
        if (ptr == nullptr) return 0;
        HostRecord* found = nullptr;
        // Asked while the clones are still being made: no walk yet.
        static const std::vector<int> kNone;
        const std::vector<int>& group = static_cast<size_t>(inst->group) < groups.size() ? groups[inst->group] : kNone;
        // FIRST: the first living clone; NEXT: the next living clone after
        // the one asked through, in creation order.
        bool passed = opcode == SE_CB_FIRST_CLONE;
        for (int member : group) {
            Instance* clone = Get(member);
            if (passed && clone->record != nullptr) {
                found = clone->record;
                break;
            }
            if (clone == inst) passed = true;
        }
        std::memcpy(ptr, &found, sizeof found);
        return 0;
    }
    case SE_CB_PIN_COUNT:
        return static_cast<int32_t>(inst->pins.size());
    case SE_CB_ADD_EVENT: {
        if (ptr == nullptr) return 0;
        HostEvent event;
        std::memcpy(&event, ptr, sizeof event);
        if (event.time_stamp < now) {
            Breach("event of kind " + std::to_string(event.kind) + " stamped at clock " +
                   std::to_string(event.time_stamp) + " before the current clock " + std::to_string(now));
            return 0;
        }
        Queue(inst, event);
        return 0;
    }
    case SE_CB_PROCESS_CHANGED:
        if (record->process_function == nullptr) {
            Breach("process function of instance " + std::to_string(inst->number) + " changed to null");
            return 0;
        }
        inst->process = record->process_function;
        return 0;
    default:
        return 0;  // unknown opcodes answer 0
    }
}

Engine::Engine(EngineOptions options) : m_impl(new Impl(options)) {}

Engine::~Engine() { Close(); }

int Engine::Place(const Library& library, int voices, std::string* error) {
    Impl& e = *m_impl;
    auto fail = [&](const std::string& text) {
        if (error != nullptr) *error = text;
        return -1;
    };
    if (e.opened || e.closed) return fail("instances are placed before the patch is opened");
    if (voices < 1) return fail("a module needs at least one voice");
    if (library.MakeModule() == nullptr) return fail("the library has no makeModule");

    const int first = static_cast<int>(e.instances.size());
    const int group = static_cast<int>(e.groups.size());
    std::vector<std::unique_ptr<Impl::Instance>> made;
    // Every clone is created before any of them is described or opened.
    for (int v = 0; v < voices; ++v) {
        std::unique_ptr<Impl::Instance> inst(new Impl::Instance());
        inst->impl = &e;
        inst->number = first + v;
        inst->group = group;
        Impl::Living().insert(inst.get());
        HostRecord* record = library.MakeModule()(0, 1, &Impl::Callback, inst.get());
        std::string why;
        if (record == nullptr) {
            why = "makeModule refused to create an instance (returned null)";
        } else if (record->magic != SE_MAGIC) {
            char text[128];
            std::snprintf(text, sizeof text, "the instance record has a wrong magic 0x%08X (expected 0x%08X)",
                          static_cast<unsigned>(record->magic), static_cast<unsigned>(SE_MAGIC));
            why = text;
            record = nullptr;  // not ours to call into: leaked on purpose
        } else if (record->version != SE_RECORD_VERSION) {
            why = "the instance record has version " + std::to_string(record->version) + " (expected 1)";
            record = nullptr;
        }
        if (record == nullptr) {
            Impl::Living().erase(inst.get());
            for (auto& done : made) {
                done->record->dispatcher(done->record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
                Impl::Living().erase(done.get());
            }
            return fail(why);
        }
        inst->record = record;
        inst->process = record->process_function;
        made.push_back(std::move(inst));
    }

    e.groups.push_back({});
    for (auto& inst_ptr : made) {
        Impl::Instance* inst = inst_ptr.get();
        e.groups[group].push_back(inst->number);
        e.instances.push_back(std::move(inst_ptr));
        e.pin_value_address.push_back({});
        // Declarations 0, 1, ... each into a zeroed record, until refused.
        for (int32_t d = 0; d < kMaxDeclarations; ++d) {
            SEPinProperties properties;
            std::memset(&properties, 0, sizeof properties);
            if (inst->record->dispatcher(inst->record, SE_OP_GET_PIN_PROPERTIES, d, 0, &properties, 0.0f) == 0) break;
            PinDescription p;
            p.declaration = d;
            p.direction = properties.direction;
            p.datatype = properties.datatype;
            p.flags = properties.flags;
            p.name = properties.name != nullptr ? properties.name : "";
            p.has_default = properties.default_text != nullptr;
            p.default_text = p.has_default ? properties.default_text : "";
            p.has_choices = properties.choices != nullptr;
            p.choices_text = p.has_choices ? properties.choices : "";
            std::string ignored;
            ParseChoices(properties.choices, &p.choices, &ignored);
            p.has_value_address = properties.value_address != nullptr;
            inst->declarations.push_back(p);
            // A UI-only declaration gets no pin on the audio side.
            if (IsUiOnly(p.flags)) continue;
            Impl::Pin pin;
            pin.description = p;
            if (p.datatype == DT_FSAMPLE) {
                pin.buffer.assign(static_cast<size_t>(e.options.block_size),
                                  p.direction == DR_OUT ? 0.0f : DefaultSampleValue(properties.default_text));
            } else {
                pin.value = DefaultIntegerValue(properties.default_text);
            }
            inst->pins.push_back(std::move(pin));
            e.pin_value_address.back().push_back(properties.value_address);
        }
        for (int32_t i = 0; i < static_cast<int32_t>(inst->pins.size()); ++i) e.WriteVariable(inst, i);
    }
    return first;
}

int Engine::InstanceCount() const { return static_cast<int>(m_impl->instances.size()); }

std::vector<PinDescription> Engine::Declarations(int instance) const {
    Impl::Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->declarations : std::vector<PinDescription>();
}

bool Engine::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    Impl& e = *m_impl;
    auto fail = [&](const std::string& text) {
        if (error != nullptr) *error = text;
        return false;
    };
    if (e.opened) return fail("connections are made before the patch is opened");
    Impl::Pin* out = e.GetPin(from, out_pin);
    Impl::Pin* in = e.GetPin(to, in_pin);
    const std::string names = "instance " + std::to_string(from) + " pin " + std::to_string(out_pin) + " -> instance " +
                              std::to_string(to) + " pin " + std::to_string(in_pin);
    if (out == nullptr || in == nullptr) return fail("no such pin: " + names);
    if (out->description.direction != DR_OUT) return fail("not an output: " + names);
    if (in->description.direction == DR_OUT) return fail("not an input: " + names);
    // Only sample buffers travel along connections; list and int values
    // are the host's to set.
    if (out->description.datatype != DT_FSAMPLE || in->description.datatype != DT_FSAMPLE)
        return fail("only float-sample pins connect: " + names);
    if (in->source_instance >= 0) return fail("the input already has a source: " + names);
    in->source_instance = from;
    in->source_pin = out_pin;
    out->listeners.push_back({to, in_pin});
    e.WriteVariable(e.Get(to), in_pin);
    return true;
}

bool Engine::Open(std::string* error, const std::vector<int>& order) {
    Impl& e = *m_impl;
    auto fail = [&](const std::string& text) {
        if (error != nullptr) *error = text;
        return false;
    };
    if (e.opened || e.closed) return fail("the patch was already opened");
    // Dependency order (sources first; ties in creation order); what is left
    // over lies on a cycle.
    const int count = static_cast<int>(e.instances.size());
    std::vector<int> pending(count, 0);
    for (int i = 0; i < count; ++i)
        for (const auto& pin : e.instances[i]->pins)
            if (pin.source_instance >= 0) ++pending[i];
    std::vector<bool> done(count, false);
    e.run_order.clear();
    while (static_cast<int>(e.run_order.size()) < count) {
        int next = -1;
        for (int i = 0; i < count && next < 0; ++i)
            if (!done[i] && pending[i] == 0) next = i;
        if (next < 0) {
            std::string cycle;
            for (int i = 0; i < count; ++i)
                if (!done[i]) cycle += (cycle.empty() ? "" : ", ") + std::to_string(i);
            return fail("the connections form a cycle through instances " + cycle);
        }
        done[next] = true;
        e.run_order.push_back(next);
        for (const auto& pin : e.instances[next]->pins)
            for (const auto& listener : pin.listeners) --pending[listener.first];
    }

    std::vector<int> open_order = order;
    if (open_order.empty())
        for (int i = 0; i < count; ++i) open_order.push_back(i);
    std::vector<bool> listed(count, false);
    for (int n : open_order) {
        if (n < 0 || n >= count || listed[n]) return fail("the open order must name each instance once");
        listed[n] = true;
    }
    for (int i = 0; i < count; ++i)
        if (!listed[i]) open_order.push_back(i);

    e.opened = true;
    e.now = e.clock;
    e.block_clock = e.clock;
    // Rate and block size reach every instance before the first is opened.
    for (int n : open_order) {
        HostRecord* r = e.instances[n]->record;
        r->dispatcher(r, SE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, e.options.sample_rate);
        r->dispatcher(r, SE_OP_SET_BLOCK_SIZE, 0, e.options.block_size, nullptr, 0.0f);
    }
    for (int n : open_order) {
        HostRecord* r = e.instances[n]->record;
        r->dispatcher(r, SE_OP_OPEN, 0, 0, nullptr, 0.0f);
        e.instances[n]->opened = true;
    }
    return true;
}

void Engine::SetInput(int instance, int32_t pin, float value, uint32_t at) {
    Impl& e = *m_impl;
    Impl::Instance* inst = e.Get(instance);
    Impl::Pin* p = e.GetPin(instance, pin);
    if (p == nullptr || p->source_instance >= 0 || p->description.direction == DR_OUT) return;
    if (p->description.datatype != DT_FSAMPLE) {
        SetInputInt(instance, pin, SaturatingInt(value), at);
        return;
    }
    const bool starting = !e.started && at == 0;
    if (at < e.clock) at = e.clock;
    // A later value at the same clock replaces the earlier one.
    auto it = std::lower_bound(p->segments.begin(), p->segments.end(), at,
                               [](const Impl::Segment& s, uint32_t c) { return s.at < c; });
    if (it != p->segments.end() && it->at == at) it = p->segments.erase(it);
    p->segments.insert(it, Impl::Segment{at, value, {}});
    if (starting) {
        p->streamed_from_start = false;
        std::fill(p->buffer.begin(), p->buffer.end(), value);
        return;
    }
    e.QueueStatus(inst, pin, ST_CHANGED_ONCE, at);
}

void Engine::SetInputInt(int instance, int32_t pin, int32_t value, uint32_t at) {
    Impl& e = *m_impl;
    Impl::Instance* inst = e.Get(instance);
    Impl::Pin* p = e.GetPin(instance, pin);
    if (p == nullptr || p->source_instance >= 0 || p->description.direction == DR_OUT) return;
    if (p->description.datatype == DT_FSAMPLE) {
        SetInput(instance, pin, static_cast<float>(value), at);
        return;
    }
    if (!e.started && at == 0) {
        p->value = value;
        e.WriteVariable(inst, pin);
        return;
    }
    if (at < e.clock) at = e.clock;
    e.QueueStatus(inst, pin, ST_CHANGED_ONCE, at, Impl::kWriteIntThenDeliver, value);
}

void Engine::StreamInput(int instance, int32_t pin, const std::vector<float>& samples, uint32_t at) {
    Impl& e = *m_impl;
    Impl::Instance* inst = e.Get(instance);
    Impl::Pin* p = e.GetPin(instance, pin);
    if (p == nullptr || p->source_instance >= 0 || p->description.direction == DR_OUT) return;
    if (p->description.datatype != DT_FSAMPLE || samples.empty()) return;
    const bool starting = !e.started && at == 0;
    if (at < e.clock) at = e.clock;
    auto it = std::lower_bound(p->segments.begin(), p->segments.end(), at,
                               [](const Impl::Segment& s, uint32_t c) { return s.at < c; });
    if (it != p->segments.end() && it->at == at) it = p->segments.erase(it);
    p->segments.insert(it, Impl::Segment{at, 0.0f, samples});
    if (starting) {
        p->streamed_from_start = true;
        return;
    }
    e.QueueStatus(inst, pin, ST_STREAMING, at);
}

void Engine::SendStatus(int instance, int32_t pin, int32_t status, uint32_t at) {
    Impl& e = *m_impl;
    Impl::Instance* inst = e.Get(instance);
    if (e.GetPin(instance, pin) == nullptr) return;
    if (at < e.clock) at = e.clock;
    e.QueueStatus(inst, pin, status, at);
}

bool Engine::Run(uint32_t samples, std::string* error) {
    Impl& e = *m_impl;
    if (!e.opened || e.closed) {
        if (error != nullptr) *error = e.closed ? "the patch is closed" : "the patch is not open";
        return false;
    }
    const size_t breaches_before = e.breaches.size();
    if (!e.started) {
        e.started = true;
        if (e.options.announce_initial_status) {
            // The starting status of every input, in pin order, ahead of
            // anything else due at the first clock.
            for (auto& inst : e.instances) {
                std::vector<Impl::Pending> rest;
                rest.swap(inst->queue);
                for (int32_t i = 0; i < static_cast<int32_t>(inst->pins.size()); ++i)
                    if (inst->pins[i].description.direction != DR_OUT)
                        e.QueueStatus(inst.get(), i, ST_CHANGED_ONCE, e.clock, Impl::kAnnounce);
                for (auto& p : rest) e.Queue(inst.get(), p.event, p.action, p.int_value);
            }
        }
    }
    uint32_t remaining = samples;
    while (remaining > 0) {
        const int32_t n = static_cast<int32_t>(std::min<uint32_t>(remaining, e.options.block_size));
        const uint32_t block_start = e.clock;
        e.block_clock = block_start;
        for (int number : e.run_order) e.RunInstance(e.instances[number].get(), block_start, n);
        for (auto& inst : e.instances)
            for (auto& pin : inst->pins)
                if (e.options.record_outputs && pin.description.direction == DR_OUT &&
                    pin.description.datatype == DT_FSAMPLE)
                    pin.history.insert(pin.history.end(), pin.buffer.begin(), pin.buffer.begin() + n);
        e.clock = block_start + static_cast<uint32_t>(n);
        e.now = e.clock;
        remaining -= static_cast<uint32_t>(n);
    }
    if (e.breaches.size() > breaches_before) {
        if (error != nullptr) *error = e.breaches[breaches_before];
        return false;
    }
    return true;
}

uint32_t Engine::Clock() const { return m_impl->clock; }

const std::vector<float>& Engine::Output(int instance, int32_t pin) const {
    static const std::vector<float> none;
    Impl::Pin* p = m_impl->GetPin(instance, pin);
    return p != nullptr ? p->history : none;
}

bool Engine::Sleeping(int instance) const {
    Impl::Instance* inst = m_impl->Get(instance);
    return inst != nullptr && inst->sleeping;
}

int32_t Engine::PinCount(int instance) const {
    Impl::Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? static_cast<int32_t>(inst->pins.size()) : 0;
}

int32_t Engine::PinStatus(int instance, int32_t pin) const {
    Impl::Pin* p = m_impl->GetPin(instance, pin);
    return p != nullptr ? p->status : ST_STILL;
}

HostRecord* Engine::Record(int instance) const {
    Impl::Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->record : nullptr;
}

void* Engine::Object(int instance) const {
    HostRecord* r = Record(instance);
    return r != nullptr ? r->object : nullptr;
}

const std::vector<Engine::ProcessCall>& Engine::ProcessCalls(int instance) const {
    static const std::vector<ProcessCall> none;
    Impl::Instance* inst = m_impl->Get(instance);
    return inst != nullptr ? inst->calls : none;
}

const std::vector<CallbackRecord>& Engine::Callbacks() const { return m_impl->callbacks; }

void Engine::ClearCallbacks() { m_impl->callbacks.clear(); }

const std::vector<std::string>& Engine::Breaches() const { return m_impl->breaches; }

int32_t Engine::Dispatch(int instance, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    Impl::Instance* inst = m_impl->Get(instance);
    if (inst == nullptr || inst->record == nullptr) return 0;
    HostRecord* r = inst->record;
    if (opcode == SE_OP_CLOSE) inst->record = nullptr;  // the record is gone from here on
    return r->dispatcher(r, opcode, index, value, ptr, opt);
}

void Engine::Close() {
    Impl& e = *m_impl;
    // Group by group, each clone closed (and destroyed) one after the other;
    // a closed clone leaves the clone walk at once.
    for (const auto& group : e.groups) {
        for (int number : group) {
            Impl::Instance* inst = e.Get(number);
            if (inst == nullptr || inst->record == nullptr) continue;
            HostRecord* r = inst->record;
            r->dispatcher(r, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
            inst->record = nullptr;
            inst->process = nullptr;
        }
    }
    if (!e.instances.empty() || e.opened) e.closed = true;
}

}  // namespace sephost
