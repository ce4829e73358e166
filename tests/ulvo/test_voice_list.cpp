// Voice list: documented sequences, the link invariant after random
// sequences, and indexes or polyphonies the list must not trip over.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "UlvoVoiceList.h"

namespace {

using ulvo::UlvoVoiceList;

// Voices from the old end to the new end, following m_next.
std::vector<int> Chain(const UlvoVoiceList& list) {
    std::vector<int> order;
    for (int v = list.m_oldest; v >= 0 && order.size() <= 24; v = list.m_next[v]) order.push_back(v);
    return order;
}

// Empty string when the list is consistent, else what is wrong.
std::string Broken(const UlvoVoiceList& list) {
    std::ostringstream why;
    const std::vector<int> chain = Chain(list);
    if (static_cast<int32_t>(chain.size()) != list.m_count)
        why << "chain length " << chain.size() << " vs count " << list.m_count << "; ";
    if ((list.m_oldest < 0) != (list.m_newest < 0)) why << "ends disagree on emptiness; ";
    if (!chain.empty() && chain.back() != list.m_newest) why << "chain does not end at m_newest; ";
    for (size_t k = 0; k < chain.size(); ++k) {
        const int expected_prev = k == 0 ? chain[0] : chain[k - 1];
        if (list.m_prev[chain[k]] != expected_prev) why << "m_prev[" << chain[k] << "] wrong; ";
    }
    int listed = 0;
    for (int v = 0; v < 24; ++v) listed += list.m_prev[v] >= 0 ? 1 : 0;
    if (listed != list.m_count) why << listed << " voices with m_prev set vs count " << list.m_count << "; ";
    return why.str();
}

TEST(UlvoVoiceList, ConstructionClearsEveryEntry) {
    const UlvoVoiceList list(44100.0f);
    EXPECT_DOUBLE_EQ(list.m_fade_step, 20.0 / 44100.0);
    EXPECT_EQ(list.m_count, 0);
    EXPECT_EQ(list.m_newest, -1);
    EXPECT_EQ(list.m_oldest, -1);
    for (int v = 0; v < 24; ++v) {
        EXPECT_EQ(list.m_prev[v], -1);
        EXPECT_EQ(list.m_next[v], -1);
        EXPECT_EQ(list.m_stolen[v], 0);
    }
    EXPECT_EQ(list.m_incr, 0.0f);
    EXPECT_EQ(list.m_rotation, 0.0f);
}

TEST(UlvoVoiceList, PolyOneStealsTheSingleVoiceEvenWhenItRestarts) {
    UlvoVoiceList list(44100.0f);
    list.StartVoice(0, 1);
    list.StartVoice(1, 1);
    EXPECT_EQ(list.m_stolen[0], 1);
    EXPECT_EQ(Chain(list), std::vector<int>({1}));
    list.StartVoice(1, 1);  // stolen and appended again
    EXPECT_EQ(list.m_stolen[1], 0);
    EXPECT_EQ(Chain(list), std::vector<int>({1}));
    EXPECT_EQ(list.m_count, 1);
    EXPECT_EQ(Broken(list), "");
}

TEST(UlvoVoiceList, PolyTwoSequences) {
    {
        UlvoVoiceList list(44100.0f);
        list.StartVoice(0, 2);
        list.StartVoice(1, 2);
        list.StartVoice(2, 2);
        EXPECT_EQ(list.m_stolen[0], 1);
        EXPECT_EQ(Chain(list), std::vector<int>({1, 2}));
        EXPECT_EQ(list.m_count, 2);
        EXPECT_EQ(Broken(list), "");

        // released voice 2 goes to the old end and is the next one stolen
        list.ReleaseVoice(2);
        EXPECT_EQ(Chain(list), std::vector<int>({2, 1}));
        list.StartVoice(3, 2);
        EXPECT_EQ(list.m_stolen[2], 1);
        EXPECT_EQ(Chain(list), std::vector<int>({1, 3}));
        EXPECT_EQ(Broken(list), "");

        // a stolen voice that starts again loses its flag
        list.StartVoice(0, 2);
        EXPECT_EQ(list.m_stolen[0], 0);
        EXPECT_EQ(list.m_stolen[1], 1);
        EXPECT_EQ(Chain(list), std::vector<int>({3, 0}));
    }
    {
        // a full list steals its oldest even for a restart of a listed voice
        UlvoVoiceList list(44100.0f);
        list.StartVoice(0, 2);
        list.StartVoice(1, 2);
        list.StartVoice(1, 2);
        EXPECT_EQ(list.m_stolen[0], 1);
        EXPECT_EQ(Chain(list), std::vector<int>({1}));
        EXPECT_EQ(list.m_count, 1);
        EXPECT_EQ(Broken(list), "");
    }
}

TEST(UlvoVoiceList, PolyThreeRestartOfAReleasedVoiceMovesIt) {
    UlvoVoiceList list(44100.0f);
    list.StartVoice(1, 3);
    list.StartVoice(2, 3);
    list.ReleaseVoice(2);
    EXPECT_EQ(Chain(list), std::vector<int>({2, 1}));
    list.StartVoice(2, 3);
    EXPECT_EQ(Chain(list), std::vector<int>({1, 2}));
    EXPECT_EQ(list.m_stolen[1] + list.m_stolen[2], 0);
    EXPECT_EQ(Broken(list), "");

    // restart of the oldest of three moves it to the new end
    list.StartVoice(4, 3);
    list.StartVoice(1, 3);
    EXPECT_EQ(Chain(list), std::vector<int>({2, 4, 1}));
    EXPECT_EQ(Broken(list), "");
}

TEST(UlvoVoiceList, ReleaseOfUnlistedOrOldestChangesNothing) {
    UlvoVoiceList list(48000.0f);
    list.StartVoice(5, 4);
    list.StartVoice(6, 4);
    list.ReleaseVoice(5);  // already the oldest
    list.ReleaseVoice(9);  // not listed
    EXPECT_EQ(Chain(list), std::vector<int>({5, 6}));
    EXPECT_EQ(list.m_count, 2);
    EXPECT_EQ(Broken(list), "");
}

TEST(UlvoVoiceList, OutOfRangeIndexesAndPolyphoniesAreHarmless) {
    UlvoVoiceList list(44100.0f);
    list.StartVoice(0, 0);  // poly 0 on an empty list: nothing to steal, no hang
    for (int16_t outside : {24, -1, 32000}) {
        list.StartVoice(outside, 2);
        list.ReleaseVoice(outside);
        EXPECT_FALSE(list.IsStolen(outside) || list.IsListed(outside));
    }
    EXPECT_EQ(Chain(list), std::vector<int>({0}));
    list.StartVoice(1, -7);  // counts as poly 1
    EXPECT_EQ(list.m_stolen[0], 1);
    EXPECT_EQ(Chain(list), std::vector<int>({1}));
    EXPECT_EQ(Broken(list), "");
}

TEST(UlvoVoiceList, InvariantHoldsAfterRandomSequences) {
    std::mt19937 random(2024);
    for (int run = 0; run < 200; ++run) {
        UlvoVoiceList list(44100.0f);
        const int16_t poly = static_cast<int16_t>(1 + random() % 16);
        for (int op = 0; op < 300; ++op) {
            const int16_t voice = static_cast<int16_t>(random() % 24);
            if (random() % 3 == 0) {
                list.ReleaseVoice(voice);
            } else {
                list.StartVoice(voice, poly);
                ASSERT_EQ(list.m_newest, voice) << "run " << run << " op " << op;
                ASSERT_EQ(list.m_stolen[voice], 0);
                ASSERT_LE(list.m_count, poly);
            }
            const std::string broken = Broken(list);
            ASSERT_EQ(broken, "") << "run " << run << " op " << op << " poly " << poly;
            for (int v = 0; v < 24; ++v)
                ASSERT_FALSE(list.m_stolen[v] != 0 && list.m_prev[v] >= 0) << "voice " << v << " stolen yet listed";
        }
    }
}

}  // namespace
