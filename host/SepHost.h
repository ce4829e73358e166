// The test host: loads module libraries (.sep), describes them, and runs a
// patch of instances exactly as the host application would: pins created
// from the module's declarations, sample rate and block size before open,
// process calls cut at event times, events delivered at their sample clocks,
// status relay along connections, sleep and wake, clones.
//
// The host knows modules only through the boundary header; it never includes
// a module's own headers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../se_sdk2/SEHostInterface.h"

namespace sephost {

// ---------------------------------------------------------------------------
// Libraries

class Library {
public:
    // Loads a .sep by path and resolves its two exports. On failure returns
    // null and says why in `error`: missing file, not a loadable library,
    // missing export.
    static std::unique_ptr<Library> Load(const std::string& path, std::string* error);

    // A library whose exports are functions of this process (unit tests of a
    // module class compiled into the test itself).
    static std::unique_ptr<Library> FromFunctions(SEGetModulePropertiesFn get_module_properties,
                                                  SEMakeModuleFn make_module, const std::string& name);

    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& Path() const { return m_path; }
    SEGetModulePropertiesFn GetModuleProperties() const { return m_get_module_properties; }
    SEMakeModuleFn MakeModule() const { return m_make_module; }

private:
    Library() = default;
    std::string m_path;
    void* m_handle = nullptr;
    SEGetModulePropertiesFn m_get_module_properties = nullptr;
    SEMakeModuleFn m_make_module = nullptr;
};

// ---------------------------------------------------------------------------
// Descriptions

struct Choice {
    std::string label;
    int32_t value = 0;
};

// "label=value,label=value" -> entries. An empty text is an empty list. A
// malformed entry (no '=', a value that is not an integer) is an error.
bool ParseChoices(const char* text, std::vector<Choice>* choices, std::string* error);

// Default texts. DT_FSAMPLE pins: a voltage, the float being the number
// divided by 10 ("10" is 1.0). List and integer pins: the integer. A null or
// unparsable text gives 0.
float DefaultSampleValue(const char* text);
int32_t DefaultIntegerValue(const char* text);

const char* DirectionName(int32_t direction);  // "in", "out", "setting", or the number
const char* DatatypeName(int32_t datatype);    // "enum", "float-sample", "int", or the number

struct PinDescription {
    int32_t declaration = 0;  // declaration index answered by opcode 6
    int32_t direction = 0;
    int32_t datatype = 0;
    int32_t flags = 0;
    std::string name;
    bool has_default = false;
    std::string default_text;
    bool has_choices = false;
    std::string choices_text;
    std::vector<Choice> choices;
    bool has_value_address = false;
};

struct ModuleDescription {
    std::string id;
    std::string name;
    std::string about;
    bool name_is_id = false;  // id and name are one text object
    int32_t sdk_version = 0;
    std::vector<PinDescription> pins;
};

// getModuleProperties(0), then one instance made only to enumerate its pin
// declarations (opcode 6 from index 0 until refused), then closed.
bool Describe(const Library& library, ModuleDescription* description, std::string* error);

std::string FormatDescriptionText(const ModuleDescription& description);
std::string FormatDescriptionJson(const ModuleDescription& description);

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
};

// One callback made by a module, as the host answered it.
struct CallbackRecord {
    int instance = -1;   // -1: made by an instance the engine does not run
    uint32_t clock = 0;  // the host's sample clock at the call
    int32_t opcode = 0;
    int32_t index = 0;
    int32_t value = 0;
    uintptr_t ptr = 0;
    int32_t result = 0;
};

std::string FormatCallback(const CallbackRecord& record);

class Engine {
public:
    explicit Engine(EngineOptions options = EngineOptions());
    ~Engine();  // closes what is still open
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Places a module with `voices` clones (voices >= 1), all created now with
    // makeModule and described (opcode 6); pins get their default values.
    // Instances are numbered across the patch in creation order; returns the
    // number of the first clone, or -1 with `error` (a refused makeModule, a
    // record with a wrong magic).
    int Place(const Library& library, int voices, std::string* error);

    int InstanceCount() const;

    // The declarations an instance answered to opcode 6, UI-only ones
    // included (they get no pin).
    std::vector<PinDescription> Declarations(int instance) const;

    // Output pin `out_pin` of instance `from` feeds input pin `in_pin` of
    // instance `to`: the input reads the output's buffer. An output may feed
    // many inputs; an input has one source.
    bool Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error);

    // Sends sample rate and block size to every instance and opens them, in
    // `order` (instance numbers) or in creation order. Fails on a cycle in
    // the connections.
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
    // initial announcement).
    void StreamInput(int instance, int32_t pin, const std::vector<float>& samples, uint32_t at = 0);

    // Delivers a status change of an input at clock `at` without changing
    // its value.
    void SendStatus(int instance, int32_t pin, int32_t status, uint32_t at);

    // Runs `samples` samples as host blocks of at most block_size samples.
    // Returns false on a breach of the module contract (see Breaches).
    bool Run(uint32_t samples, std::string* error);

    uint32_t Clock() const;

    // Every sample an output buffer held, from open to now (what its
    // listeners saw: a sleeping instance's buffer keeps its contents).
    const std::vector<float>& Output(int instance, int32_t pin) const;

    bool Sleeping(int instance) const;
    int32_t PinCount(int instance) const;
    int32_t PinStatus(int instance, int32_t pin) const;  // last status sent or delivered
    HostRecord* Record(int instance) const;
    void* Object(int instance) const;  // HostRecord::object

    // Process calls made to an instance: (clock of `start`, start, count).
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
