// The callback answered from fields, as the check's minimal host, the tests'
// scripted host and the benchmark rig configure it.
#include <gtest/gtest.h>

#include "SepHost.h"

namespace {

// Records standing in for three clones; only their addresses matter.
HostRecord g_clones[3];

TEST(CallbackAnswers, ClonesAreWalkedInOrderFromAnyOfThem) {
    sephost::CallbackAnswers answers;
    answers.clones = {&g_clones[0], &g_clones[1], &g_clones[2]};
    const struct {
        int32_t opcode;
        HostRecord* from;
        HostRecord* expected;
    } cases[] = {
        {SE_CB_FIRST_CLONE, &g_clones[2], &g_clones[0]},
        {SE_CB_NEXT_CLONE, &g_clones[0], &g_clones[1]},
        {SE_CB_NEXT_CLONE, &g_clones[1], &g_clones[2]},
        {SE_CB_NEXT_CLONE, &g_clones[2], nullptr},
        {SE_CB_NEXT_CLONE, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        HostRecord* answer = &g_clones[1];  // stale: the answer must overwrite it
        EXPECT_EQ(answers.Answer(c.from, c.opcode, 0, 0, &answer, 0.0f), 0);
        EXPECT_EQ(answer, c.expected) << "opcode " << c.opcode << " from clone " << (c.from - g_clones);
    }
    answers.clones.clear();
    HostRecord* answer = &g_clones[1];
    answers.Answer(&g_clones[0], SE_CB_FIRST_CLONE, 0, 0, &answer, 0.0f);
    EXPECT_EQ(answer, nullptr) << "no clones: no first";
    // A null answer address is not written through.
    EXPECT_EQ(answers.Answer(&g_clones[0], SE_CB_FIRST_CLONE, 0, 0, nullptr, 0.0f), 0);
}

TEST(CallbackAnswers, ValuesBuffersAndRecords) {
    float buffer[4] = {};
    sephost::CallbackAnswers answers;
    answers.pin_count = 3;
    answers.sample_clock = 96;
    answers.buffer_clock = 64;
    answers.is_connected = 1;
    answers.pin_buffers = {buffer, nullptr};
    const intptr_t address = reinterpret_cast<intptr_t>(buffer);
    const struct {
        int32_t opcode;
        int32_t index;
        int32_t expected;
    } cases[] = {
        {SE_CB_PIN_COUNT, 0, 3},
        {SE_CB_SAMPLE_CLOCK, 0, 96},
        {SE_CB_BUFFER_CLOCK, 1, 64},
        {SE_CB_IS_CONNECTED, 2, 1},
        {SE_CB_PIN_BUFFER, 0, int32_t(address)},
        {SE_CB_PIN_BUFFER, 1, 0},
        {SE_CB_PIN_BUFFER, 2, 0},
        {SE_CB_PIN_BUFFER, -1, 0},
        {SE_CB_PIN_STATUS, 0, 0},
        {SE_CB_PROCESS_CHANGED, 0, 0},
        {12345, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(answers.Answer(&g_clones[0], c.opcode, c.index, 0, nullptr, 0.0f), c.expected)
            << "opcode " << c.opcode << " index " << c.index;
    EXPECT_EQ(answers.calls.size(), sizeof cases / sizeof cases[0]);
    EXPECT_EQ(answers.Count(SE_CB_PIN_BUFFER), 4);
    EXPECT_EQ(answers.CallsOf(SE_CB_BUFFER_CLOCK).at(0).clock, 96u);

    HostEvent event = {};
    event.time_stamp = 100;
    event.kind = EV_PIN_STATUS;
    answers.Answer(&g_clones[0], SE_CB_ADD_EVENT, 0, 0, &event, 0.0f);
    answers.Answer(&g_clones[0], SE_CB_ADD_EVENT, 0, 0, nullptr, 0.0f);
    ASSERT_EQ(answers.events.size(), 1u);
    EXPECT_EQ(answers.events[0].time_stamp, 100u);

    // Recording off: nothing grows, sleep requests are still counted.
    answers.record = false;
    const size_t calls = answers.calls.size();
    answers.Answer(&g_clones[0], SE_CB_ADD_EVENT, 0, 0, &event, 0.0f);
    answers.Answer(&g_clones[0], SE_CB_SLEEP, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(answers.calls.size(), calls);
    EXPECT_EQ(answers.events.size(), 1u);
    EXPECT_EQ(answers.sleep_requests, 1);
}

}  // namespace
