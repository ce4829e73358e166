// The base class of every audio module: owns the instance's HostRecord,
// answers the dispatcher opcodes through its virtual operations, builds the
// pin table at open, keeps the current process function, turns delivered
// events into calls on pins and on the module, and is the module's way to the
// host.
#pragma once

#include <cstdint>
#include <type_traits>

#include "SEExport.h"
#include "SEFloatGuard.h"
#include "SEHostInterface.h"
#include "SEPin.h"

class SEModule_base {
public:
    // A process function: a non-virtual member of the module class taking
    // (start, count). Itanium layout: code address, then this-adjustment.
    typedef void (SEModule_base::*ProcessMember)(int32_t start, int32_t count);
    typedef void (SEModule_base::*RunMember)();
    static_assert(sizeof(ProcessMember) == 8, "member pointers are two 32-bit words");

    // [makeModule] Fills the record; calls nothing on the host.
    SEModule_base(seaudioMasterFn callback, void* reserved);

    // Virtual operations, in this order of the virtual table.
    virtual ~SEModule_base();
    virtual void OnPinStatusChange(SEPin* pin);
    virtual void HandleEvent(HostEvent* e);
    virtual int32_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void Open();
    virtual void Close();
    virtual void SetSampleRate(float sample_rate);
    virtual void SetBlockSize(int32_t block_size);
    virtual float SampleRate();
    virtual int32_t BlockSize();
    virtual bool GetPinProperties(int32_t index, SEPinProperties* properties);
    virtual void Resume();
    virtual void ResumeWith(int32_t index);
    virtual void OnPinData(uint32_t time_stamp, int32_t data, int16_t tag);
    virtual void HostNotice(int32_t value, int32_t index, void* ptr);

    // Calls the host with this instance's record; 0 without a callback.
    int32_t CallHost(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    uint32_t SampleClock();
    // The table entry at `index`. An index outside the table the host asked
    // for (a host that answered the pin count too small) gives an unbound
    // stand-in pin instead: it reads 0, sends nothing and tells no module.
    SEPin* GetPin(int32_t index);
    // Entries in the pin table: the host's pin count at open, 0 before.
    int32_t PinCount() const { return m_pin_count; }
    HostRecord* GetHostRecord() { return &m_host_record; }

    // Installs `Process` (a member of the module class) as the process
    // function. The record gets a small forwarding function that calls the
    // member on the instance, because on 32-bit Windows a member's own code
    // expects `this` in a register and cannot be called as a plain function.
    template <auto Process>
    void SetProcessFunction();

    // Queues an event with the host; an event may not lie in the past.
    void AddEvent(uint32_t p_time_stamp, int32_t kind, int32_t value_a, int32_t value_b, void* pointer);

    // Queues a call of a member without arguments at `time_stamp`.
    template <class M>
    void RunDelayed(uint32_t time_stamp, void (M::*member)());

protected:
    seaudioMasterFn seaudioMaster;
    HostRecord m_host_record;
    float m_host_sample_rate;
    int32_t m_host_block_size;
    SEPin* m_pins;
    ProcessMember m_process_function;
    // Kept so that no index from the host or the module reaches past the
    // table, whatever count the host answered.
    int32_t m_pin_count;
    // Table indexes of the DT_FSAMPLE outputs, guarded after each call.
    int32_t* m_output_pins;
    int32_t m_output_pin_count;
    // What GetPin answers for an index outside the table.
    SEPin m_absent_pin;

private:
    template <class T>
    struct ProcessMemberClass;
    template <class M>
    struct ProcessMemberClass<void (M::*)(int32_t, int32_t)> {
        using type = M;
    };

    // The call runs under the flush modes; what it wrote on the output pins
    // is then guarded (finite, bounded, normal) before the host reads it.
    template <class M, void (M::*Process)(int32_t, int32_t)>
    static void SE_CALL SE_REALIGN_STACK ForwardProcess(void* object, int32_t start, int32_t count) {
        SEModule_base* base = static_cast<SEModule_base*>(object);
        const SEFloatModeScope flush_modes;
        (static_cast<M*>(base)->*Process)(start, count);
        base->GuardOutputs(start, count);
    }

    // Runs SEGuardSamples over samples [start, start + count) of every
    // DT_FSAMPLE output pin.
    void GuardOutputs(int32_t start, int32_t count);

    void InstallProcessFunction(ProcessMember member, SEProcessFn forwarder);
    void ProcessNothing(int32_t start, int32_t count);
    static uint32_t CodePart(const RunMember& member);
};

template <auto Process>
void SEModule_base::SetProcessFunction() {
    using M = typename ProcessMemberClass<decltype(Process)>::type;
    static_assert(std::is_base_of_v<SEModule_base, M>, "a process function is a member of the module class");
    InstallProcessFunction(static_cast<ProcessMember>(Process), &ForwardProcess<M, Process>);
}

template <class M>
void SEModule_base::RunDelayed(uint32_t time_stamp, void (M::*member)()) {
    static_assert(std::is_base_of_v<SEModule_base, M>, "a delayed call runs a member of the module");
    const uint32_t code = CodePart(static_cast<RunMember>(member));
    AddEvent(time_stamp, EV_RUN_MEMBER, 0, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(code)));
}
