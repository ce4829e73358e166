#include "SEModule_base.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "SEAssert.h"

namespace {

// The three plain entry points the record holds; each recovers the instance
// and forwards to a virtual operation, so module overrides take effect. Each
// runs the module under the flush modes and gives the host its own back.
int32_t SE_CALL SE_REALIGN_STACK DispatcherEntry(HostRecord* record, int32_t opcode, int32_t index, int32_t value,
                                                 void* ptr, float opt) {
    const SEFloatModeScope flush_modes;
    return static_cast<SEModule_base*>(record->object)->Dispatch(opcode, index, value, ptr, opt);
}

void SE_CALL SE_REALIGN_STACK EventEntry(void* object, HostEvent* e) {
    const SEFloatModeScope flush_modes;
    static_cast<SEModule_base*>(object)->HandleEvent(e);
}

// One per library, shared by all instances, rewritten by each opcode-13 call.
SEProcessInfo g_process_info;

struct MemberWords {
    uint32_t code;
    int32_t adjustment;
};
static_assert(sizeof(MemberWords) == sizeof(SEModule_base::ProcessMember), "member pointer layout");

MemberWords WordsOf(const SEModule_base::ProcessMember& member) {
    MemberWords words;
    std::memcpy(&words, &member, sizeof words);
    return words;
}

}  // namespace

void SEAssertFailed(const char* condition, const char* file, int line, const char* where_format, ...) {
    std::fprintf(stderr, "%s(%d): assertion failed: %s; ", file, line, condition);
    va_list where;
    va_start(where, where_format);
    std::vfprintf(stderr, where_format, where);
    va_end(where);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

SEModule_base::SEModule_base(seaudioMasterFn callback, void* reserved)
    : seaudioMaster(callback),
      m_host_sample_rate(44100.0f),
      m_host_block_size(1024),
      m_pins(nullptr),
      m_process_function(&SEModule_base::ProcessNothing),
      m_pin_count(0),
      m_output_pins(nullptr),
      m_output_pin_count(0) {
    std::memset(&m_host_record, 0, sizeof m_host_record);
    m_host_record.magic = SE_MAGIC;
    m_host_record.version = SE_RECORD_VERSION;
    m_host_record.host_reserved = reserved;
    m_host_record.object = this;
    m_host_record.dispatcher = &DispatcherEntry;
    m_host_record.process_function = &ForwardProcess<SEModule_base, &SEModule_base::ProcessNothing>;
    m_host_record.event_function = &EventEntry;
}

SEModule_base::~SEModule_base() {
    // delete[] destroys the pins last to first.
    delete[] m_pins;
    m_pins = nullptr;
    delete[] m_output_pins;
    m_output_pins = nullptr;
}

void SEModule_base::OnPinStatusChange(SEPin*) {}

void SEModule_base::HandleEvent(HostEvent* e) {
    SE_ASSERT(e->time_stamp == SampleClock(), "in HandleEvent: event kind %d stamped %u, delivered at clock %u",
              static_cast<int>(e->kind), static_cast<unsigned>(e->time_stamp), static_cast<unsigned>(SampleClock()));
    switch (e->kind) {
    case EV_PIN_STATUS: {
        // A pin the table does not hold answers with the unbound stand-in,
        // whose SetStatus tells no module: the event is dropped.
        const int32_t index = static_cast<int32_t>(reinterpret_cast<intptr_t>(e->pointer));
        GetPin(index)->SetStatus(e->value_a);
        break;
    }
    case EV_PIN_DATA:
        OnPinData(e->time_stamp, e->value_a, static_cast<int16_t>(e->value_b & 0xFFFF));
        break;
    case EV_RUN_MEMBER: {
        // Code part with adjustment 0; an odd code part names a virtual
        // member by 1 plus its slot's byte offset, which the member-pointer
        // call resolves through this instance's virtual table.
        const MemberWords words = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e->pointer)), 0};
        RunMember member;
        std::memcpy(&member, &words, sizeof member);
        (this->*member)();
        break;
    }
    default:
        break;
    }
}

int32_t SEModule_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (opcode) {
    case SE_OP_OPEN:
        Open();
        return 0;
    case SE_OP_CLOSE:
        Close();
        delete this;  // the record is gone from here on
        return 1;
    case SE_OP_SET_SAMPLE_RATE:
        SetSampleRate(opt);
        return 0;
    case SE_OP_SET_BLOCK_SIZE:
        SetBlockSize(value);
        return 0;
    case SE_OP_GET_PIN_PROPERTIES: {
        const bool declared = GetPinProperties(index, static_cast<SEPinProperties*>(ptr));
        const SEPinProperties* declaration = static_cast<const SEPinProperties*>(ptr);
        SE_ASSERT_RULE(SEPatchStoreRuleHolds(declaration->direction, declaration->flags), kSEPatchStoreRuleText,
                       "in GetPinProperties(%d): direction %d, flags 0x%X", static_cast<int>(index),
                       static_cast<int>(declaration->direction), static_cast<unsigned>(declaration->flags));
        return declared ? 1 : 0;
    }
    case SE_OP_RESUME:
        Resume();
        if (index > 0) ResumeWith(index);
        return 0;
    case SE_OP_HOST_NOTICE:
        HostNotice(value, index, ptr);
        return 0;
    case SE_OP_PROCESS_INFO:
        g_process_info.word0 = SE_PROCESS_INFO_WORD0;
        g_process_info.word1 = SE_PROCESS_INFO_POINTER_SIZE;
        g_process_info.process_function = &m_process_function;
        g_process_info.word3 = SE_PROCESS_INFO_WORD3;
        return static_cast<int32_t>(reinterpret_cast<intptr_t>(&g_process_info));
    default:  // 4, 5, 9, 11 and anything unknown
        return 0;
    }
}

void SEModule_base::Open() {
    const int32_t count = CallHost(SE_CB_PIN_COUNT, 0, 0, nullptr, 0.0f);
    if (count > 0) m_pins = new (std::nothrow) SEPin[count];
    if (m_pins == nullptr) return;
    m_output_pins = new (std::nothrow) int32_t[count];
    m_pin_count = count;
    auto note_output = [this](const SEPinProperties& p, int32_t pin) {
        if (m_output_pins != nullptr && p.direction == DR_OUT && p.datatype == DT_FSAMPLE)
            m_output_pins[m_output_pin_count++] = pin;
    };

    // Walk the declarations: a UI-only one uses a declaration index but no
    // table entry, so pin indexes may lag declaration indexes.
    SEPinProperties properties;
    int32_t d = 0;
    int32_t p = 0;
    for (;; ++d) {
        std::memset(&properties, 0, sizeof properties);
        if (!GetPinProperties(d, &properties)) break;
        if (p >= count) break;
        if (!SEIsUiOnly(properties.flags)) {
            m_pins[p].Init(this, p, properties.datatype, properties.value_address);
            note_output(properties, p);
            ++p;
        }
    }

    // The last declaration reached may repeat to fill the remaining pins,
    // each repeat with storage of its own.
    std::memset(&properties, 0, sizeof properties);
    GetPinProperties(d - 1, &properties);
    if (!SEIsUiOnly(properties.flags) && (properties.flags & IO_REPEATING) != 0) {
        for (; p < count; ++p) {
            m_pins[p].Init(this, p, properties.datatype, nullptr);
            note_output(properties, p);
        }
    }
}

void SEModule_base::Close() {}

void SEModule_base::SetSampleRate(float sample_rate) { m_host_sample_rate = sample_rate; }

void SEModule_base::SetBlockSize(int32_t block_size) { m_host_block_size = block_size; }

float SEModule_base::SampleRate() { return m_host_sample_rate; }

int32_t SEModule_base::BlockSize() { return m_host_block_size; }

bool SEModule_base::GetPinProperties(int32_t, SEPinProperties*) { return false; }

void SEModule_base::Resume() {}

void SEModule_base::ResumeWith(int32_t) {}

void SEModule_base::OnPinData(uint32_t, int32_t, int16_t) {}

void SEModule_base::HostNotice(int32_t, int32_t, void*) {}

int32_t SEModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    if (seaudioMaster == nullptr) return 0;
    return seaudioMaster(&m_host_record, opcode, index, value, ptr, opt);
}

uint32_t SEModule_base::SampleClock() {
    return static_cast<uint32_t>(CallHost(SE_CB_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
}

SEPin* SEModule_base::GetPin(int32_t index) {
    SE_ASSERT(m_pins != 0, "in GetPin(%d): no pin table (the host answered %d pins at open), at clock %u",
              static_cast<int>(index), static_cast<int>(m_pin_count), static_cast<unsigned>(SampleClock()));
    if (index < 0 || index >= m_pin_count) return &m_absent_pin;
    return &m_pins[index];
}

void SEModule_base::GuardOutputs(int32_t start, int32_t count) {
    if (start < 0 || count <= 0) return;
    for (int32_t k = 0; k < m_output_pin_count; ++k) {
        const SEPin& pin = m_pins[m_output_pins[k]];
        if (pin.m_value_ptr == nullptr) continue;
        float* buffer = *static_cast<float* const*>(pin.m_value_ptr);
        if (buffer != nullptr) SEGuardSamples(buffer + start, count);
    }
}

void SEModule_base::AddEvent(uint32_t p_time_stamp, int32_t kind, int32_t value_a, int32_t value_b, void* pointer) {
    if (seaudioMaster == nullptr) return;  // no host: dropped, nothing checked
    SE_ASSERT(p_time_stamp >= SampleClock(), "in AddEvent: event kind %d stamped %u at clock %u",
              static_cast<int>(kind), static_cast<unsigned>(p_time_stamp), static_cast<unsigned>(SampleClock()));
    HostEvent event;
    event.time_stamp = p_time_stamp;
    event.kind = kind;
    event.value_a = value_a;
    event.value_b = value_b;
    event.pointer = pointer;
    event.next = nullptr;
    CallHost(SE_CB_ADD_EVENT, 0, 0, &event, 0.0f);
}

void SEModule_base::InstallProcessFunction(ProcessMember member, SEProcessFn forwarder) {
    const MemberWords now = WordsOf(m_process_function);
    const MemberWords next = WordsOf(member);
    const bool differs = now.code != next.code || (next.code != 0 && now.adjustment != next.adjustment);
    if (!differs) return;
    m_process_function = member;
    m_host_record.process_function = forwarder;
    if (seaudioMaster != nullptr) CallHost(SE_CB_PROCESS_CHANGED, 0, 0, nullptr, 0.0f);
}

void SEModule_base::ProcessNothing(int32_t, int32_t) {}

uint32_t SEModule_base::CodePart(const RunMember& member) {
    MemberWords words;
    std::memcpy(&words, &member, sizeof words);
    return words.code;
}
