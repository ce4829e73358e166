// The event queue: delivery order by clock, then by queueing order.
#include <gtest/gtest.h>

#include "EventQueue.h"

namespace {

HostEvent At(uint32_t clock, int32_t tag) {
    HostEvent event{};
    event.time_stamp = clock;
    event.value_a = tag;
    event.next = &event;  // the host's copy must not keep a link
    return event;
}

TEST(EventQueue, OrdersByClockThenByQueueingOrder) {
    sephost::EventQueue queue;
    const std::vector<std::pair<uint32_t, int32_t>> pushed = {{40, 1}, {10, 2}, {40, 3}, {0, 4},
                                                              {10, 5}, {40, 6}, {7, 7}};
    for (const auto& p : pushed) queue.Push(At(p.first, p.second));
    const std::vector<int32_t> expected = {4, 7, 2, 5, 1, 3, 6};
    std::vector<int32_t> popped;
    while (!queue.Empty()) {
        const sephost::PendingEvent next = queue.Pop();
        EXPECT_EQ(next.event.next, nullptr);
        popped.push_back(next.event.value_a);
    }
    EXPECT_EQ(popped, expected);

    // TakeAll hands them over in the same order and empties the queue.
    for (const auto& p : pushed) queue.Push(At(p.first, p.second));
    std::vector<int32_t> taken;
    for (const auto& p : queue.TakeAll()) taken.push_back(p.event.value_a);
    EXPECT_EQ(taken, expected);
    EXPECT_TRUE(queue.Empty());
}

}  // namespace
