// Every call the host makes into a module goes through here: the instance
// being called is remembered for the length of the call, and the records
// the host made are known by address, so that a callback is matched to its
// instance without reading through a pointer the host never handed out.
#include <unordered_map>

#include "EngineCore.h"
#include "Library.h"

namespace sephost {

namespace {

std::unordered_map<const HostRecord*, Instance*>& Records() {
    static std::unordered_map<const HostRecord*, Instance*> records;
    return records;
}

Instance* g_calling = nullptr;
CallWatchFn g_watch = nullptr;

CallNote NoteFor(const Instance* inst, CallNote::Kind kind) {
    CallNote note;
    note.kind = kind;
    note.instance = inst->number;
    if (inst->impl != nullptr) {
        note.sample_rate = inst->impl->options.sample_rate;
        note.block_size = inst->impl->options.block_size;
        note.clock = inst->impl->now;
    }
    return note;
}

// Marks `inst` as the instance being called until the scope ends, and tells
// the watcher; calls nest (a module's callback may make the host call
// another instance).
class Calling {
public:
    Calling(Instance* inst, const CallNote& note) : m_outer(g_calling), m_watch(g_watch) {
        g_calling = inst;
        if (m_watch != nullptr) m_watch(&note);
    }
    ~Calling() {
        if (m_watch != nullptr) m_watch(nullptr);
        g_calling = m_outer;
    }
    Calling(const Calling&) = delete;
    Calling& operator=(const Calling&) = delete;

private:
    Instance* m_outer;
    CallWatchFn m_watch;
};

}  // namespace

void SetCallWatch(CallWatchFn watch) { g_watch = watch; }

void RegisterRecord(HostRecord* record, Instance* inst) { Records()[record] = inst; }

void ForgetRecord(const HostRecord* record) { Records().erase(record); }

Instance* FindRecord(const HostRecord* record) {
    const auto found = Records().find(record);
    return found != Records().end() ? found->second : nullptr;
}

Instance* CallingInstance() { return g_calling; }

HostRecord* CallMakeModule(const Library& library, Instance* inst) {
    Calling calling(inst, NoteFor(inst, CallNote::kMakeModule));
    inst->making = true;
    HostRecord* record = library.MakeModule()(SE_MODULE_INDEX, SE_KIND_AUDIO, &HostCallback, inst);
    inst->making = false;
    return record;
}

int32_t CallDispatcher(Instance* inst, HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                       float opt) {
    CallNote note = NoteFor(inst, CallNote::kDispatcher);
    note.opcode = opcode;
    note.index = index;
    note.value = value;
    note.opt = opt;
    Calling calling(inst, note);
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void CallProcess(Instance* inst, int32_t start, int32_t count, const EngineOptions& options) {
    CallNote note = NoteFor(inst, CallNote::kProcess);
    note.start = start;
    note.count = count;
    Calling calling(inst, note);
    if (options.process_caller != nullptr)
        options.process_caller(inst->process, inst->record->object, start, count, options.process_caller_context);
    else
        inst->process(inst->record->object, start, count);
}

void CallEvent(Instance* inst, HostEvent* event) {
    CallNote note = NoteFor(inst, CallNote::kEvent);
    note.clock = event->time_stamp;
    note.event_kind = event->kind;
    note.event_pin = static_cast<int32_t>(reinterpret_cast<intptr_t>(event->pointer));
    note.event_value = event->value_a;
    Calling calling(inst, note);
    inst->record->event_function(inst->record->object, event);
}

}  // namespace sephost
