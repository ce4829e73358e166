// Running a patch of module instances exactly as the host application
// would: pins created from the module's declarations, sample rate and block
// size before open, process calls cut at event times, events delivered at
// their sample clocks, status relay along connections, sleep and wake,
// clones. The engine's parts live in their own files (EngineCore.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../se_sdk2/SEHostInterface.h"
#include "Description.h"
#include "Limits.h"
#include "Monitor.h"
#include "OutputSink.h"

namespace sephost {

class Library;

// ---------------------------------------------------------------------------
// Running a patch

struct EngineOptions {
    float sample_rate = 44100.0f;
    // Sent with SE_OP_SET_BLOCK_SIZE; also the largest host block Run uses.
    int32_t block_size = 1024;
    // At the first sample clock the host announces every input's initial
    // status once (ST_CHANGED_ONCE, or ST_STREAMING for a streamed input), as
    // hosts do so that modules see their starting values. Off: a module's
    // first process call comes with no status change before it.
    bool announce_initial_status = true;
    // Keep a record of every callback a module makes.
    bool record_callbacks = false;
    // Keep every sample of every output (Output) in a history of at most
    // `history_limit` samples, all outputs together; off for long runs
    // (stream the outputs through a sink instead).
    bool record_outputs = true;
    size_t history_limit = kDefaultHistorySamples;
    // Kept callback records (record_callbacks) and process calls of all
    // instances together (record_process_calls): reaching a limit stops the
    // run.
    size_t callback_limit = kDefaultCallbackRecords;
    bool record_process_calls = true;
    size_t process_call_limit = kDefaultProcessCallRecords;
    // Fills driven inputs one sample at a time, each looked up on its own:
    // the former fill, kept as the reference that the run-by-run fill is
    // tested and measured against. Both give the same samples.
    bool fill_driven_by_sample = false;
    // Makes every process call when set (null: a plain call), for example
    // with the stack misaligned or the x87 unit set as other hosts leave it.
    void (*process_caller)(SEProcessFn process, void* object, int32_t start, int32_t count, void* context) = nullptr;
    void* process_caller_context = nullptr;
};

// Empty when the rate and the block size lie in the host's ranges, else the
// reason.
std::string CheckEngineOptions(const EngineOptions& options);

std::string FormatCallback(const CallbackRecord& record);
// "SE_CB_PIN_STATUS" for a callback opcode the host answers; else null.
const char* CallbackName(int32_t opcode);

// One call into a module, as a watcher sees it before the call is made.
struct CallNote {
    enum Kind { kMakeModule, kDispatcher, kProcess, kEvent };
    Kind kind = kProcess;
    int instance = -1;                         // the engine's number of the instance called
    int32_t opcode = 0, index = 0, value = 0;  // kDispatcher
    float opt = 0.0f;
    int32_t start = 0, count = 0;                            // kProcess
    uint32_t clock = 0;                                      // the sample clock at the call (kEvent: the event's stamp)
    int32_t event_kind = 0, event_pin = 0, event_value = 0;  // kEvent: its kind, pin (pointer field), value_a
    float sample_rate = 0.0f;
    int32_t block_size = 0;
};
// Told before every call the engine makes into a module (`note`) and after it
// returns (null); calls may nest. For a tool that names the call a module
// crashed or hung in. Null (the default): no one is told.
using CallWatchFn = void (*)(const CallNote* note);
void SetCallWatch(CallWatchFn watch);

class Engine {
public:
    explicit Engine(EngineOptions options = EngineOptions());
    ~Engine();  // closes what is still open
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Places a module with `voices` clones (1 to kMaxVoices), all created now
    // with makeModule and described (opcode 6); pins get their default values.
    // Instances are numbered across the patch in creation order; returns the
    // number of the first clone, or -1 with `error` (options out of range, a
    // refused makeModule, a record with a wrong magic or a null entry point,
    // pin buffers beyond kMaxBufferBytes); a failed Place leaves nothing.
    int Place(const Library& library, int voices, std::string* error);

    int InstanceCount() const;
    // The bytes of the pin buffers of every instance placed (at most
    // kMaxBufferBytes).
    size_t PinBufferBytes() const;

    // The declarations an instance answered to opcode 6, UI-only ones
    // included (they get no pin).
    std::vector<PinDescription> Declarations(int instance) const;
    // The descriptions of an instance's pins, in pin order: the declarations
    // that got a pin.
    std::vector<PinDescription> Pins(int instance) const;

    // Output pin `out_pin` of instance `from` feeds input pin `in_pin` of
    // instance `to`: the input reads the output's buffer. An output may feed
    // many inputs; an input has one source. Only DT_FSAMPLE pins connect
    // (list and int values are set by the host).
    bool Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error);

    // Sends sample rate and block size to every instance and opens them, in
    // `order` (instance numbers) or in creation order. Fails on a cycle in
    // the connections, or on options out of range. Whatever the open order, Run processes instances in
    // dependency order (sources first, ties in creation order).
    bool Open(std::string* error, const std::vector<int>& order = {});

    // Drives an unconnected input. DT_FSAMPLE: from clock `at` on the buffer
    // holds `value`. DT_ENUM / DT_INT: the value is written into the module
    // variable at `at`. Either way the pin's status ST_CHANGED_ONCE is
    // delivered at `at`. A value set at clock 0 before the first Run is the
    // pin's starting value: it is covered by the initial announcement (if
    // any) and sends no event of its own.
    void SetInput(int instance, int32_t pin, float value, uint32_t at = 0);
    void SetInputInt(int instance, int32_t pin, int32_t value, uint32_t at = 0);

    // Streams an unconnected DT_FSAMPLE input: sample k of `samples` is the
    // value at clock at + k, the last sample holds afterwards; ST_STREAMING
    // is delivered at `at` (at clock 0 before the first Run: part of the
    // initial announcement). With `announce` false no status is sent: the
    // samples continue a stream the module has been told of.
    void StreamInput(int instance, int32_t pin, const std::vector<float>& samples, uint32_t at = 0,
                     bool announce = true);

    // The value an unconnected DT_FSAMPLE input will hold at `clock`, as
    // driven so far; false for any other pin. A run forgets the values it
    // has passed, so ask before the run reaches `clock` (an engine driven
    // again the same way and not run answers for every clock).
    bool DrivenInput(int instance, int32_t pin, uint32_t clock, float* value) const;

    // Delivers a status change of an input at clock `at` without changing
    // its value.
    void SendStatus(int instance, int32_t pin, int32_t status, uint32_t at);

    // Runs `samples` samples as host blocks of at most block_size samples.
    // Returns false on a breach of the module contract (see Breaches); the
    // run still goes to its end, the breaching request answered with 0.
    // A host failure (a limit reached, a sink refusing a block) stops the
    // run at once and is the error.
    // Inputs driven with a clock already passed take effect at the current
    // clock. An event stamped inside a call that already covered its clock
    // is delivered right after that call, the sample clock reading its
    // stamp; an event at the next block's first clock waits for that block.
    bool Run(uint32_t samples, std::string* error);

    uint32_t Clock() const;

    // The instance numbers in the order each block runs them (sources
    // first); empty before Open.
    const std::vector<int>& RunOrder() const;

    // Every sample an output buffer held, from open to now (what its
    // listeners saw: a sleeping instance's buffer keeps its contents); empty
    // when record_outputs is off.
    const std::vector<float>& Output(int instance, int32_t pin) const;

    // Adds a sink (not owned; it must outlive the runs) that receives every
    // finished block of every output; added before the first Run.
    void AddSink(OutputSink* sink);

    // The contract monitor: breaches, trace, counts, and the rules a
    // command adds.
    ContractMonitor& Monitor();
    const ContractMonitor& Monitor() const;

    bool Sleeping(int instance) const;
    int32_t PinCount(int instance) const;
    int32_t PinStatus(int instance, int32_t pin) const;  // last status sent or delivered
    HostRecord* Record(int instance) const;
    void* Object(int instance) const;  // HostRecord::object

    // Process calls made to an instance: (clock of `start`, start, count);
    // kept while record_process_calls is on.
    struct ProcessCall {
        uint32_t clock;
        int32_t start;
        int32_t count;
    };
    const std::vector<ProcessCall>& ProcessCalls(int instance) const;

    const std::vector<CallbackRecord>& Callbacks() const;
    void ClearCallbacks();

    // Breaches of the module's side of the contract, one text each ("pin
    // status stamped at clock 64 before the current clock 96").
    const std::vector<std::string>& Breaches() const;

    // Sends a dispatcher opcode to an instance (for example SE_OP_RESUME).
    int32_t Dispatch(int instance, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);

    // Closes every instance; the clones of one module are destroyed together.
    void Close();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sephost
