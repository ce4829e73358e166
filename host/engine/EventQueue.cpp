// The per-instance event queue.
#include "EventQueue.h"

namespace sephost {

void EventQueue::Push(const HostEvent& event, EventAction action, int32_t int_value) {
    PendingEvent pending{event, m_next_seq++, action, int_value};
    pending.event.next = nullptr;  // the host's copy links to nothing
    m_heap.push(pending);
}

PendingEvent EventQueue::Pop() {
    PendingEvent next = m_heap.top();
    m_heap.pop();
    return next;
}

std::vector<PendingEvent> EventQueue::TakeAll() {
    std::vector<PendingEvent> all;
    all.reserve(m_heap.size());
    while (!m_heap.empty()) all.push_back(Pop());
    return all;
}

}  // namespace sephost
