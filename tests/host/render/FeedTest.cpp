// RenderHost::Feed, in process with the probe module: a node's samples reach
// a module input exactly, as a streamed input while they move (one
// ST_STREAMING at the first sample that moves) and a still one once a whole
// block holds (ST_CHANGED_ONCE at its first clock); a single step that holds
// is one still change at its sample.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "../ProbeModule.h"
#include "RenderHost.h"

namespace {

using sephost::render::RenderHost;

TEST(RenderFeed, StreamsWhileMovingAndStillsAtRest) {
    probe::Reset();
    const auto library = sephost::Library::FromFunctions(&probe::GetModuleProperties, &probe::MakeModule, "probe");
    RenderHost host(1000.0f, 16);
    std::string error;
    const int instance = host.Place(*library, 1, &error);
    ASSERT_GE(instance, 0) << error;
    const int feed = host.AddFeed(instance, probe::PIN_IN);
    const int tap = host.Tap(instance, probe::PIN_OUT);
    ASSERT_TRUE(host.Open(&error)) << error;
    // Block 0 holds 0.25 (the starting value: nothing to tell); block 1
    // moves from its sample 5 on; block 2 moves on; blocks 3 and 4 hold the
    // value block 2 ended on; then steps (below).
    std::vector<std::vector<float>> blocks(6, std::vector<float>(16, 0.25f));
    for (int k = 5; k < 16; ++k) blocks[1][static_cast<size_t>(k)] = 0.25f + 0.01f * static_cast<float>(k);
    for (int k = 0; k < 16; ++k) blocks[2][static_cast<size_t>(k)] = -0.5f + 0.03f * static_cast<float>(k);
    blocks[3].assign(16, blocks[2].back());
    blocks[4] = blocks[3];
    blocks[5].assign(16, 0.75f);
    blocks.push_back(std::vector<float>(16, 0.5f));
    std::fill(blocks[6].begin(), blocks[6].begin() + 3, 0.75f);
    blocks.push_back(std::vector<float>(16, 0.25f));
    std::fill(blocks[7].begin() + 8, blocks[7].end(), 0.125f);
    blocks.push_back(std::vector<float>(16, 0.125f));
    for (size_t b = 0; b < blocks.size(); ++b) {
        host.Feed(feed, blocks[b].data(), 16);
        ASSERT_TRUE(host.RunBlock(16, &error)) << error;
        const float* out = host.TapBlock(tap);
        for (size_t k = 0; k < 16; ++k) ASSERT_EQ(out[k], blocks[b][k]) << "block " << b << " sample " << k;
    }
    std::vector<std::pair<uint32_t, int32_t>> statuses;  // (clock, status) of "in" after the start
    for (const probe::Entry& e : probe::TheScript().log)
        if (e.what == probe::LOG_STATUS && e.a == probe::PIN_IN && e.clock > 0) statuses.push_back({e.clock, e.b});
    const std::vector<std::pair<uint32_t, int32_t>> expected = {
        {21, ST_STREAMING},      // block 1's sample 5: the first that moves
        {48, ST_CHANGED_ONCE},   // block 3 holds: still from its first clock
        {80, ST_CHANGED_ONCE},   // block 5 steps at once and holds: one still change
        {99, ST_CHANGED_ONCE},   // block 6 steps at its sample 3
        {112, ST_STREAMING},     // block 7 steps twice: it moves
        {128, ST_CHANGED_ONCE},  // block 8 holds block 7's last value
    };
    EXPECT_EQ(statuses, expected);
    host.Close();
}

}  // namespace
