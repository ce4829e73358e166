#include "Progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Drive.h"

namespace sepcheck {

namespace {

ProgressArea* g_area = nullptr;

const char* OpcodeName(int32_t opcode) {
    switch (opcode) {
    case SE_OP_OPEN:
        return "SE_OP_OPEN";
    case SE_OP_CLOSE:
        return "SE_OP_CLOSE";
    case SE_OP_SET_SAMPLE_RATE:
        return "SE_OP_SET_SAMPLE_RATE";
    case SE_OP_SET_BLOCK_SIZE:
        return "SE_OP_SET_BLOCK_SIZE";
    case SE_OP_GET_PIN_PROPERTIES:
        return "SE_OP_GET_PIN_PROPERTIES";
    default:
        return nullptr;
    }
}

void Watch(const sephost::CallNote* note) {
    if (note == nullptr) {
        EndCall();
        return;
    }
    if (g_area == nullptr) return;
    const std::string text = "instance " + std::to_string(note->instance) + " " + DescribeCall(*note);
    BeginCall(text.c_str(), note->sample_rate, note->block_size,
              note->kind == sephost::CallNote::kProcess ? note->count : 0);
}

}  // namespace

void ClearProgress(ProgressArea* area) {
    std::memset(area, 0, sizeof *area);
    area->case_index = -1;
}

void AttachProgress(ProgressArea* area, double call_limit) {
    g_area = area;
    if (area != nullptr) area->call_limit = call_limit;
    sephost::SetCallWatch(area != nullptr ? &Watch : nullptr);
}

ProgressArea* Progress() { return g_area; }

void NoteCase(int case_index) {
    if (g_area != nullptr) g_area->case_index = case_index;
}

double CallBound(double call_limit, int32_t samples) { return call_limit * std::max(1.0, samples / 1024.0); }

void BeginCall(const char* text, float sample_rate, int32_t block_size, int32_t samples) {
    ProgressArea* area = g_area;
    if (area == nullptr) return;
    if (area->depth > 0) {  // a nested call: the outermost is the one that hangs
        ++area->depth;
        return;
    }
    if (sample_rate > 0.0f) area->sample_rate = sample_rate;
    if (block_size > 0) area->block_size = block_size;
    std::snprintf(area->call, sizeof area->call, "%s", text);
    area->call_bound = CallBound(area->call_limit, std::max(samples, block_size));
    area->call_started = Seconds();
    // The runner's watchdog reads the depth first: written after the rest.
    __atomic_store_n(&area->depth, 1, __ATOMIC_RELEASE);
}

void EndCall() {
    if (g_area != nullptr && g_area->depth > 0) __atomic_store_n(&g_area->depth, g_area->depth - 1, __ATOMIC_RELEASE);
}

std::string DescribeCall(const sephost::CallNote& note) {
    char text[200];
    switch (note.kind) {
    case sephost::CallNote::kMakeModule:
        return "makeModule(0, 1)";
    case sephost::CallNote::kDispatcher: {
        const char* name = OpcodeName(note.opcode);
        std::snprintf(text, sizeof text, "dispatcher(%s%s%d, index %d, value %d, opt %s)", name != nullptr ? name : "",
                      name != nullptr ? " = " : "opcode ", static_cast<int>(note.opcode), static_cast<int>(note.index),
                      static_cast<int>(note.value), Number(note.opt).c_str());
        return text;
    }
    case sephost::CallNote::kProcess:
        std::snprintf(text, sizeof text, "process(start %d, count %d) at clock %u", static_cast<int>(note.start),
                      static_cast<int>(note.count), static_cast<unsigned>(note.clock));
        return text;
    case sephost::CallNote::kEvent:
        std::snprintf(text, sizeof text, "event(kind %d, pin %d, value %d) at clock %u", static_cast<int>(note.event_kind),
                      static_cast<int>(note.event_pin), static_cast<int>(note.event_value), static_cast<unsigned>(note.clock));
        return text;
    }
    return "";
}

}  // namespace sepcheck
