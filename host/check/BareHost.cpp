#include "BareHost.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Progress.h"

namespace sepcheck {

bool ParseNumber(const char* text, double* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return *end == '\0';
}

BareHost::BareHost(SEGetModulePropertiesFn get_properties, SEMakeModuleFn make_module)
    : m_get_properties(get_properties), m_make_module(make_module) {
    m_answers.record = false;  // a module may call back without end; nothing reads the record
}

BareHost::~BareHost() { Close(); }

int32_t SE_CALL BareHost::Answer(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    if (record == nullptr || record->host_reserved == nullptr) return 0;
    BareHost* host = static_cast<BareHost*>(record->host_reserved);
    // The answers that follow the host's state; buffers and clones are set
    // where they change (Open, Make, Close).
    host->m_answers.sample_clock = host->m_clock;
    host->m_answers.buffer_clock = static_cast<uint32_t>(int64_t(host->m_block_clock) + host->buffer_clock_shift);
    host->m_answers.pin_count =
        host->pin_count_answer >= 0 ? host->pin_count_answer : static_cast<int32_t>(host->m_pin_declarations.size());
    return host->m_answers.Answer(record, opcode, index, value, ptr, opt);
}

namespace {

// Tells the check's progress (Progress.h) of one call into the module for
// the length of the scope.
class Noted {
public:
    explicit Noted(const sephost::CallNote& note) { BeginCall(note); }
    ~Noted() { EndCall(); }
    Noted(const Noted&) = delete;
    Noted& operator=(const Noted&) = delete;
};

sephost::CallNote Note(sephost::CallNote::Kind kind, float rate, int32_t block, uint32_t clock) {
    sephost::CallNote note;
    note.kind = kind;
    note.instance = -1;  // the minimal host's one instance is not numbered
    note.sample_rate = rate;
    note.block_size = block;
    note.clock = clock;
    return note;
}

}  // namespace

sephost::CallNote BareHost::Dispatch(int32_t opcode, int32_t index, int32_t value, float opt) const {
    // Before open no rate or block size has been sent.
    sephost::CallNote note =
        Note(sephost::CallNote::kDispatcher, m_opened ? m_sample_rate : 0.0f, m_opened ? m_block_size : 0, m_clock);
    note.opcode = opcode;
    note.index = index;
    note.value = value;
    note.opt = opt;
    return note;
}

bool BareHost::Make(std::string* error) {
    {
        Noted noted(Note(sephost::CallNote::kMakeModule, 0.0f, 0, 0));
        m_record = m_make_module(0, 1, &BareHost::Answer, this);
    }
    if (m_record == nullptr) {
        *error = "makeModule(0, 1) refused";
        return false;
    }
    if (m_record->magic != SE_MAGIC || m_record->dispatcher == nullptr) {
        *error = m_record->magic != SE_MAGIC ? "the record's magic is wrong" : "the record's dispatcher is null";
        m_record = nullptr;  // not ours to call into
        return false;
    }
    // One instance: it is its own first clone and has no next.
    m_answers.clones.assign(1, m_record);
    const sephost::AskDeclaration ask = [this](int32_t declaration, SEPinProperties* properties) {
        Noted noted(Dispatch(SE_OP_GET_PIN_PROPERTIES, declaration, 0, 0.0f));
        return m_record->dispatcher(m_record, SE_OP_GET_PIN_PROPERTIES, declaration, 0, properties, 0.0f) != 0;
    };
    sephost::WalkDeclarations(ask, [this](int32_t, int32_t pin, const SEPinProperties& properties) {
        if (pin >= 0) m_pin_declarations.push_back(static_cast<int32_t>(m_declarations.size()));
        m_declarations.push_back({properties});
    });
    return true;
}

float* BareHost::Buffer(int32_t pin) {
    if (pin < 0 || static_cast<size_t>(pin) >= m_buffers.size() || m_buffers[pin].empty()) return nullptr;
    return m_buffers[pin].data();
}

std::string BareHost::NonFiniteOutput() {
    for (int32_t pin = 0; pin < int32_t(m_pin_declarations.size()); ++pin) {
        const SEPinProperties& p = m_declarations[m_pin_declarations[pin]].properties;
        const float* out = Buffer(pin);
        if (p.direction != DR_OUT || p.datatype != DT_FSAMPLE || out == nullptr) continue;
        for (int32_t j = 0; j < m_block_size; ++j) {
            if (std::isfinite(out[j])) continue;
            char text[96];
            std::snprintf(text, sizeof text, "output %d sample %d is %g", int(pin), int(j), double(out[j]));
            return text;
        }
    }
    return "";
}

void BareHost::Open(float sample_rate, int32_t block_size) {
    if (m_record == nullptr) return;
    m_block_size = block_size > 0 ? block_size : 1024;
    m_buffers.assign(m_pin_declarations.size(), {});
    m_values.assign(m_pin_declarations.size(), 0);
    m_answers.pin_buffers.assign(m_pin_declarations.size(), nullptr);
    for (size_t pin = 0; pin < m_pin_declarations.size(); ++pin) {
        const SEPinProperties& p = m_declarations[m_pin_declarations[pin]].properties;
        const sephost::PinStart start = sephost::StartValues(p);
        if (p.datatype == DT_FSAMPLE)
            m_buffers[pin].assign(static_cast<size_t>(m_block_size), start.sample);
        else
            m_values[pin] = start.integer;
        if (unwritten_pins.count(static_cast<int32_t>(pin)) != 0) continue;
        m_answers.pin_buffers[pin] = Buffer(static_cast<int32_t>(pin));
        if (p.value_address == nullptr) continue;
        if (p.datatype == DT_FSAMPLE) {
            float* buffer = m_buffers[pin].data();
            std::memcpy(p.value_address, &buffer, sizeof buffer);
        } else if (p.datatype == DT_ENUM) {
            const int16_t v = static_cast<int16_t>(m_values[pin]);
            std::memcpy(p.value_address, &v, sizeof v);
        } else if (p.datatype == DT_INT) {
            std::memcpy(p.value_address, &m_values[pin], sizeof m_values[pin]);
        }
    }
    m_sample_rate = sample_rate;
    m_opened = true;
    if (sample_rate >= 0.0f || sample_rate != sample_rate) {
        Noted noted(Dispatch(SE_OP_SET_SAMPLE_RATE, 0, 0, sample_rate));
        m_record->dispatcher(m_record, SE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
    }
    if (block_size >= 0) {
        Noted noted(Dispatch(SE_OP_SET_BLOCK_SIZE, 0, block_size, 0.0f));
        m_record->dispatcher(m_record, SE_OP_SET_BLOCK_SIZE, 0, block_size, nullptr, 0.0f);
    }
    Noted noted(Dispatch(SE_OP_OPEN, 0, 0, 0.0f));
    m_record->dispatcher(m_record, SE_OP_OPEN, 0, 0, nullptr, 0.0f);
}

void BareHost::Process(int32_t start, int32_t count) {
    if (m_record == nullptr || m_record->process_function == nullptr) return;
    if (start == 0) m_block_clock = m_clock;
    sephost::CallNote note = Note(sephost::CallNote::kProcess, m_sample_rate, m_block_size, m_clock);
    note.start = start;
    note.count = count;
    Noted noted(note);
    m_record->process_function(m_record->object, start, count);
    m_clock += static_cast<uint32_t>(count);
}

void BareHost::Deliver(int32_t pin, int32_t status) {
    if (m_record == nullptr || m_record->event_function == nullptr) return;
    HostEvent event;
    std::memset(&event, 0, sizeof event);
    event.time_stamp = m_clock;
    event.kind = EV_PIN_STATUS;
    event.value_a = status;
    event.pointer = reinterpret_cast<void*>(static_cast<intptr_t>(pin));
    sephost::CallNote note = Note(sephost::CallNote::kEvent, m_sample_rate, m_block_size, m_clock);
    note.event_kind = EV_PIN_STATUS;
    note.event_pin = pin;
    note.event_value = status;
    Noted noted(note);
    m_record->event_function(m_record->object, &event);
}

void BareHost::Close() {
    if (m_record == nullptr) return;
    HostRecord* record = m_record;
    m_record = nullptr;
    m_answers.clones.clear();
    Noted noted(Dispatch(SE_OP_CLOSE, 0, 0, 0.0f));
    record->dispatcher(record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

}  // namespace sepcheck
