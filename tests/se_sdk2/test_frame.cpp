// The frame at its own interface: a small module class on SEModule_base,
// driven through its HostRecord the way a host drives it, against a scripted
// host that records every callback.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "../support/MockHost.h"
#include "SEAssert.h"
#include "SEModuleEntry.h"
#include "SEModule_base.h"
#include "SEPinTable.h"

namespace {

// A configurable module: its declarations come from the test.
class ProbeModule : public SEModule_base {
public:
    ProbeModule(seaudioMasterFn callback, void* reserved) : SEModule_base(callback, reserved) {}

    static void Describe(ModuleProperties* properties) {
        properties->id = "probe";
        properties->name = "Probe";
        properties->about = "frame probe";
    }

    bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
        ++declaration_requests;
        if (index < 0 || index >= static_cast<int32_t>(declarations.size())) return false;
        *properties = declarations[index];
        return true;
    }

    void OnPinStatusChange(SEPin* pin) override {
        control_word_seen = _mm_getcsr();
        seen_pins.push_back(pin->m_index);
        seen_statuses.push_back(pin->m_status);
    }
    void Resume() override { calls.push_back("Resume"); }
    void ResumeWith(int32_t index) override { calls.push_back("ResumeWith " + std::to_string(index)); }
    void HostNotice(int32_t value, int32_t index, void*) override {
        calls.push_back("HostNotice " + std::to_string(value) + " " + std::to_string(index));
    }
    void OnPinData(uint32_t time_stamp, int32_t data, int16_t tag) override {
        calls.push_back("OnPinData " + std::to_string(time_stamp) + " " + std::to_string(data) + " " +
                        std::to_string(tag));
    }
    virtual void VirtualMember() { calls.push_back("VirtualMember"); }
    void PlainMember() { calls.push_back("PlainMember"); }

    void ProcessA(int32_t start, int32_t count) {
        alignas(16) float lane[4] = {0, 0, 0, 0};
        // Through an empty asm the compiler cannot assume the alignment it
        // gave the array: this reads where the array really is.
        uintptr_t address = reinterpret_cast<uintptr_t>(lane);
        asm volatile("" : "+r"(address));
        aligned = (address & 15u) == 0;
        control_word_seen = _mm_getcsr();
        calls.push_back("A " + std::to_string(start) + " " + std::to_string(count));
    }
    void ProcessB(int32_t start, int32_t count) {
        calls.push_back("B " + std::to_string(start) + " " + std::to_string(count));
    }

    // Writes `poison` over the call's samples of the buffers of pins 0 and 1.
    void ProcessPoison(int32_t start, int32_t count) {
        for (int32_t pin = 0; pin < 2; ++pin) {
            float* buffer = *static_cast<float**>(GetPin(pin)->m_value_ptr);
            for (int32_t j = start; j < start + count; ++j) buffer[j] = poison;
        }
    }

    void UseA() { SetProcessFunction<&ProbeModule::ProcessA>(); }
    void UsePoison() { SetProcessFunction<&ProbeModule::ProcessPoison>(); }
    void UseB() { SetProcessFunction<&ProbeModule::ProcessB>(); }

    // Test access to the frame's fields.
    SEPin* Pins() const { return m_pins; }
    const ProcessMember& CurrentProcess() const { return m_process_function; }

    std::vector<SEPinProperties> declarations;
    int declaration_requests = 0;
    std::vector<int32_t> seen_pins;
    std::vector<int32_t> seen_statuses;
    std::vector<std::string> calls;
    bool aligned = false;
    uint32_t control_word_seen = 0;
    float poison = 0.0f;
};

HostRecord* Make(MockHost& host, void* reserved = nullptr) {
    (void)host;
    return SEMakeModule<ProbeModule>(0, 1, MockHost::Callback(), reserved);
}

ProbeModule* ModuleOf(HostRecord* record) { return static_cast<ProbeModule*>(record->object); }

int32_t Dispatch(HostRecord* record, int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                 float opt = 0.0f) {
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

SEPinProperties Declaration(int32_t datatype, void* value_address = nullptr, int32_t flags = 0,
                            int32_t direction = DR_IN) {
    SEPinProperties p;
    std::memset(&p, 0, sizeof p);
    p.value_address = value_address;
    p.datatype = datatype;
    p.flags = flags;
    p.direction = direction;
    p.name = "pin";
    return p;
}

void Deliver(HostRecord* record, uint32_t time_stamp, int32_t kind, int32_t value_a, int32_t value_b,
             uintptr_t pointer) {
    HostEvent e = {time_stamp, kind, value_a, value_b, reinterpret_cast<void*>(pointer), nullptr};
    record->event_function(record->object, &e);
}

TEST(Entry, MakeModuleCreatesOnlyIndexZeroKindOne) {
    MockHost host;
    int reserved_marker = 0;
    HostRecord* record = Make(host, &reserved_marker);
    ASSERT_NE(record, nullptr);
    const unsigned char expected_magic[4] = {0x4C, 0x50, 0x45, 0x53};
    EXPECT_EQ(std::memcmp(&record->magic, expected_magic, 4), 0);
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->host_reserved, &reserved_marker);
    EXPECT_EQ(record->spare, 0);
    for (int32_t word : record->reserved) EXPECT_EQ(word, 0);
    EXPECT_NE(record->dispatcher, nullptr);
    EXPECT_NE(record->process_function, nullptr);
    EXPECT_NE(record->event_function, nullptr);

    HostRecord* second = Make(host);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, record);
    EXPECT_NE(second->object, record->object);

    EXPECT_EQ((SEMakeModule<ProbeModule>(1, 1, MockHost::Callback(), nullptr)), nullptr);
    EXPECT_EQ((SEMakeModule<ProbeModule>(0, 0, MockHost::Callback(), nullptr)), nullptr);
    EXPECT_EQ((SEMakeModule<ProbeModule>(0, 2, MockHost::Callback(), nullptr)), nullptr);

    // The constructor calls nothing on the host; the initial process
    // function does nothing, host included.
    record->process_function(record->object, 0, 64);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(ModuleOf(record)->calls.empty());

    EXPECT_EQ(Dispatch(record, SE_OP_CLOSE), 1);
    EXPECT_EQ(Dispatch(second, SE_OP_CLOSE), 1);
}

TEST(Entry, GetModulePropertiesWritesVersionFirst) {
    ModuleProperties p;
    std::memset(&p, 0, sizeof p);
    const char* untouched = "untouched";
    p.id = p.name = p.about = untouched;
    EXPECT_EQ(SEGetModuleProperties<ProbeModule>(5, &p), 0);
    EXPECT_EQ(p.sdk_version, 2230);
    EXPECT_EQ(p.id, untouched);
    EXPECT_EQ(p.name, untouched);
    EXPECT_EQ(p.about, untouched);

    EXPECT_EQ(SEGetModuleProperties<ProbeModule>(0, &p), 1);
    EXPECT_STREQ(p.id, "probe");
    EXPECT_STREQ(p.name, "Probe");
}

TEST(Dispatcher, OpcodeResults) {
    MockHost host;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);

    EXPECT_EQ(Dispatch(record, SE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(module->SampleRate(), 48000.0f);
    EXPECT_EQ(Dispatch(record, SE_OP_SET_BLOCK_SIZE, 0, 256), 0);
    EXPECT_EQ(module->BlockSize(), 256);
    EXPECT_EQ(Dispatch(record, SE_OP_OPEN), 0);

    for (int32_t opcode : {4, 5, 9, 11, 14, 100, -1}) {
        EXPECT_EQ(Dispatch(record, opcode, 3, 4, nullptr, 1.0f), 0) << "opcode " << opcode;
    }
    EXPECT_TRUE(module->calls.empty());

    EXPECT_EQ(Dispatch(record, SE_OP_RESUME, 0), 0);
    EXPECT_EQ(Dispatch(record, SE_OP_RESUME, -2), 0);
    EXPECT_EQ(Dispatch(record, SE_OP_RESUME, 3), 0);
    EXPECT_EQ(Dispatch(record, SE_OP_HOST_NOTICE, 7, 9), 0);
    EXPECT_EQ(module->calls,
              (std::vector<std::string>{"Resume", "Resume", "Resume", "ResumeWith 3", "HostNotice 9 7"}));

    Dispatch(record, SE_OP_CLOSE);
}

TEST(Dispatcher, PinPropertiesAnswerWhetherDeclared) {
    MockHost host;
    HostRecord* record = Make(host);
    ModuleOf(record)->declarations = {Declaration(DT_FSAMPLE), Declaration(DT_ENUM)};
    SEPinProperties p;
    std::memset(&p, 0, sizeof p);
    EXPECT_EQ(Dispatch(record, SE_OP_GET_PIN_PROPERTIES, 1, 0, &p), 1);
    EXPECT_EQ(p.datatype, DT_ENUM);
    std::memset(&p, 0, sizeof p);
    EXPECT_EQ(Dispatch(record, SE_OP_GET_PIN_PROPERTIES, 2, 0, &p), 0);
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Dispatcher, ProcessInfoIsOneRecordPerLibrary) {
    MockHost host;
    HostRecord* first = Make(host);
    HostRecord* second = Make(host);
    const int32_t a = Dispatch(first, SE_OP_PROCESS_INFO);
    const int32_t b = Dispatch(second, SE_OP_PROCESS_INFO);
    ASSERT_NE(a, 0);
    EXPECT_EQ(a, b);
    const int32_t* words = reinterpret_cast<const int32_t*>(static_cast<intptr_t>(b));
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 8);
    EXPECT_EQ(words[3], 1002);
    EXPECT_EQ(reinterpret_cast<const void*>(static_cast<intptr_t>(words[2])), &ModuleOf(second)->CurrentProcess());
    Dispatch(first, SE_OP_CLOSE);
    Dispatch(second, SE_OP_CLOSE);
}

TEST(PinTable, NoTableWithoutPins) {
    MockHost host;
    host.pin_count = 0;
    HostRecord* record = Make(host);
    ModuleOf(record)->declarations = {Declaration(DT_FSAMPLE)};
    Dispatch(record, SE_OP_OPEN);
    EXPECT_EQ(ModuleOf(record)->Pins(), nullptr);
    EXPECT_EQ(host.Count(SE_CB_PIN_COUNT), 1);
    Dispatch(record, SE_OP_CLOSE);

    // Without a callback nothing is asked and nothing is built.
    HostRecord* alone = SEMakeModule<ProbeModule>(0, 1, nullptr, nullptr);
    ModuleOf(alone)->declarations = {Declaration(DT_FSAMPLE)};
    Dispatch(alone, SE_OP_OPEN);
    EXPECT_EQ(ModuleOf(alone)->Pins(), nullptr);
    EXPECT_EQ(ModuleOf(alone)->SampleClock(), 0u);
    Dispatch(alone, SE_OP_CLOSE);
}

TEST(PinTable, RepeatingLastDeclarationFillsTheRest) {
    for (bool repeating : {true, false}) {
        MockHost host;
        host.pin_count = 5;
        HostRecord* record = Make(host);
        ProbeModule* module = ModuleOf(record);
        int16_t enum_var = 7;
        module->declarations = {Declaration(DT_FSAMPLE), Declaration(DT_ENUM, &enum_var),
                                Declaration(DT_INT, nullptr, repeating ? IO_REPEATING : 0)};
        Dispatch(record, SE_OP_OPEN);
        SEPin* pins = module->Pins();
        ASSERT_NE(pins, nullptr);
        for (int32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(pins[i].m_module, module);
            EXPECT_EQ(pins[i].m_index, i);
        }
        for (int32_t i = 3; i < 5; ++i) {
            SCOPED_TRACE(repeating ? "repeating" : "not repeating");
            if (repeating) {
                EXPECT_EQ(pins[i].m_module, module);
                EXPECT_EQ(pins[i].m_index, i);
                EXPECT_EQ(pins[i].m_datatype, DT_INT);
                // Storage of its own, not shared with the declaration it repeats.
                EXPECT_EQ(pins[i].m_value_ptr, &pins[i].m_local_value);
            } else {
                EXPECT_EQ(pins[i].m_module, nullptr);
                EXPECT_EQ(pins[i].m_value_ptr, nullptr);
            }
        }
        Dispatch(record, SE_OP_CLOSE);
    }
}

TEST(PinTable, FullTableStopsTheWalk) {
    MockHost host;
    host.pin_count = 2;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations = {Declaration(DT_INT), Declaration(DT_INT), Declaration(DT_ENUM), Declaration(DT_ENUM)};
    Dispatch(record, SE_OP_OPEN);
    EXPECT_EQ(module->Pins()[0].m_datatype, DT_INT);
    EXPECT_EQ(module->Pins()[1].m_datatype, DT_INT);
    // Declarations 0, 1, 2 in the walk, then declaration 2 again for the
    // repeat check: declaration 3 is never asked.
    EXPECT_EQ(module->declaration_requests, 4);
    Dispatch(record, SE_OP_CLOSE);
}

TEST(PinTable, UiOnlyDeclarationTakesNoEntry) {
    MockHost host;
    host.pin_count = 2;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations = {Declaration(DT_FSAMPLE), Declaration(DT_INT, nullptr, IO_UI_COMMUNICATION),
                            Declaration(DT_ENUM)};
    Dispatch(record, SE_OP_OPEN);
    EXPECT_EQ(module->Pins()[0].m_datatype, DT_FSAMPLE);
    EXPECT_EQ(module->Pins()[1].m_datatype, DT_ENUM);
    EXPECT_EQ(module->Pins()[1].m_index, 1);
    Dispatch(record, SE_OP_CLOSE);

    // With the dual flag it is an audio pin after all.
    MockHost host2;
    host2.pin_count = 2;
    record = Make(host2);
    module = ModuleOf(record);
    module->declarations = {Declaration(DT_FSAMPLE), Declaration(DT_INT, nullptr, IO_UI_COMMUNICATION | IO_UI_DSP_DUAL),
                            Declaration(DT_ENUM)};
    Dispatch(record, SE_OP_OPEN);
    EXPECT_EQ(module->Pins()[1].m_datatype, DT_INT);
    Dispatch(record, SE_OP_CLOSE);
}

// A table row gives the data type of its member and the member's address in
// the instance asked; past either end the table answers false.
TEST(PinTable, DeclarationRowsGiveTypeAndAddress) {
    struct Owner {
        float* samples = nullptr;
        int16_t choice = 0;
        int32_t number = 0;
    };
    using Row = SEPinRow<Owner>;
    static constexpr Row kRows[] = {
        Row::Samples(&Owner::samples, DR_OUT, "out", nullptr),
        Row::Choice(&Owner::choice, "mode", "1", "a=0,b=1"),
        Row::Number(&Owner::number, DR_SETTING, "count", "3"),
    };
    Owner owner;
    struct Expected {
        void* address;
        int32_t direction, datatype;
        const char* name;
        const char* default_text;
        const char* choices;
    } expected[] = {
        {&owner.samples, DR_OUT, DT_FSAMPLE, "out", nullptr, nullptr},
        {&owner.choice, DR_IN, DT_ENUM, "mode", "1", "a=0,b=1"},
        {&owner.number, DR_SETTING, DT_INT, "count", "3", nullptr},
    };
    for (int32_t index = 0; index < 3; ++index) {
        SEPinProperties properties = {};
        ASSERT_TRUE(SEDeclarePin(&owner, kRows, index, &properties)) << "row " << index;
        const Expected& e = expected[index];
        EXPECT_EQ(properties.value_address, e.address) << "row " << index;
        EXPECT_EQ(properties.direction, e.direction) << "row " << index;
        EXPECT_EQ(properties.datatype, e.datatype) << "row " << index;
        EXPECT_STREQ(properties.name, e.name) << "row " << index;
        EXPECT_STREQ(properties.default_text, e.default_text) << "row " << index;  // null equals only null
        EXPECT_STREQ(properties.choices, e.choices) << "row " << index;
        EXPECT_EQ(properties.flags, 0) << "row " << index;
    }
    for (int32_t index : {-1, 3, 1000}) {
        SEPinProperties properties = {};
        EXPECT_FALSE(SEDeclarePin(&owner, kRows, index, &properties)) << "row " << index;
        EXPECT_EQ(properties.name, nullptr) << "row " << index;
    }
}

TEST(Pins, StorageByDatatype) {
    MockHost host;
    float buffer[8] = {};
    host.pin_count = 6;
    host.pin_buffers = {nullptr, nullptr, nullptr, buffer};
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    int16_t enum_var = 0x5555;
    float* sample_var = nullptr;
    module->declarations = {Declaration(DT_ENUM, &enum_var), Declaration(DT_ENUM), Declaration(DT_FSAMPLE, &sample_var),
                            Declaration(DT_FSAMPLE),         Declaration(3),       Declaration(4)};
    Dispatch(record, SE_OP_OPEN);
    SEPin* pins = module->Pins();

    EXPECT_EQ(pins[0].m_value_ptr, &enum_var);
    EXPECT_EQ(pins[0].m_local_value.int_value, 0);
    EXPECT_EQ(enum_var, 0x5555);  // the module's variable is the host's to write

    EXPECT_EQ(pins[1].m_value_ptr, &pins[1].m_local_value);
    EXPECT_EQ(pins[1].m_local_value.enum_value, 0);

    EXPECT_EQ(pins[2].m_value_ptr, &sample_var);
    EXPECT_EQ(pins[3].m_value_ptr, &pins[3].m_local_value);
    EXPECT_EQ(pins[3].m_local_value.buffer, buffer);
    // Only the pin without a variable asks for its buffer, once, by its index.
    const std::vector<MockHost::Call> asks = host.CallsOf(SE_CB_PIN_BUFFER);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].index, 3);

    EXPECT_EQ(pins[4].m_value_ptr, nullptr);
    EXPECT_EQ(pins[5].m_value_ptr, &pins[5].m_local_value);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pins[i].m_status, ST_STILL);
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Pins, GetValueReadsTheSampleAtTheCurrentClock) {
    MockHost host;
    float samples[8] = {0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f};
    float* buffer = samples;
    host.pin_count = 1;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations = {Declaration(DT_FSAMPLE, &buffer)};
    Dispatch(record, SE_OP_OPEN);
    host.buffer_clock = 1000;
    host.sample_clock = 1003;
    EXPECT_EQ(module->GetPin(0)->GetValue(), 0.3f);
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Pins, TransmitAndConnected) {
    MockHost host;
    host.pin_count = 17;
    host.is_connected = 1;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations.assign(17, Declaration(DT_FSAMPLE, nullptr, 0, DR_OUT));
    Dispatch(record, SE_OP_OPEN);
    host.calls.clear();

    module->GetPin(16)->TransmitStatus(5000, ST_STREAMING);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].record, record);
    EXPECT_EQ(host.calls[0].opcode, SE_CB_PIN_STATUS);
    EXPECT_EQ(host.calls[0].index, 16);
    EXPECT_EQ(host.calls[0].value, ST_STREAMING);
    EXPECT_EQ(host.calls[0].ptr, 5000u);
    EXPECT_EQ(host.calls[0].opt, 0.0f);

    module->GetPin(2)->TransmitData(77, -9);
    EXPECT_EQ(host.calls.back().opcode, SE_CB_PIN_SEND);
    EXPECT_EQ(host.calls.back().index, 2);
    EXPECT_EQ(host.calls.back().value, -9);
    EXPECT_EQ(host.calls.back().ptr, 77u);

    EXPECT_TRUE(module->GetPin(3)->IsConnected());
    host.is_connected = 0;
    EXPECT_FALSE(module->GetPin(3)->IsConnected());
    EXPECT_EQ(host.calls.back().opcode, SE_CB_IS_CONNECTED);
    EXPECT_EQ(host.calls.back().index, 3);
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Events, PinStatusReachesTheModuleAndOneOffChangesFallBack) {
    MockHost host;
    host.pin_count = 3;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations.assign(3, Declaration(DT_INT));
    Dispatch(record, SE_OP_OPEN);
    host.sample_clock = 640;

    Deliver(record, 640, EV_PIN_STATUS, ST_CHANGED_ONCE, 0, 2);
    EXPECT_EQ(module->GetPin(2)->m_status, ST_STILL);
    Deliver(record, 640, EV_PIN_STATUS, ST_STREAMING, 0, 1);
    EXPECT_EQ(module->GetPin(1)->m_status, ST_STREAMING);
    Deliver(record, 640, EV_PIN_STATUS, ST_STILL, 0, 0);
    Deliver(record, 640, EV_PIN_STATUS, 7, 0, 0);  // codes above 2 are stored and relayed
    EXPECT_EQ(module->GetPin(0)->m_status, 7);

    EXPECT_EQ(module->seen_pins, (std::vector<int32_t>{2, 1, 0, 0}));
    EXPECT_EQ(module->seen_statuses, (std::vector<int32_t>{ST_CHANGED_ONCE, ST_STREAMING, ST_STILL, 7}));
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Events, DataRunMemberAndUnknownKinds) {
    MockHost host;
    host.pin_count = 0;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    Dispatch(record, SE_OP_OPEN);
    host.sample_clock = 12;

    Deliver(record, 12, EV_PIN_DATA, 99, 0x1234FFFE, 0);  // tag: low 16 bits, signed
    Deliver(record, 12, 5, 1, 2, 3);                      // ignored

    // RunDelayed queues the code part of the member pointer; delivering that
    // event runs the member, for a plain and for a virtual member alike.
    module->RunDelayed(20, &ProbeModule::PlainMember);
    module->RunDelayed(12, &ProbeModule::VirtualMember);
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].kind, EV_RUN_MEMBER);
    EXPECT_EQ(host.events[0].time_stamp, 20u);
    EXPECT_EQ(host.events[0].next, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(host.events[1].pointer) & 1u, 1u) << "a virtual member's code part is odd";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(host.events[0].pointer) & 1u, 0u);
    HostEvent virtual_call = host.events[1];
    record->event_function(record->object, &virtual_call);
    host.sample_clock = 20;
    HostEvent plain_call = host.events[0];
    record->event_function(record->object, &plain_call);

    EXPECT_EQ(module->calls, (std::vector<std::string>{"OnPinData 12 99 -2", "VirtualMember", "PlainMember"}));
    Dispatch(record, SE_OP_CLOSE);
}

TEST(Events, AddEventAtTheCurrentClockAndWithoutHost) {
    MockHost host;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    host.sample_clock = 300;
    module->AddEvent(300, 40, 1, 2, reinterpret_cast<void*>(3));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].time_stamp, 300u);
    EXPECT_EQ(host.events[0].kind, 40);
    EXPECT_EQ(host.events[0].value_a, 1);
    EXPECT_EQ(host.events[0].value_b, 2);
    EXPECT_EQ(host.events[0].pointer, reinterpret_cast<void*>(3));
    Dispatch(record, SE_OP_CLOSE);

    HostRecord* alone = SEMakeModule<ProbeModule>(0, 1, nullptr, nullptr);
    ModuleOf(alone)->AddEvent(0, 1, 0, 0, nullptr);  // dropped; nothing to check against
    ModuleOf(alone)->UseA();                         // installed without an announcement
    alone->process_function(alone->object, 1, 2);
    EXPECT_EQ(ModuleOf(alone)->calls, (std::vector<std::string>{"A 1 2"}));
    Dispatch(alone, SE_OP_CLOSE);
}

// The host callback of this test checks the record's process function at
// the moment SE_CB_PROCESS_CHANGED arrives.
SEProcessFn g_function_at_announcement = nullptr;
int g_announcements = 0;
int32_t SE_CALL AnnouncementWatcher(HostRecord* record, int32_t opcode, int32_t, int32_t, void*, float) {
    if (opcode == SE_CB_PROCESS_CHANGED) {
        ++g_announcements;
        g_function_at_announcement = record->process_function;
    }
    return 0;
}

TEST(ProcessFunction, SwitchAnnouncesOnlyRealChanges) {
    g_announcements = 0;
    HostRecord* record = SEMakeModule<ProbeModule>(0, 1, &AnnouncementWatcher, nullptr);
    ProbeModule* module = ModuleOf(record);
    const SEProcessFn nothing = record->process_function;

    module->UseA();
    EXPECT_EQ(g_announcements, 1);
    EXPECT_NE(record->process_function, nothing);
    EXPECT_EQ(g_function_at_announcement, record->process_function) << "record updated before the announcement";
    const SEProcessFn a = record->process_function;

    module->UseA();
    EXPECT_EQ(g_announcements, 1);

    module->UseB();
    EXPECT_EQ(g_announcements, 2);
    EXPECT_NE(record->process_function, a);

    record->process_function(record->object, 4, 60);
    module->UseA();
    record->process_function(record->object, 64, 32);
    EXPECT_EQ(module->calls, (std::vector<std::string>{"B 4 60", "A 64 32"}));

    // m_process_function holds the member pointer itself.
    const SEModule_base::ProcessMember expected = static_cast<SEModule_base::ProcessMember>(&ProbeModule::ProcessA);
    EXPECT_TRUE(module->CurrentProcess() == expected);
    Dispatch(record, SE_OP_CLOSE);
}

#if defined(__i386__)
// Calls a process function the way a host with a 4-byte-aligned stack would:
// at the call instruction the stack pointer is 12 modulo 16.
struct MisalignedCall {
    SEProcessFn function;
    void* object;
    int32_t start;
    int32_t count;
    uint32_t saved_stack;
};

void CallWithMisalignedStack(SEProcessFn function, void* object, int32_t start, int32_t count) {
    static MisalignedCall call;
    call = {function, object, start, count, 0};
    asm volatile(
        "movl %%esp, 16(%0)\n\t"
        "andl $-16, %%esp\n\t"
        "subl $8, %%esp\n\t"
        "pushl 12(%0)\n\t"
        "pushl 8(%0)\n\t"
        "pushl 4(%0)\n\t"
        "call *(%0)\n\t"
        "movl 16(%0), %%esp\n\t"
        :
        : "S"(&call)
        : "eax", "ecx", "edx", "memory", "cc");
}

TEST(ProcessFunction, ForwarderRealignsTheStack) {
    MockHost host;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->UseA();
    CallWithMisalignedStack(record->process_function, record->object, 3, 5);
    EXPECT_TRUE(module->aligned);
    EXPECT_EQ(module->calls, (std::vector<std::string>{"A 3 5"}));
    Dispatch(record, SE_OP_CLOSE);
}
#endif

// Floating-point hygiene at the boundary and a host that breaks its side.

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(FloatGuard, SamplesComeOutFiniteBoundedAndNormal) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float smallest_normal = std::numeric_limits<float>::min();
    const float ceiling = kSEOutputCeiling;
    struct Case {
        float in;
        float out;
    };
    const Case cases[] = {
        {nan, 0.0f},
        {-nan, 0.0f},
        {inf, ceiling},
        {-inf, -ceiling},
        {3.0e38f, ceiling},
        {-2.0e18f, -ceiling},
        {ceiling, ceiling},
        {-9999.5f, -9999.5f},
        {2000000.0f, 2000000.0f},
        {-1.0e17f, -1.0e17f},
        {1.0e-40f, 0.0f},
        {-1.0e-45f, -0.0f},
        {0.0f, 0.0f},
        {-0.0f, -0.0f},
        {smallest_normal, smallest_normal},
        {-smallest_normal, -smallest_normal},
        {0.5f, 0.5f},
        {-1.0e-30f, -1.0e-30f},
    };
    // Every case in every lane of the four-wide part and of the tail.
    constexpr float kUntouched = 7.0f;
    for (int32_t length = 1; length <= 9; ++length) {
        for (int32_t position = 0; position < length; ++position) {
            for (const Case& c : cases) {
                std::vector<float> samples(length + 2, kUntouched);
                samples[1 + position] = c.in;
                SEGuardSamples(samples.data() + 1, length);
                EXPECT_EQ(Bits(samples[1 + position]), Bits(c.out))
                    << c.in << " at " << position << " of " << length << " gave " << samples[1 + position];
                samples[1 + position] = kUntouched;
                EXPECT_EQ(samples, std::vector<float>(length + 2, kUntouched)) << c.in << " touched a neighbour";
            }
        }
    }
}

TEST(FloatGuard, UsableSampleRates) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float cases[][2] = {{44100.0f, 44100.0f}, {1000.0f, 1000.0f},   {768000.0f, 768000.0f}, {22050.5f, 22050.5f},
                              {1.0f, 1.0f},         {1.0e7f, 1.0e7f},     {0.0f, 44100.0f},       {-48000.0f, 44100.0f},
                              {0.5f, 44100.0f},     {1.0e-40f, 44100.0f}, {2.0e7f, 44100.0f},     {nan, 44100.0f},
                              {inf, 44100.0f},      {-inf, 44100.0f}};
    for (const auto& c : cases) EXPECT_EQ(SEUsableSampleRate(c[0]), c[1]) << c[0];
}

TEST(FloatGuard, CallsRunUnderFlushModesAndGiveTheHostItsOwnBack) {
    constexpr uint32_t kFlush = kSEFlushToZero | kSEDenormalsAreZero;
    constexpr uint32_t kRoundTowardZero = 0x6000;
    const uint32_t original = _mm_getcsr();
    // A host with its own rounding mode and the flush modes off.
    _mm_setcsr((original & ~kFlush) | kRoundTowardZero);
    const uint32_t host_word = _mm_getcsr();

    MockHost host;
    host.pin_count = 1;
    HostRecord* record = Make(host);
    ProbeModule* module = ModuleOf(record);
    module->declarations = {Declaration(DT_INT)};
    Dispatch(record, SE_OP_OPEN);
    module->UseA();
    record->process_function(record->object, 0, 1);
    const uint32_t after_process = _mm_getcsr();
    const uint32_t in_process = module->control_word_seen;
    Deliver(record, 0, EV_PIN_STATUS, ST_STILL, 0, 0);
    const uint32_t after_event = _mm_getcsr();
    const uint32_t in_event = module->control_word_seen;
    Dispatch(record, SE_OP_CLOSE);
    const uint32_t after_dispatch = _mm_getcsr();
    _mm_setcsr(original);

    EXPECT_EQ(in_process, host_word | kFlush);
    EXPECT_EQ(in_event, host_word | kFlush);
    EXPECT_EQ(after_process, host_word);
    EXPECT_EQ(after_event, host_word);
    EXPECT_EQ(after_dispatch, host_word);
}

TEST(FloatGuard, ProcessForwarderGuardsOnlyTheCallsOutputSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float poison : {nan, inf, -inf, 1.0e-41f, 5.0e20f}) {
        MockHost host;
        host.pin_count = 3;
        constexpr float kBefore = 0.25f;
        std::vector<float> input(8, kBefore);
        std::vector<float> output(8, kBefore);
        host.pin_buffers = {input.data(), output.data()};
        HostRecord* record = Make(host);
        ProbeModule* module = ModuleOf(record);
        module->declarations = {Declaration(DT_FSAMPLE), Declaration(DT_FSAMPLE, nullptr, 0, DR_OUT),
                                Declaration(DT_ENUM, nullptr, 0, DR_OUT)};
        Dispatch(record, SE_OP_OPEN);
        module->UsePoison();
        module->poison = poison;
        record->process_function(record->object, 2, 3);
        SEGuardSamples(&poison, 1);  // what the guard makes of it
        for (int32_t j = 0; j < 8; ++j) {
            const bool written = j >= 2 && j < 5;
            EXPECT_EQ(Bits(output[j]), Bits(written ? poison : kBefore)) << "output sample " << j;
            // An input is the host's: left as the module wrote it.
            if (written) {
                EXPECT_EQ(Bits(input[j]), Bits(module->poison)) << "input sample " << j;
            } else {
                EXPECT_EQ(input[j], kBefore) << "input sample " << j;
            }
        }
        Dispatch(record, SE_OP_CLOSE);
    }
}

TEST(HostileHost, IndexesOutsideTheTableReachNothing) {
    const int32_t outside[] = {3, 40, -1, INT32_MAX, INT32_MIN};
    for (int32_t count : {1, 2}) {
        MockHost host;
        host.pin_count = count;
        HostRecord* record = Make(host);
        ProbeModule* module = ModuleOf(record);
        module->declarations = {Declaration(DT_ENUM), Declaration(DT_ENUM), Declaration(DT_ENUM)};
        Dispatch(record, SE_OP_OPEN);
        EXPECT_EQ(module->PinCount(), count);
        for (int32_t index = count; index < 3; ++index) EXPECT_EQ(module->GetPin(index)->m_module, nullptr);
        for (int32_t index : outside) {
            SEPin* pin = module->GetPin(index);
            EXPECT_EQ(pin->m_module, nullptr) << "pin " << index << " of " << count;
            EXPECT_FALSE(pin->IsConnected());
            pin->TransmitStatus(0, ST_STREAMING);
            Deliver(record, 0, EV_PIN_STATUS, ST_STREAMING, 0, static_cast<uintptr_t>(index));
        }
        EXPECT_TRUE(module->seen_pins.empty()) << count;
        EXPECT_EQ(host.Count(SE_CB_PIN_STATUS), 0) << count;
        EXPECT_EQ(host.Count(SE_CB_IS_CONNECTED), 0) << count;
        // A pin inside the table is still reached.
        Deliver(record, 0, EV_PIN_STATUS, ST_STREAMING, 0, 0);
        EXPECT_EQ(module->seen_pins, std::vector<int32_t>{0});
        Dispatch(record, SE_OP_CLOSE);
    }
}

TEST(HostileHost, GetValueStaysInsideTheBlock) {
    float buffer[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    struct Case {
        int32_t block_size;
        uint32_t buffer_clock;
        uint32_t sample_clock;
        float expected;
    };
    const Case cases[] = {
        {4, 1000, 1002, 3.0f}, {4, 1000, 1003, 4.0f},  {4, 1000, 1004, 4.0f},     {4, 1000, 900000, 4.0f},
        {4, 1000, 999, 1.0f},  {4, 1000, 0, 1.0f},     {4, 0xFFFFFFFEu, 1, 4.0f}, {4, 5, 0xFFFFFFFFu, 1.0f},
        {0, 1000, 1003, 1.0f}, {-8, 1000, 1003, 1.0f},
    };
    for (const Case& c : cases) {
        MockHost host;
        host.pin_count = 1;
        host.pin_buffers = {buffer};
        HostRecord* record = Make(host);
        ProbeModule* module = ModuleOf(record);
        module->declarations = {Declaration(DT_FSAMPLE)};
        Dispatch(record, SE_OP_SET_BLOCK_SIZE, 0, c.block_size);
        Dispatch(record, SE_OP_OPEN);
        host.buffer_clock = c.buffer_clock;
        host.sample_clock = c.sample_clock;
        EXPECT_EQ(module->GetPin(0)->GetValue(), c.expected)
            << "block " << c.block_size << ", buffer clock " << c.buffer_clock << ", clock " << c.sample_clock;
        Dispatch(record, SE_OP_CLOSE);
    }
}

// Contract checks stop the process with the broken condition's text, the
// frame source file and line, and the call (and clock) they broke in.
std::string Escaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string CheckPattern(const std::string& file, const std::string& text, const std::string& where) {
    return file + "\\([0-9]+\\): assertion failed: " + Escaped(text) + "; " + Escaped(where) + "\n";
}

class ContractChecks : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SE_DEBUG_CHECKS) GTEST_SKIP() << "contract checks are compiled out of this build";
    }
};

TEST_F(ContractChecks, PinsBeforeTheTable) {
    EXPECT_DEATH(
        {
            MockHost host;
            HostRecord* record = Make(host);
            ModuleOf(record)->GetPin(0);
        },
        CheckPattern("se_sdk2/SEModule_base.cpp", "m_pins != 0",
                     "in GetPin(0): no pin table (the host answered 0 pins at open), at clock 0"));
    EXPECT_DEATH(
        {
            MockHost host;
            HostRecord* record = Make(host);
            Deliver(record, 0, EV_PIN_STATUS, ST_STREAMING, 0, 0);
        },
        CheckPattern("se_sdk2/SEModule_base.cpp", "m_pins != 0",
                     "in GetPin(0): no pin table (the host answered 0 pins at open), at clock 0"));
}

TEST_F(ContractChecks, EventsInThePastAndLateDeliveries) {
    EXPECT_DEATH(
        {
            MockHost host;
            host.sample_clock = 100;
            HostRecord* record = Make(host);
            ModuleOf(record)->AddEvent(99, EV_PIN_DATA, 0, 0, nullptr);
        },
        CheckPattern("se_sdk2/SEModule_base.cpp", "p_time_stamp >= SampleClock()",
                     "in AddEvent: event kind 2 stamped 99 at clock 100"));
    EXPECT_DEATH(
        {
            MockHost host;
            host.sample_clock = 100;
            HostRecord* record = Make(host);
            Deliver(record, 96, 5, 0, 0, 0);  // checked for ignored kinds too
        },
        CheckPattern("se_sdk2/SEModule_base.cpp", "e->time_stamp == SampleClock()",
                     "in HandleEvent: event kind 5 stamped 96, delivered at clock 100"));
}

TEST_F(ContractChecks, PatchStoreRuleAndSampleReads) {
    // The rule's own text, as quoted for this check.
    const char* rule =
        "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((SEPinProperties*)ptr)->flags & IO_PRIVATE) != "
        "0 || ((SEPinProperties*)ptr)->direction == DR_OUT || ( ( (SEPinProperties*)ptr)->flags & "
        "IO_UI_COMMUNICATION) != 0";
    EXPECT_DEATH(
        {
            MockHost host;
            HostRecord* record = Make(host);
            ModuleOf(record)->declarations = {Declaration(DT_INT, nullptr, IO_PATCH_STORE)};
            SEPinProperties p;
            std::memset(&p, 0, sizeof p);
            Dispatch(record, SE_OP_GET_PIN_PROPERTIES, 0, 0, &p);
        },
        CheckPattern("se_sdk2/SEModule_base.cpp", rule, "in GetPinProperties(0): direction 0, flags 0x10000"));
    EXPECT_DEATH(
        {
            MockHost host;
            host.pin_count = 1;
            HostRecord* record = Make(host);
            ModuleOf(record)->declarations = {Declaration(DT_INT)};
            Dispatch(record, SE_OP_OPEN);
            ModuleOf(record)->GetPin(0)->GetValue();
        },
        CheckPattern("se_sdk2/SEPin.cpp", "m_datatype == DT_FSAMPLE", "in GetValue of pin 0, data type 8"));

    // Each of the rule's three ways out is accepted.
    MockHost host;
    HostRecord* record = Make(host);
    ModuleOf(record)->declarations = {Declaration(DT_INT, nullptr, IO_PATCH_STORE | IO_PRIVATE),
                                      Declaration(DT_INT, nullptr, IO_PATCH_STORE, DR_OUT),
                                      Declaration(DT_INT, nullptr, IO_PATCH_STORE | IO_UI_COMMUNICATION)};
    for (int32_t i = 0; i < 3; ++i) {
        SEPinProperties p;
        std::memset(&p, 0, sizeof p);
        EXPECT_EQ(Dispatch(record, SE_OP_GET_PIN_PROPERTIES, i, 0, &p), 1);
    }
    Dispatch(record, SE_OP_CLOSE);
}

}  // namespace
