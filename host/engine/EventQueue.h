// The events waiting for one instance, in delivery order: by sample clock,
// then in the order they were queued. A binary heap: queueing and taking the
// next event cost O(log n), so a module that queues many events at one clock
// costs the host n log n, not n squared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

#include "../se_sdk2/SEHostInterface.h"

namespace sephost {

// What the host does when a queued event falls due.
enum class EventAction {
    kDeliver,              // hand the event to the instance
    kWriteIntThenDeliver,  // write `int_value` into the pin's variable first
    kAnnounce,             // the initial announcement: the status is decided when due
};

struct PendingEvent {
    HostEvent event;
    uint64_t seq;
    EventAction action;
    int32_t int_value;
};

class EventQueue {
public:
    void Push(const HostEvent& event, EventAction action = EventAction::kDeliver, int32_t int_value = 0);
    bool Empty() const { return m_heap.empty(); }
    size_t Size() const { return m_heap.size(); }
    const PendingEvent& Next() const { return m_heap.top(); }
    PendingEvent Pop();
    // Every waiting event, in delivery order; the queue is left empty.
    std::vector<PendingEvent> TakeAll();

private:
    struct Later {
        bool operator()(const PendingEvent& a, const PendingEvent& b) const {
            if (a.event.time_stamp != b.event.time_stamp) return a.event.time_stamp > b.event.time_stamp;
            return a.seq > b.seq;
        }
    };
    std::priority_queue<PendingEvent, std::vector<PendingEvent>, Later> m_heap;
    uint64_t m_next_seq = 0;
};

}  // namespace sephost
