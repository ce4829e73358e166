// The contract-monitor rule of the statuses a module announces on its sample
// outputs (SE_CB_PIN_STATUS), each in force from the clock it is stamped
// with. Outputs start out still (ST_STILL), as if never announced.
//   sleep    a module asks to sleep (SE_CB_SLEEP) only while none of its
//            outputs was last announced ST_STREAMING;
//   still    an output's sample differs from the one before it only while
//            announced streaming, or within one block size from the clock
//            of an ST_CHANGED_ONCE: the count-down a module runs before it
//            asks to sleep, in which its output settles; still after it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SepHost.h"

namespace sepcheck {

class StatusRule : public sephost::MonitorRule {
public:
    // The sample outputs of every instance, by table index, with their names.
    struct Output {
        sephost::OutputId id;
        std::string name;
    };
    StatusRule(const std::vector<Output>& outputs, int32_t block_size);

    void OnCallback(const sephost::CallbackRecord& record) override;
    void OnOutputBlock(const sephost::OutputId& id, uint32_t clock, const float* samples, int32_t count) override;
    void Report(std::vector<std::string>* lines) const override;
    bool Failed() const override { return !m_sleep_break.empty() || !m_still_break.empty(); }

    // "instance 0 asked to sleep at clock 512 while output pin 1 was announced streaming"
    const std::string& SleepBreak() const { return m_sleep_break; }
    // "instance 0 "out" (pin 1) changed at clock 3 from 0 to 0.25 while announced still (never announced)"
    const std::string& StillBreak() const { return m_still_break; }
    size_t Sleeps() const { return m_sleeps; }
    size_t Changes() const { return m_changes; }

private:
    struct Track {
        std::string name;
        int32_t last_announced = ST_STILL;    // for the sleep rule: the last announcement, whatever its stamp
        bool ever_announced = false;          // an announcement is in force
        int32_t in_force = ST_STILL;          // at the last sample seen
        uint32_t settles_until = 0;           // end of the count-down after an ST_CHANGED_ONCE
        std::map<uint32_t, int32_t> pending;  // announcements by stamp, not yet reached
        bool has_previous = false;
        float previous = 0.0f;
    };
    std::map<int, std::map<int32_t, Track>> m_outputs;  // instance -> output pin
    std::string m_sleep_break, m_still_break;
    size_t m_sleeps = 0, m_changes = 0;
    uint32_t m_block_size;
};

}  // namespace sepcheck
