// The engine's inside, shared by its parts:
//   Instances.cpp  instances, pins, connections, dependency order, placing,
//                  opening and closing;
//   Scheduler.cpp  block cutting, clocks, event delivery, sleep and wake,
//                  finished blocks to the sinks;
//   Inputs.cpp     driven and streamed inputs;
//   Callbacks.cpp  the host callback: one handler per opcode, in a table;
//   Calls.cpp      every call into a module, and the records the host made;
//   Monitor.cpp    the breach rules and the trace;  Sinks.cpp  the sinks.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Engine.h"
#include "EventQueue.h"

namespace sephost {

// A driven value of an unconnected sample input from clock `at` on.
struct Segment {
    uint32_t at;
    float value;
    std::vector<float> samples;  // streamed when not empty
};

struct Pin {
    PinDescription description;
    void* value_address = nullptr;  // the module variable the host keeps current
    std::vector<float> buffer;      // DT_FSAMPLE: one block, reused every block
    int32_t value = 0;              // DT_ENUM / DT_INT
    float default_value = 0.0f;     // DT_FSAMPLE input: what an undriven sample holds
    int32_t status = ST_STILL;
    int32_t status_at_first_clock = -1;  // output: status sent stamped at the first clock
    int source_instance = -1;
    int32_t source_pin = -1;
    std::vector<std::pair<int, int32_t>> listeners;
    std::vector<Segment> segments;  // sorted by `at`
    bool streamed_from_start = false;
};

struct Instance {
    Engine::Impl* impl = nullptr;
    int number = -1;
    int group = -1;
    HostRecord* record = nullptr;  // null once closed
    SEProcessFn process = nullptr;
    std::vector<PinDescription> declarations;
    std::vector<Pin> pins;
    EventQueue queue;
    std::vector<Engine::ProcessCall> calls;
    bool opened = false;
    bool sleeping = false;
    bool making = false;  // inside makeModule: its record is not known yet
};

// Calls into a module (Calls.cpp). Each marks the instance as the one being
// called, so that a callback with a record the host never made is laid at
// its door.
int32_t CallDispatcher(Instance* inst, HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                       float opt);
void CallProcess(Instance* inst, int32_t start, int32_t count, const EngineOptions& options);
void CallEvent(Instance* inst, HostEvent* event);
HostRecord* CallMakeModule(const Library& library, Instance* inst);
// The records the host made, and the instance behind each.
void RegisterRecord(HostRecord* record, Instance* inst);
void ForgetRecord(const HostRecord* record);
Instance* FindRecord(const HostRecord* record);
Instance* CallingInstance();

// The host callback (Callbacks.cpp).
int32_t SE_CALL HostCallback(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);

struct Engine::Impl {
    explicit Impl(EngineOptions o);
    ~Impl();

    EngineOptions options;
    std::vector<std::unique_ptr<Instance>> instances;
    std::vector<std::vector<int>> groups;
    std::vector<int> run_order;
    size_t buffer_bytes = 0;
    size_t process_call_records = 0;  // all instances together
    bool opened = false;
    bool closed = false;
    bool started = false;  // the first Run has begun
    uint32_t clock = 0;    // first clock of the next block
    uint32_t block_clock = 0;
    uint32_t now = 0;  // what SE_CB_SAMPLE_CLOCK answers
    ContractMonitor monitor;
    HistorySink history;
    std::vector<OutputSink*> sinks;
    std::vector<OutputId> outputs;

    Instance* Get(int n) const;
    Pin* GetPin(int n, int32_t pin) const;

    // Instances.cpp
    int Place(const Library& library, int voices, std::string* error);
    bool MakeClones(const Library& library, int voices, std::vector<std::unique_ptr<Instance>>* made,
                    std::string* error);
    bool BuildPins(std::vector<std::unique_ptr<Instance>>& made, std::string* error);
    void Discard(std::vector<std::unique_ptr<Instance>>& made);
    bool Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error);
    bool DependencyOrder(std::string* error);
    bool Open(std::string* error, const std::vector<int>& order);
    int32_t CloseInstance(Instance* inst);
    void Close();
    void WriteVariable(Instance* inst, int32_t index);
    float* BufferOf(Instance* inst, int32_t index);

    // Scheduler.cpp
    bool Run(uint32_t samples, std::string* error);
    void Start();
    void RunBlock(int32_t n);
    void RunInstance(Instance* inst, uint32_t block_start, int32_t n);
    bool DeliverDue(Instance* inst, uint32_t block_start, int32_t pos, int32_t n);
    void Deliver(Instance* inst, PendingEvent& pending);
    void EmitOutputs(uint32_t block_start, int32_t n);
    void QueueStatus(Instance* inst, int32_t pin, int32_t status, uint32_t at,
                     EventAction action = EventAction::kDeliver, int32_t int_value = 0);
    // An event a module caused (its own, or a relayed status): bounded.
    void QueueFromModule(Instance* inst, const HostEvent& event);

    // Inputs.cpp
    Pin* DrivablePin(int instance, int32_t pin);
    void AddSegment(Pin* pin, Segment segment);
    void FillDrivenInputs(Instance* inst, uint32_t block_start, int32_t n);
};

}  // namespace sephost
