// The contract monitor: breach texts name the call that broke the contract
// and the clocks or values involved.
#include "Monitor.h"

#include <cstdio>

namespace sephost {

namespace {
// Callback opcodes are small numbers; anything above is counted as one.
constexpr size_t kCountedOpcodes = 64;
}  // namespace

ContractMonitor::ContractMonitor(bool keep_records, size_t record_limit)
    : m_keep_records(keep_records), m_record_limit(record_limit), m_counts(kCountedOpcodes + 1, 0) {}

bool ContractMonitor::PinInRange(int instance, int32_t pin, size_t pins, const char* what) {
    if (pin >= 0 && static_cast<size_t>(pin) < pins) return true;
    Breach(std::string(what) + " on pin " + std::to_string(pin) + " out of range (instance " +
           std::to_string(instance) + " has " + std::to_string(pins) + " pins)");
    return false;
}

bool ContractMonitor::StatusStampNotPast(int32_t pin, uint32_t stamp, uint32_t now) {
    if (stamp >= now) return true;
    Breach("pin status on pin " + std::to_string(pin) + " stamped at clock " + std::to_string(stamp) +
           " before the current clock " + std::to_string(now));
    return false;
}

bool ContractMonitor::EventStampNotPast(int32_t kind, uint32_t stamp, uint32_t now) {
    if (stamp >= now) return true;
    Breach("event of kind " + std::to_string(kind) + " stamped at clock " + std::to_string(stamp) +
           " before the current clock " + std::to_string(now));
    return false;
}

bool ContractMonitor::ProcessFunctionSet(int instance, const void* function) {
    if (function != nullptr) return true;
    Breach("process function of instance " + std::to_string(instance) + " changed to null");
    return false;
}

bool ContractMonitor::QueueHasRoom(int instance, size_t queued, size_t limit) {
    if (queued < limit) return true;
    Breach("instance " + std::to_string(instance) + " has " + std::to_string(queued) +
           " events waiting, the most the host keeps; the event was dropped");
    return false;
}

bool ContractMonitor::EventsAtOneClockWithin(int instance, int32_t delivered, int32_t limit, uint32_t clock) {
    if (delivered <= limit) return true;
    Breach("more than " + std::to_string(limit) + " events for instance " + std::to_string(instance) + " at clock " +
           std::to_string(clock) + "; the rest were dropped");
    return false;
}

void ContractMonitor::UnknownRecord(int caller, const void* record, int32_t opcode) {
    char address[32];
    std::snprintf(address, sizeof address, "%p", record);
    Breach("instance " + std::to_string(caller) + " called back (opcode " + std::to_string(opcode) +
           ") with a record the host never made (" + address + "); answered 0");
}

void ContractMonitor::Stop(const std::string& reason) {
    if (m_stop_reason.empty()) m_stop_reason = reason;
}

std::string ContractMonitor::StopReason() const {
    if (!m_stop_reason.empty()) return m_stop_reason;
    return m_out_of_memory ? "the host ran out of memory answering or recording a callback; the run was stopped" : "";
}

void ContractMonitor::SawCallback(const CallbackRecord& record) {
    const size_t slot = record.opcode >= 0 && static_cast<size_t>(record.opcode) < kCountedOpcodes
                            ? static_cast<size_t>(record.opcode)
                            : kCountedOpcodes;
    ++m_counts[slot];
    if (m_trace) m_trace(record);
    if (m_keep_records) {
        if (m_records.size() >= m_record_limit) {
            Stop("the host keeps at most " + std::to_string(m_record_limit) +
                 " callback records; the run was stopped at clock " + std::to_string(record.clock));
        } else {
            m_records.push_back(record);
        }
    }
    for (const auto& rule : m_rules) rule->OnCallback(record);
}

void ContractMonitor::SawProcess(int instance, uint32_t clock, int32_t start, int32_t count) {
    ++m_process_calls;
    for (const auto& rule : m_rules) rule->OnProcess(instance, clock, start, count);
}

void ContractMonitor::SawOutputBlock(const OutputId& output, uint32_t clock, const float* samples, int32_t count) {
    for (const auto& rule : m_rules) rule->OnOutputBlock(output, clock, samples, count);
}

size_t ContractMonitor::CallbackCount(int32_t opcode) const {
    if (opcode < 0 || static_cast<size_t>(opcode) >= kCountedOpcodes) return m_counts[kCountedOpcodes];
    return m_counts[static_cast<size_t>(opcode)];
}

}  // namespace sephost
