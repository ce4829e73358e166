// A host reduced to what one instance needs, with switches for the faults a
// badly written host makes: a pin count answered too small, status events
// for pins that do not exist, a pin whose buffer address is never written, a
// buffer clock that puts the current sample outside the block. It keeps the
// buffers it hands out exactly one block long, so that a module reading or
// writing past them is seen by the sanitizer and by valgrind.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "../../se_sdk2/SEHostInterface.h"
#include "CallbackAnswers.h"
#include "Limits.h"
#include "SepHost.h"

namespace sepcheck {

struct Declaration {
    SEPinProperties properties;  // as answered (texts are the module's own)
};

// Enumeration of declarations stops where the engine's does, even if a
// module never refuses.
using sephost::kMaxDeclarations;

class BareHost {
public:
    BareHost(SEGetModulePropertiesFn get_properties, SEMakeModuleFn make_module);
    ~BareHost();  // closes the instance if it is still open
    BareHost(const BareHost&) = delete;
    BareHost& operator=(const BareHost&) = delete;

    // makeModule(0, 1) and the declaration walk; false with the reason.
    bool Make(std::string* error);
    // Pins from the declarations (one block of samples per DT_FSAMPLE pin,
    // defaults in place), the variables written, then rate and block size
    // (each only when given: a negative rate or block is not sent) and open.
    void Open(float sample_rate, int32_t block_size);
    // A host block begins at the current clock: the buffers' first sample
    // is this clock (for events delivered before the block's first call;
    // a call with start 0 also begins one).
    void StartBlock() { m_block_clock = m_clock; }
    // One process call at the current clock; the clock advances by count.
    void Process(int32_t start, int32_t count);
    // A status event for `pin` (any index), delivered at the current clock.
    void Deliver(int32_t pin, int32_t status);
    void Close();

    HostRecord* Record() const { return m_record; }
    const std::vector<Declaration>& Declarations() const { return m_declarations; }
    // Pins on the audio side, in table order: indexes into Declarations().
    const std::vector<int32_t>& PinDeclarations() const { return m_pin_declarations; }
    // The buffer of sample pin `pin` (one block), or null.
    float* Buffer(int32_t pin);
    int32_t BlockSize() const { return m_block_size; }
    uint32_t Clock() const { return m_clock; }
    // "output 16 sample 172 is inf" for the first NaN or infinite sample of
    // a sample output's buffer, or empty.
    std::string NonFiniteOutput();

    // Faults, set before Open.
    int32_t pin_count_answer = -1;     // -1: the true count
    std::set<int32_t> unwritten_pins;  // variables left as they are, buffer requests answered 0
    int64_t buffer_clock_shift = 0;    // added to the buffer clock answered

private:
    static int32_t SE_CALL Answer(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                  float opt);
    // The note of a dispatcher call, for the check's progress.
    sephost::CallNote Dispatch(int32_t opcode, int32_t index, int32_t value, float opt) const;

    SEGetModulePropertiesFn m_get_properties;
    SEMakeModuleFn m_make_module;
    HostRecord* m_record = nullptr;
    std::vector<Declaration> m_declarations;
    std::vector<int32_t> m_pin_declarations;
    std::vector<std::vector<float>> m_buffers;
    std::vector<int32_t> m_values;  // DT_ENUM / DT_INT pins
    sephost::CallbackAnswers m_answers;
    int32_t m_block_size = 1024;
    float m_sample_rate = 0.0f;
    bool m_opened = false;
    uint32_t m_clock = 0;
    uint32_t m_block_clock = 0;
};

// "0", "10", "-3.5": a whole-text number; false otherwise.
bool ParseNumber(const char* text, double* value);

}  // namespace sepcheck
