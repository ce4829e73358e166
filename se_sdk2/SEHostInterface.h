// The boundary between a host and a module library: records, entry points,
// opcodes and codes. Everything here is little-endian with 32-bit fields and
// 32-bit pointers; the static_asserts beside each record make a layout slip
// fail the build instead of a host.
//
// This is the only header that a host and a module share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SEExport.h"

struct HostRecord;
struct HostEvent;
struct ModuleProperties;
struct SEPinProperties;

// ---------------------------------------------------------------------------
// Entry point types

// The host callback. [any module call, on the caller's thread]
// `record` is the calling instance's record (for SE_CB_NEXT_CLONE: the record
// of the clone asked through). The frame always passes 0 for `opt`.
typedef int32_t(SE_CALL* seaudioMasterFn)(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                          float opt);

// HostRecord::dispatcher. [host thread, any time between makeModule and
// SE_OP_CLOSE] Forwards to the instance's Dispatch.
typedef int32_t(SE_CALL* SEDispatcherFn)(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                         float opt);

// HostRecord::process_function. [audio thread, between SE_OP_OPEN and
// SE_OP_CLOSE] `object` is HostRecord::object; produces `count` samples
// starting at index `start` of the current pin buffers.
typedef void(SE_CALL* SEProcessFn)(void* object, int32_t start, int32_t count);

// HostRecord::event_function. [audio thread, between process calls, exactly
// at the event's sample clock] The event is the host's copy; the module does
// not keep the pointer.
typedef void(SE_CALL* SEEventFn)(void* object, HostEvent* event);

// Exported: fills the description of module `index`. [host, any time]
// Returns 1 for index 0, else 0; always writes sdk_version first.
typedef int32_t(SE_CALL* SEGetModulePropertiesFn)(int32_t index, ModuleProperties* properties);

// Exported: creates an instance for index 0, kind 1 and returns the address of
// its record; anything else (or a failure) returns null. [host, any time]
typedef HostRecord*(SE_CALL* SEMakeModuleFn)(int32_t index, int32_t kind, seaudioMasterFn callback, void* reserved);

// The one module type of a library and the kind of object makeModule creates
// (its audio object; a library never creates a user-interface object).
constexpr int32_t SE_MODULE_INDEX = 0;
constexpr int32_t SE_KIND_AUDIO = 1;

// ---------------------------------------------------------------------------
// Module description, owned by the host and filled by getModuleProperties.
// The texts are static: they live as long as the library is loaded.

constexpr int32_t SE_SDK_VERSION = 2230;

struct ModuleProperties {
    const char* id;
    const char* name;
    const char* about;
    int32_t unused_12;  // not written by the plug-in
    int32_t unused_16;  // not written by the plug-in
    int32_t sdk_version;
};
static_assert(sizeof(ModuleProperties) == 24, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, id) == 0, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, name) == 4, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, about) == 8, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, unused_12) == 12, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, unused_16) == 16, "ModuleProperties layout");
static_assert(offsetof(ModuleProperties, sdk_version) == 20, "ModuleProperties layout");

// ---------------------------------------------------------------------------
// The record embedded in every instance; the host names the instance by its
// address from makeModule until SE_OP_CLOSE.

// 'S','E','P','L' with 'S' the most significant byte: bytes 4C 50 45 53.
constexpr int32_t SE_MAGIC = 0x5345504C;
constexpr int32_t SE_RECORD_VERSION = 1;

struct HostRecord {
    int32_t magic;
    int32_t version;
    void* host_reserved;  // makeModule's fourth argument, never read by the plug-in
    void* object;         // the instance: first argument of process and event calls
    int32_t spare;
    SEDispatcherFn dispatcher;
    SEProcessFn process_function;  // replaced at run time, see SE_CB_PROCESS_CHANGED
    SEEventFn event_function;
    int32_t reserved[4];
};
static_assert(sizeof(HostRecord) == 48, "HostRecord layout");
static_assert(offsetof(HostRecord, magic) == 0, "HostRecord layout");
static_assert(offsetof(HostRecord, version) == 4, "HostRecord layout");
static_assert(offsetof(HostRecord, host_reserved) == 8, "HostRecord layout");
static_assert(offsetof(HostRecord, object) == 12, "HostRecord layout");
static_assert(offsetof(HostRecord, spare) == 16, "HostRecord layout");
static_assert(offsetof(HostRecord, dispatcher) == 20, "HostRecord layout");
static_assert(offsetof(HostRecord, process_function) == 24, "HostRecord layout");
static_assert(offsetof(HostRecord, event_function) == 28, "HostRecord layout");
static_assert(offsetof(HostRecord, reserved) == 32, "HostRecord layout");

// ---------------------------------------------------------------------------
// Events: built by the frame on its stack and copied by the host in
// SE_CB_ADD_EVENT; the host's copy is handed to event_function when due.

struct HostEvent {
    uint32_t time_stamp;  // sample clock at which the event is due
    int32_t kind;
    int32_t value_a;
    int32_t value_b;
    void* pointer;
    HostEvent* next;  // null in every event the frame sends; the host's link
};
static_assert(sizeof(HostEvent) == 24, "HostEvent layout");
static_assert(offsetof(HostEvent, time_stamp) == 0, "HostEvent layout");
static_assert(offsetof(HostEvent, kind) == 4, "HostEvent layout");
static_assert(offsetof(HostEvent, value_a) == 8, "HostEvent layout");
static_assert(offsetof(HostEvent, value_b) == 12, "HostEvent layout");
static_assert(offsetof(HostEvent, pointer) == 16, "HostEvent layout");
static_assert(offsetof(HostEvent, next) == 20, "HostEvent layout");

enum : int32_t {
    EV_PIN_STATUS = 0,   // value_a = new status, pointer = pin index (an integer)
    EV_PIN_DATA = 2,     // value_a = data word, low 16 bits of value_b = signed tag
    EV_RUN_MEMBER = 21,  // pointer = code part of a member pointer (odd: 1 + vtable offset)
};

// ---------------------------------------------------------------------------
// Pin declaration, filled by SE_OP_GET_PIN_PROPERTIES into a zeroed record.

struct SEPinProperties {
    void* value_address;  // module variable holding the value, or null for own storage
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_text;  // e.g. "0", "10"; or null
    const char* choices;       // DT_ENUM: "label=value,label=value"; else null
    int32_t flags;
    int32_t spare;  // not written
};
static_assert(sizeof(SEPinProperties) == 32, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, value_address) == 0, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, direction) == 4, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, datatype) == 8, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, name) == 12, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, default_text) == 16, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, choices) == 20, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, flags) == 24, "SEPinProperties layout");
static_assert(offsetof(SEPinProperties, spare) == 28, "SEPinProperties layout");

// Data types. Own storage when value_address is null: DT_ENUM a 16-bit
// integer, DT_BYTE one byte, DT_WORD and DT_INT a 32-bit word, DT_FSAMPLE the
// buffer address asked with SE_CB_PIN_BUFFER; any other type none.
enum : int32_t {
    DT_ENUM = 0,
    DT_BYTE = 4,  // used by neither module
    DT_FSAMPLE = 5,
    DT_WORD = 6,  // used by neither module
    DT_INT = 8,
};

enum : int32_t {
    DR_IN = 0,
    DR_OUT = 1,
    DR_SETTING = 3,
};

enum : int32_t {
    IO_REPEATING = 0x8,           // last declaration repeats to fill the host's pins
    IO_PRIVATE = 0x100,           // patch-store rule only
    IO_UI_COMMUNICATION = 0x400,  // user-interface side: no table entry ...
    IO_UI_DSP_DUAL = 0x8000,      // ... unless also on the audio side
    IO_PATCH_STORE = 0x10000,     // needs IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION
};

// A UI-only declaration belongs to the user-interface side: it uses up a
// declaration index but gets no pin on the audio side. The frame's Open and
// the host both build their pin tables with this rule.
constexpr bool SEIsUiOnly(int32_t flags) { return (flags & IO_UI_COMMUNICATION) != 0 && (flags & IO_UI_DSP_DUAL) == 0; }

// The patch-store rule: a declaration with IO_PATCH_STORE must also carry
// IO_PRIVATE, be an output (DR_OUT), or carry IO_UI_COMMUNICATION. The frame
// stops on a declaration that breaks it (with the text below); the host's
// check reports it.
constexpr bool SEPatchStoreRuleHolds(int32_t direction, int32_t flags) {
    return (flags & IO_PATCH_STORE) == 0 || (flags & IO_PRIVATE) != 0 || direction == DR_OUT ||
           (flags & IO_UI_COMMUNICATION) != 0;
}
static_assert(SEPatchStoreRuleHolds(DR_IN, 0) && !SEPatchStoreRuleHolds(DR_IN, IO_PATCH_STORE) &&
                  SEPatchStoreRuleHolds(DR_IN, IO_PATCH_STORE | IO_PRIVATE) &&
                  SEPatchStoreRuleHolds(DR_OUT, IO_PATCH_STORE) &&
                  SEPatchStoreRuleHolds(DR_SETTING, IO_PATCH_STORE | IO_UI_COMMUNICATION),
              "patch-store rule");
// The rule's text as the frame's contract check reports it.
constexpr const char kSEPatchStoreRuleText[] =
    "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
    "((SEPinProperties*)ptr)->direction == DR_OUT || ( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0";

// Pin statuses.
enum : int32_t {
    ST_STILL = 0,         // one sample stands for the whole buffer
    ST_CHANGED_ONCE = 1,  // changed once, still from then on; falls back to ST_STILL
    ST_STREAMING = 2,     // read sample by sample
};

// ---------------------------------------------------------------------------
// Dispatcher opcodes, sent by the host through HostRecord::dispatcher.
// Opcodes 4, 5, 9 and 11 do nothing and answer 0; 7 and 10 are never sent.

enum : int32_t {
    SE_OP_OPEN = 0,                // Open; result 0
    SE_OP_CLOSE = 1,               // Close, then the instance destroys itself; result 1
    SE_OP_SET_SAMPLE_RATE = 2,     // opt = rate in Hz; before SE_OP_OPEN
    SE_OP_SET_BLOCK_SIZE = 3,      // value = block size in samples; before SE_OP_OPEN
    SE_OP_GET_PIN_PROPERTIES = 6,  // index, ptr = zeroed SEPinProperties; 1 if declared
    SE_OP_RESUME = 8,              // Resume, then ResumeWith(index) when index > 0
    SE_OP_HOST_NOTICE = 12,        // HostNotice(value, index, ptr)
    SE_OP_PROCESS_INFO = 13,       // result: address of the library's process-info record
};

// ---------------------------------------------------------------------------
// Host callback opcodes, sent by the frame through seaudioMaster.

enum : int32_t {
    SE_CB_PIN_STATUS = 0,        // index = pin, value = status, ptr = time stamp
    SE_CB_IS_CONNECTED = 1,      // index = pin; non-zero when connected
    SE_CB_SAMPLE_CLOCK = 3,      // current clock: of sample `start` in process, the stamp in events
    SE_CB_PIN_SEND = 4,          // index = pin, value = word, ptr = time stamp
    SE_CB_PIN_BUFFER = 7,        // index = pin; address of its sample buffer
    SE_CB_BUFFER_CLOCK = 8,      // index = pin; sample clock of element 0 of its buffer
    SE_CB_SLEEP = 10,            // stop calling process until a pin status change
    SE_CB_FIRST_CLONE = 12,      // ptr = HostRecord** to receive the first clone
    SE_CB_NEXT_CLONE = 13,       // ptr as for 12, sent through the last clone received
    SE_CB_PIN_COUNT = 14,        // number of pins the host created; asked in Open
    SE_CB_ADD_EVENT = 19,        // ptr = HostEvent, copied by the host during the call
    SE_CB_PROCESS_CHANGED = 22,  // call the new process_function from the next call on
};

// The record answered by SE_OP_PROCESS_INFO: one per library, shared by all
// instances and rewritten by each call.
constexpr int32_t SE_PROCESS_INFO_WORD0 = 1;
constexpr int32_t SE_PROCESS_INFO_POINTER_SIZE = 8;
constexpr int32_t SE_PROCESS_INFO_WORD3 = 1002;

struct SEProcessInfo {
    int32_t word0;                 // SE_PROCESS_INFO_WORD0
    int32_t word1;                 // SE_PROCESS_INFO_POINTER_SIZE: size of the member pointer below
    const void* process_function;  // address of the instance's m_process_function
    int32_t word3;                 // SE_PROCESS_INFO_WORD3
};
static_assert(sizeof(SEProcessInfo) == 16, "SEProcessInfo layout");
static_assert(offsetof(SEProcessInfo, process_function) == 8, "SEProcessInfo layout");
