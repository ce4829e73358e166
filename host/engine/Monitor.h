// The contract monitor: it sees every callback a module makes and every
// process call and finished output block, owns every breach rule of the
// module's side of the contract, the callback trace and the kept callback
// records, and the host failures that stop a run. Commands add their own
// rules (MonitorRule) here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OutputSink.h"

namespace sephost {

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

// A rule added to the monitor. Each hook sees what happened after the host
// acted on it; Report adds lines for a summary, Failed fails the run's check.
class MonitorRule {
public:
    virtual ~MonitorRule() = default;
    virtual void OnCallback(const CallbackRecord&) {}
    virtual void OnProcess(int /*instance*/, uint32_t /*clock*/, int32_t /*start*/, int32_t /*count*/) {}
    virtual void OnOutputBlock(const OutputId&, uint32_t /*clock*/, const float* /*samples*/, int32_t /*count*/) {}
    virtual void Report(std::vector<std::string>* /*lines*/) const {}
    virtual bool Failed() const { return false; }
};

class ContractMonitor {
public:
    // `keep_records`: keep each callback (Records) up to `record_limit`;
    // reaching the limit stops the run.
    ContractMonitor(bool keep_records, size_t record_limit);

    // --- breach rules: true when the request is sound, else a breach ---
    bool PinInRange(int instance, int32_t pin, size_t pins, const char* what);
    bool StatusStampNotPast(int32_t pin, uint32_t stamp, uint32_t now);
    bool EventStampNotPast(int32_t kind, uint32_t stamp, uint32_t now);
    bool ProcessFunctionSet(int instance, const void* function);
    bool QueueHasRoom(int instance, size_t queued, size_t limit);
    bool EventsAtOneClockWithin(int instance, int32_t delivered, int32_t limit, uint32_t clock);
    void UnknownRecord(int caller, const void* record, int32_t opcode);
    const std::vector<std::string>& Breaches() const { return m_breaches; }

    // --- host failures: the run stops at once ---
    void Stop(const std::string& reason);
    // Allocates nothing: for when the host ran out of memory answering or
    // recording a callback.
    void StopOutOfMemory() noexcept { m_out_of_memory = true; }
    bool Stopped() const { return m_out_of_memory || !m_stop_reason.empty(); }
    std::string StopReason() const;

    // --- what the engine reports ---
    void SawCallback(const CallbackRecord& record);
    void SawProcess(int instance, uint32_t clock, int32_t start, int32_t count);
    void SawOutputBlock(const OutputId& output, uint32_t clock, const float* samples, int32_t count);

    // --- trace, records, counts, rules ---
    // Each callback is handed to `trace` as it happens (nothing is kept).
    void SetTrace(std::function<void(const CallbackRecord&)> trace) { m_trace = std::move(trace); }
    const std::vector<CallbackRecord>& Records() const { return m_records; }
    void ClearRecords() { m_records.clear(); }
    size_t CallbackCount(int32_t opcode) const;
    size_t ProcessCallCount() const { return m_process_calls; }
    void AddRule(std::unique_ptr<MonitorRule> rule) { m_rules.push_back(std::move(rule)); }
    const std::vector<std::unique_ptr<MonitorRule>>& Rules() const { return m_rules; }

private:
    void Breach(const std::string& text) { m_breaches.push_back(text); }

    bool m_keep_records;
    size_t m_record_limit;
    std::vector<CallbackRecord> m_records;
    std::vector<std::string> m_breaches;
    std::string m_stop_reason;
    bool m_out_of_memory = false;
    std::function<void(const CallbackRecord&)> m_trace;
    std::vector<std::unique_ptr<MonitorRule>> m_rules;
    std::vector<size_t> m_counts;  // by opcode, for the opcodes in the callback table
    size_t m_process_calls = 0;
};

}  // namespace sephost
