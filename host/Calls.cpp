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

// Marks `inst` as the instance being called until the scope ends; calls nest
// (a module's callback may make the host call another instance).
class Calling {
public:
    explicit Calling(Instance* inst) : m_outer(g_calling) { g_calling = inst; }
    ~Calling() { g_calling = m_outer; }
    Calling(const Calling&) = delete;
    Calling& operator=(const Calling&) = delete;

private:
    Instance* m_outer;
};

}  // namespace

void RegisterRecord(HostRecord* record, Instance* inst) { Records()[record] = inst; }

void ForgetRecord(const HostRecord* record) { Records().erase(record); }

Instance* FindRecord(const HostRecord* record) {
    const auto found = Records().find(record);
    return found != Records().end() ? found->second : nullptr;
}

Instance* CallingInstance() { return g_calling; }

HostRecord* CallMakeModule(const Library& library, Instance* inst) {
    Calling calling(inst);
    inst->making = true;
    HostRecord* record = library.MakeModule()(SE_MODULE_INDEX, SE_KIND_AUDIO, &HostCallback, inst);
    inst->making = false;
    return record;
}

int32_t CallDispatcher(Instance* inst, HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                       float opt) {
    Calling calling(inst);
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void CallProcess(Instance* inst, int32_t start, int32_t count, const EngineOptions& options) {
    Calling calling(inst);
    if (options.process_caller != nullptr)
        options.process_caller(inst->process, inst->record->object, start, count, options.process_caller_context);
    else
        inst->process(inst->record->object, start, count);
}

void CallEvent(Instance* inst, HostEvent* event) {
    Calling calling(inst);
    inst->record->event_function(inst->record->object, event);
}

}  // namespace sephost
