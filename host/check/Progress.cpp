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

std::string Prefix(const sephost::CallNote& note) {
    return note.instance >= 0 ? "instance " + std::to_string(note.instance) + " " : "";
}

void Watch(const sephost::CallNote* note) {
    if (note == nullptr)
        EndCall();
    else
        BeginCall(*note);
}

}  // namespace

void ClearProgress(ProgressArea* area) {
    *area = ProgressArea();
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

double CallBound(const ProgressArea& area) {
    const int32_t samples = area.note.kind == sephost::CallNote::kProcess
                                ? std::max(area.note.count, area.note.block_size)
                                : area.note.block_size;
    return area.call_limit * std::max(1.0, samples / 1024.0);
}

void BeginCall(const sephost::CallNote& note) {
    ProgressArea* area = g_area;
    if (area == nullptr) return;
    if (area->depth > 0) {  // a nested call: the outermost is the one that hangs
        ++area->depth;
        return;
    }
    area->note = note;
    area->noted = 1;
    ++area->sequence;
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
        return Prefix(note) + "makeModule(0, 1)";
    case sephost::CallNote::kDispatcher: {
        const char* name = OpcodeName(note.opcode);
        std::snprintf(text, sizeof text, "dispatcher(%s%s%d, index %d, value %d, opt %s)", name != nullptr ? name : "",
                      name != nullptr ? " = " : "opcode ", static_cast<int>(note.opcode), static_cast<int>(note.index),
                      static_cast<int>(note.value), Number(note.opt).c_str());
        return Prefix(note) + text;
    }
    case sephost::CallNote::kProcess:
        std::snprintf(text, sizeof text, "process(start %d, count %d) at clock %u", static_cast<int>(note.start),
                      static_cast<int>(note.count), static_cast<unsigned>(note.clock));
        return Prefix(note) + text;
    case sephost::CallNote::kEvent:
        std::snprintf(text, sizeof text, "event(kind %d, pin %d, value %d) at clock %u",
                      static_cast<int>(note.event_kind), static_cast<int>(note.event_pin),
                      static_cast<int>(note.event_value), static_cast<unsigned>(note.clock));
        return Prefix(note) + text;
    }
    return "";
}

}  // namespace sepcheck
