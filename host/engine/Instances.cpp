// The patch: instances and their pins, connections and the dependency order,
// placing (all clones made, checked and described before any is kept; on a
// failure every clone made is closed again), opening and closing.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "EngineCore.h"
#include "Library.h"

namespace sephost {

namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
}

// Why a record handed out by makeModule cannot be used, or empty. `closable`
// says whether its dispatcher may still be called to close it; a record that
// is not ours to call into is leaked on purpose.
std::string RecordProblem(const HostRecord* record, bool* closable) {
    *closable = false;
    if (record == nullptr) return "makeModule refused to create an instance (returned null)";
    if (record->magic != SE_MAGIC) {
        char text[128];
        std::snprintf(text, sizeof text, "the instance record has a wrong magic 0x%08X (expected 0x%08X)",
                      static_cast<unsigned>(record->magic), static_cast<unsigned>(SE_MAGIC));
        return text;
    }
    if (record->version != SE_RECORD_VERSION)
        return "the instance record has version " + std::to_string(record->version) + " (expected " +
               std::to_string(SE_RECORD_VERSION) + ")";
    if (record->dispatcher == nullptr) return "the instance record has a null dispatcher";
    *closable = true;
    if (record->event_function == nullptr) return "the instance record has a null event function";
    return "";
}

// The declarations, each described, and a pin for each one that is not
// UI-only, at its start values, its buffer not yet made.
void ReadDeclarations(Instance* inst) {
    const AskDeclaration ask = [inst](int32_t declaration, SEPinProperties* properties) {
        return CallDispatcher(inst, inst->record, SE_OP_GET_PIN_PROPERTIES, declaration, 0, properties, 0.0f) != 0;
    };
    WalkDeclarations(ask, [inst](int32_t declaration, int32_t pin_index, const SEPinProperties& properties) {
        inst->declarations.push_back(DescribeDeclaration(declaration, properties));
        if (pin_index < 0) return;
        const PinStart start = StartValues(properties);
        Pin pin;
        pin.description = inst->declarations.back();
        pin.value_address = properties.value_address;
        pin.default_value = start.sample;
        pin.value = start.integer;
        inst->pins.push_back(std::move(pin));
    });
}

}  // namespace

Engine::Impl::Impl(EngineOptions o)
    : options(o), monitor(o.record_callbacks, o.callback_limit), history(o.history_limit) {}

Engine::Impl::~Impl() {
    for (const auto& inst : instances)
        if (inst->record != nullptr) ForgetRecord(inst->record);
}

Instance* Engine::Impl::Get(int n) const {
    if (n < 0 || static_cast<size_t>(n) >= instances.size()) return nullptr;
    return instances[static_cast<size_t>(n)].get();
}

Pin* Engine::Impl::GetPin(int n, int32_t pin) const {
    Instance* inst = Get(n);
    if (inst == nullptr || pin < 0 || static_cast<size_t>(pin) >= inst->pins.size()) return nullptr;
    return &inst->pins[static_cast<size_t>(pin)];
}

int Engine::Impl::Place(const Library& library, int voices, std::string* error) {
    std::string why = CheckEngineOptions(options);
    if (opened || closed) why = "instances are placed before the patch is opened";
    if (voices < 1) why = "a module needs at least one voice";
    if (voices > kMaxVoices)
        why = "a module has at most " + std::to_string(kMaxVoices) + " voices, not " + std::to_string(voices);
    if (library.MakeModule() == nullptr) why = "the library has no makeModule";
    if (!why.empty()) {
        Fail(error, why);
        return -1;
    }

    std::vector<std::unique_ptr<Instance>> made;
    if (!MakeClones(library, voices, &made, error)) return -1;
    if (!BuildPins(made, error)) {
        Discard(made);
        return -1;
    }
    const int first = static_cast<int>(instances.size());
    groups.push_back({});
    for (auto& inst : made) {
        groups.back().push_back(inst->number);
        for (int32_t i = 0; i < static_cast<int32_t>(inst->pins.size()); ++i) WriteVariable(inst.get(), i);
        instances.push_back(std::move(inst));
    }
    return first;
}

// Every clone is created before any of them is described or opened.
bool Engine::Impl::MakeClones(const Library& library, int voices, std::vector<std::unique_ptr<Instance>>* made,
                              std::string* error) {
    for (int v = 0; v < voices; ++v) {
        std::unique_ptr<Instance> inst(new Instance());
        inst->impl = this;
        inst->number = static_cast<int>(instances.size()) + v;
        inst->group = static_cast<int>(groups.size());
        HostRecord* record = CallMakeModule(library, inst.get());
        bool closable = false;
        const std::string why = RecordProblem(record, &closable);
        if (!why.empty()) {
            if (closable) CallDispatcher(inst.get(), record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
            Discard(*made);
            return Fail(error, why);
        }
        RegisterRecord(record, inst.get());
        inst->record = record;
        inst->process = record->process_function;
        made->push_back(std::move(inst));
    }
    return true;
}

// Declarations, then the memory check, then the buffers.
bool Engine::Impl::BuildPins(std::vector<std::unique_ptr<Instance>>& made, std::string* error) {
    size_t sample_pins = 0;
    for (auto& inst : made) {
        ReadDeclarations(inst.get());
        for (const Pin& pin : inst->pins) sample_pins += pin.description.datatype == DT_FSAMPLE ? 1 : 0;
    }
    const size_t block = static_cast<size_t>(options.block_size);
    // In 64 bits: 256 voices of 1 Mi-sample buffers overflow a 32-bit size.
    const unsigned long long bytes = 1ull * sample_pins * block * sizeof(float);
    if (buffer_bytes + bytes > kMaxBufferBytes)
        return Fail(error, "the pin buffers would take " + std::to_string((buffer_bytes + bytes) >> 20) + " MiB (" +
                               std::to_string(sample_pins) + " sample pins of " + std::to_string(block) +
                               " samples, with the rest of the patch), more than the host's limit of " +
                               std::to_string(kMaxBufferBytes >> 20) + " MiB; use a smaller block or fewer voices");
    buffer_bytes += static_cast<size_t>(bytes);
    for (auto& inst : made)
        for (Pin& pin : inst->pins)
            if (pin.description.datatype == DT_FSAMPLE) pin.buffer.assign(block, pin.default_value);
    return true;
}

void Engine::Impl::Discard(std::vector<std::unique_ptr<Instance>>& made) {
    for (auto& inst : made) CloseInstance(inst.get());
    made.clear();
}

bool Engine::Impl::Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error) {
    if (opened) return Fail(error, "connections are made before the patch is opened");
    Pin* out = GetPin(from, out_pin);
    Pin* in = GetPin(to, in_pin);
    const std::string names = "instance " + std::to_string(from) + " pin " + std::to_string(out_pin) + " -> instance " +
                              std::to_string(to) + " pin " + std::to_string(in_pin);
    if (out == nullptr || in == nullptr) return Fail(error, "no such pin: " + names);
    if (out->description.direction != DR_OUT) return Fail(error, "not an output: " + names);
    if (in->description.direction == DR_OUT) return Fail(error, "not an input: " + names);
    // Only sample buffers travel along connections; list and int values
    // are the host's to set.
    if (out->description.datatype != DT_FSAMPLE || in->description.datatype != DT_FSAMPLE)
        return Fail(error, "only float-sample pins connect: " + names);
    if (in->source_instance >= 0) return Fail(error, "the input already has a source: " + names);
    in->source_instance = from;
    in->source_pin = out_pin;
    out->listeners.push_back({to, in_pin});
    WriteVariable(Get(to), in_pin);
    return true;
}

// Sources first, ties in creation order; what is left over lies on a cycle.
bool Engine::Impl::DependencyOrder(std::string* error) {
    const int count = static_cast<int>(instances.size());
    std::vector<int> pending(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i)
        for (const auto& pin : instances[static_cast<size_t>(i)]->pins)
            if (pin.source_instance >= 0) ++pending[static_cast<size_t>(i)];
    std::vector<bool> done(static_cast<size_t>(count), false);
    run_order.clear();
    while (static_cast<int>(run_order.size()) < count) {
        int next = -1;
        for (int i = 0; i < count && next < 0; ++i)
            if (!done[static_cast<size_t>(i)] && pending[static_cast<size_t>(i)] == 0) next = i;
        if (next < 0) {
            std::string cycle;
            for (int i = 0; i < count; ++i)
                if (!done[static_cast<size_t>(i)]) cycle += (cycle.empty() ? "" : ", ") + std::to_string(i);
            return Fail(error, "the connections form a cycle through instances " + cycle);
        }
        done[static_cast<size_t>(next)] = true;
        run_order.push_back(next);
        for (const auto& pin : instances[static_cast<size_t>(next)]->pins)
            for (const auto& listener : pin.listeners) --pending[static_cast<size_t>(listener.first)];
    }
    return true;
}

bool Engine::Impl::Open(std::string* error, const std::vector<int>& order) {
    if (opened || closed) return Fail(error, "the patch was already opened");
    const std::string bad_options = CheckEngineOptions(options);
    if (!bad_options.empty()) return Fail(error, bad_options);
    if (!DependencyOrder(error)) return false;
    const int count = static_cast<int>(instances.size());
    std::vector<int> open_order = order;
    if (open_order.empty())
        for (int i = 0; i < count; ++i) open_order.push_back(i);
    std::vector<bool> listed(static_cast<size_t>(count), false);
    for (int n : open_order) {
        if (n < 0 || n >= count || listed[static_cast<size_t>(n)])
            return Fail(error, "the open order must name each instance once");
        listed[static_cast<size_t>(n)] = true;
    }
    for (int i = 0; i < count; ++i)
        if (!listed[static_cast<size_t>(i)]) open_order.push_back(i);

    opened = true;
    now = clock;
    block_clock = clock;
    // Rate and block size reach every instance before the first is opened.
    for (int n : open_order) {
        Instance* inst = Get(n);
        CallDispatcher(inst, inst->record, SE_OP_SET_SAMPLE_RATE, 0, 0, nullptr, options.sample_rate);
        CallDispatcher(inst, inst->record, SE_OP_SET_BLOCK_SIZE, 0, options.block_size, nullptr, 0.0f);
    }
    for (int n : open_order) {
        Instance* inst = Get(n);
        CallDispatcher(inst, inst->record, SE_OP_OPEN, 0, 0, nullptr, 0.0f);
        inst->opened = true;
    }
    return true;
}

// The record is gone once SE_OP_CLOSE is sent: a closed clone leaves the
// clone walk at once, and its record is no longer answered after the call.
int32_t Engine::Impl::CloseInstance(Instance* inst) {
    HostRecord* record = inst->record;
    if (record == nullptr) return 0;
    inst->record = nullptr;
    inst->process = nullptr;
    const int32_t result = CallDispatcher(inst, record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
    ForgetRecord(record);
    return result;
}

// Group by group, each clone closed (and destroyed) one after the other.
void Engine::Impl::Close() {
    for (const auto& group : groups)
        for (int number : group) CloseInstance(Get(number));
    if (!instances.empty() || opened) closed = true;
}

// Writes what a pin's module variable must hold: its buffer address (a
// connected input reads its source's buffer) or its integer value.
void Engine::Impl::WriteVariable(Instance* inst, int32_t index) {
    Pin& pin = inst->pins[static_cast<size_t>(index)];
    if (pin.value_address == nullptr || inst->record == nullptr) return;
    switch (pin.description.datatype) {
    case DT_FSAMPLE: {
        float* buffer = BufferOf(inst, index);
        std::memcpy(pin.value_address, &buffer, sizeof buffer);
        break;
    }
    case DT_ENUM: {
        const int16_t v = static_cast<int16_t>(std::max<int32_t>(INT16_MIN, std::min<int32_t>(INT16_MAX, pin.value)));
        std::memcpy(pin.value_address, &v, sizeof v);
        break;
    }
    case DT_INT:
        std::memcpy(pin.value_address, &pin.value, sizeof pin.value);
        break;
    default:
        break;
    }
}

float* Engine::Impl::BufferOf(Instance* inst, int32_t index) {
    Pin& pin = inst->pins[static_cast<size_t>(index)];
    if (pin.description.datatype != DT_FSAMPLE) return nullptr;
    if (pin.source_instance >= 0) {
        Pin* source = GetPin(pin.source_instance, pin.source_pin);
        if (source != nullptr && !source->buffer.empty()) return source->buffer.data();
    }
    return pin.buffer.data();
}

}  // namespace sephost
